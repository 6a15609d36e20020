// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/wayland/portal_consent.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "common/log_file.h"

namespace qc {

std::string PortalConsent::ReadToken(const std::string& path) {
  if (path.empty()) return {};
  std::ifstream in(path);
  std::string token;
  std::getline(in, token);
  // A token is a short printable word; anything else is ignored.
  if (token.size() > 256 ||
      !std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; })) {
    return {};
  }
  return token;
}

void PortalConsent::WriteToken(const std::string& path, const std::string& token) {
  if (path.empty()) return;
  // The settings folder may not exist yet (nothing saved so far).
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::string temp = path + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    Log().Print("qcCapture: Cannot store the screen-sharing permission in %s\n", path.c_str());
    return;
  }
  std::string line = token + "\n";
  bool ok = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    Log().Print("qcCapture: Cannot store the screen-sharing permission in %s\n", path.c_str());
  }
}

PortalConsent::PortalConsent(std::string tokenPath, int answerTimeoutMs)
    : tokenPath_(std::move(tokenPath)), answerTimeoutMs_(answerTimeoutMs) {}

PortalConsent::~PortalConsent() {
  Cancel();
  Join();
}

void PortalConsent::Join() {
  if (thread_.joinable()) thread_.join();
}

void PortalConsent::Begin(std::function<void()> done) {
  thread_ = std::thread([this, done = std::move(done)] {
    Run();
    if (done) done();
  });
}

bool PortalConsent::Ask() {
  Run();
  return result_ == PortalScreenCast::Result::Started;
}

void PortalConsent::Cancel() {
  if (cast_) cast_->Cancel();
}

std::unique_ptr<PortalScreenCast> PortalConsent::TakeCast() {
  if (result_ != PortalScreenCast::Result::Started) return nullptr;
  return std::move(cast_);
}

void PortalConsent::Run() {
  const std::string stored = ReadToken(tokenPath_);
  using Result = PortalScreenCast::Result;
  result_ = cast_->Start(stored, answerTimeoutMs_);
  switch (result_) {
    case Result::Started:
      if (!cast_->RestoreToken().empty() && cast_->RestoreToken() != stored) {
        WriteToken(tokenPath_, cast_->RestoreToken());
      }
      return;
    case Result::NoPortal:
      Log().Print("qcCapture: No ScreenCast portal on the session bus (%s)\n",
                  cast_->Error().c_str());
      reason_ = "This desktop offers no screen sharing (no ScreenCast portal answers).";
      break;
    case Result::Refused:
      Log().Print("qcCapture: The desktop refused to share the screen; start again to be asked "
                  "again\n");
      reason_ = "The desktop did not allow sharing the screen.\nStart again to be asked again.";
      break;
    case Result::TimedOut:
      Log().Print("qcCapture: Nobody answered the desktop's screen-sharing dialog in time (%s); "
                  "start again to be asked again\n",
                  cast_->Error().c_str());
      reason_ =
          "Nobody answered the desktop's screen-sharing dialog in time.\n"
          "Start again to be asked again.";
      break;
    case Result::Cancelled:
      Log().Print("qcCapture: Stopped waiting for the desktop's screen-sharing dialog\n");
      reason_ = "Screen sharing was not started: the wait for the desktop's answer was cancelled.";
      break;
    case Result::Failed:
      Log().Print("qcCapture: The ScreenCast portal failed: %s\n", cast_->Error().c_str());
      reason_ = "The desktop's screen sharing failed; see the log file (Quillcast.log).";
      break;
  }
  // The desktop stops showing a half-made session at once.
  cast_->Close();
}

}  // namespace qc
