// SPDX-License-Identifier: GPL-3.0-or-later
// Asking the desktop for the screen: the ScreenCast portal's Start
// (PortalScreenCast) with the restore token kept next to the settings, the
// token it returns stored in its place, and on failure one or two sentences
// for the user saying why.
//
// With a valid token the desktop answers at once. Without one its dialog
// waits for the user, up to answerTimeoutMs: Begin asks on a thread of its
// own, so that the program's tray keeps working meanwhile and a Quit can
// Cancel the wait (the request is withdrawn and the session closed, so the
// dialog goes away). Ask does the same on the calling thread.
//
// Threads: everything on the owning thread (Cancel while Begin's thread
// asks); `done` runs on the asking thread, once, after the outcome is set
// (also after a Cancel).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sender/capture/wayland/portal_screen_cast.h"

namespace qc {

class PortalConsent {
 public:
  PortalConsent(std::string tokenPath, int answerTimeoutMs);
  ~PortalConsent();  // cancels a running Begin and waits for its thread
  PortalConsent(const PortalConsent&) = delete;
  PortalConsent& operator=(const PortalConsent&) = delete;

  void Begin(std::function<void()> done);
  // True when the desktop shares the screen.
  bool Ask();
  void Cancel();
  // Waits until Begin's thread has ended (at once after its `done`).
  void Join();

  // After `done` (or Ask): the result, and for anything but Started what
  // to tell the user (with one log line written).
  PortalScreenCast::Result Outcome() const { return result_; }
  const std::string& Reason() const { return reason_; }
  // The started session, for the screen source; null unless Started.
  std::unique_ptr<PortalScreenCast> TakeCast();

  // The stored restore token ("" when none or unusable), and storing one
  // (mode 0600, replaced atomically).
  static std::string ReadToken(const std::string& path);
  static void WriteToken(const std::string& path, const std::string& token);

 private:
  void Run();

  const std::string tokenPath_;
  const int answerTimeoutMs_;
  std::unique_ptr<PortalScreenCast> cast_ = std::make_unique<PortalScreenCast>();
  PortalScreenCast::Result result_ = PortalScreenCast::Result::Failed;
  std::string reason_;
  std::thread thread_;
};

}  // namespace qc
