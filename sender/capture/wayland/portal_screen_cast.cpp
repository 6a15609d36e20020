// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/wayland/portal_screen_cast.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "common/log_file.h"

namespace qc {

namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kScreenCast[] = "org.freedesktop.portal.ScreenCast";
constexpr char kRequest[] = "org.freedesktop.portal.Request";
constexpr uint32_t kSourceMonitor = 1;
constexpr uint32_t kCursorEmbedded = 2;
constexpr uint32_t kCursorMetadata = 4;
constexpr uint32_t kPersistUntilRevoked = 2;
// A method call itself (not the user's answer) must return within this.
constexpr uint64_t kCallTimeoutUs = 10'000'000;

// Skips to the value of `key` in an a{sv} the message is positioned at the
// start of; the variant is entered with `signature`. False when absent (the
// message is then past the array).
bool EnterVariant(sd_bus_message* m, const char* key, const char* signature) {
  if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return false;
  while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
    const char* name = nullptr;
    if (sd_bus_message_read_basic(m, 's', &name) < 0) return false;
    if (name != nullptr && std::strcmp(name, key) == 0) {
      return sd_bus_message_enter_container(m, 'v', signature) > 0;
    }
    if (sd_bus_message_skip(m, "v") < 0 || sd_bus_message_exit_container(m) < 0) return false;
  }
  return false;
}

void AppendString(sd_bus_message* m, const char* key, const std::string& value) {
  sd_bus_message_open_container(m, 'e', "sv");
  sd_bus_message_append_basic(m, 's', key);
  sd_bus_message_open_container(m, 'v', "s");
  sd_bus_message_append_basic(m, 's', value.c_str());
  sd_bus_message_close_container(m);
  sd_bus_message_close_container(m);
}

void AppendUint(sd_bus_message* m, const char* key, uint32_t value) {
  sd_bus_message_open_container(m, 'e', "sv");
  sd_bus_message_append_basic(m, 's', key);
  sd_bus_message_open_container(m, 'v', "u");
  sd_bus_message_append_basic(m, 'u', &value);
  sd_bus_message_close_container(m);
  sd_bus_message_close_container(m);
}

void AppendBool(sd_bus_message* m, const char* key, bool value) {
  int v = value ? 1 : 0;
  sd_bus_message_open_container(m, 'e', "sv");
  sd_bus_message_append_basic(m, 's', key);
  sd_bus_message_open_container(m, 'v', "b");
  sd_bus_message_append_basic(m, 'b', &v);
  sd_bus_message_close_container(m);
  sd_bus_message_close_container(m);
}

}  // namespace

struct PortalScreenCast::Pending {
  std::string path;
  bool answered = false;
  uint32_t response = 2;
  sd_bus_message* results = nullptr;  // referenced, positioned at the a{sv}

  ~Pending() {
    if (results != nullptr) sd_bus_message_unref(results);
  }
};

namespace {

int OnResponse(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* p = static_cast<PortalScreenCast::Pending*>(userdata);
  if (p->answered) return 0;
  uint32_t response = 2;
  if (sd_bus_message_read_basic(m, 'u', &response) < 0) response = 2;
  p->response = response;
  p->results = sd_bus_message_ref(m);
  p->answered = true;
  return 0;
}

}  // namespace

PortalScreenCast::PortalScreenCast() : cancelFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

PortalScreenCast::~PortalScreenCast() {
  Close();
  if (cancelFd_ >= 0) close(cancelFd_);
  if (fd_ >= 0) close(fd_);
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

bool PortalScreenCast::Available() {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t version = 0;
  int r = sd_bus_get_property_trivial(bus, kPortal, kPortalPath, kScreenCast, "version", &error,
                                      'u', &version);
  sd_bus_error_free(&error);
  sd_bus_flush_close_unref(bus);
  return r >= 0 && version >= 1;
}

void PortalScreenCast::Cancel() {
  cancelled_ = true;
  const uint64_t one = 1;
  if (cancelFd_ >= 0 && write(cancelFd_, &one, sizeof one) < 0) {
    // The counter is full: a wake-up is pending anyway.
  }
}

int PortalScreenCast::TakePipeWireFd() { return std::exchange(fd_, -1); }

void PortalScreenCast::Close() {
  if (bus_ == nullptr || session_.empty()) return;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_call_method(bus_, kPortal, session_.c_str(), "org.freedesktop.portal.Session", "Close",
                     &error, nullptr, "");
  sd_bus_error_free(&error);
  session_.clear();
}

// Sends one portal request and waits for its Response. Returns the
// response code (0 success, 1 refused, 2 other), -1 on a failed call, -2 on
// timeout, -3 when cancelled.
int PortalScreenCast::Request(const char* method, const std::string& token, int timeoutMs,
                              Pending& pending, const std::string& restoreToken) {
  pending.path = "/org/freedesktop/portal/desktop/request/" + sender_ + "/" + token;
  sd_bus_slot* slot = nullptr;
  if (sd_bus_match_signal(bus_, &slot, nullptr, pending.path.c_str(), kRequest, "Response",
                          OnResponse, &pending) < 0) {
    error_ = "cannot listen for the portal's answer";
    return -1;
  }
  sd_bus_message* call = nullptr;
  sd_bus_message_new_method_call(bus_, &call, kPortal, kPortalPath, kScreenCast, method);
  const bool create = std::strcmp(method, "CreateSession") == 0;
  if (!create) sd_bus_message_append_basic(call, 'o', session_.c_str());
  if (std::strcmp(method, "Start") == 0) sd_bus_message_append_basic(call, 's', "");
  sd_bus_message_open_container(call, 'a', "{sv}");
  AppendString(call, "handle_token", token);
  if (create) AppendString(call, "session_handle_token", token);
  if (std::strcmp(method, "SelectSources") == 0) {
    AppendUint(call, "types", kSourceMonitor);
    AppendBool(call, "multiple", false);
    if (cursorMode_ != 0) AppendUint(call, "cursor_mode", cursorMode_);
    AppendUint(call, "persist_mode", kPersistUntilRevoked);
    if (!restoreToken.empty()) AppendString(call, "restore_token", restoreToken);
  }
  sd_bus_message_close_container(call);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call(bus_, call, kCallTimeoutUs, &error, &reply);
  sd_bus_message_unref(call);
  if (r < 0) {
    error_ = std::string(method) + ": " + (error.message ? error.message : strerror(-r));
    sd_bus_error_free(&error);
    sd_bus_slot_unref(slot);
    return -1;
  }
  sd_bus_message_unref(reply);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!pending.answered && !cancelled_) {
    r = sd_bus_process(bus_, nullptr);
    if (r < 0) break;
    if (r > 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    // The bus's own deadline (a pending call's), on CLOCK_MONOTONIC.
    uint64_t busUs = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &busUs) >= 0 && busUs != UINT64_MAX) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      const uint64_t nowUs = static_cast<uint64_t>(now.tv_sec) * 1000000u +
                             static_cast<uint64_t>(now.tv_nsec) / 1000u;
      const auto busMs = static_cast<long long>(busUs > nowUs ? (busUs - nowUs + 999) / 1000 : 0);
      left = std::min<long long>(left, busMs);
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus_), static_cast<short>(sd_bus_get_events(bus_)), 0},
                     {cancelFd_, POLLIN, 0}};
    // A signal (SIGTERM while the dialog is open) ends only this wait.
    int w = poll(fds, cancelFd_ >= 0 ? 2 : 1, static_cast<int>(left));
    if (w < 0 && errno != EINTR) break;
  }
  sd_bus_slot_unref(slot);
  if (!pending.answered) {
    if (r < 0) {
      error_ = "lost the session bus";
      return -1;
    }
    // The request still waits for the user: withdraw it.
    sd_bus_call_method(bus_, kPortal, pending.path.c_str(), kRequest, "Close", nullptr, nullptr,
                       "");
    if (cancelled_) {
      error_ = std::string(method) + " was cancelled";
      return -3;
    }
    error_ = std::string("no answer to ") + method + " in time";
    return -2;
  }
  if (pending.response != 0) error_ = std::string(method) + " was refused";
  return static_cast<int>(pending.response);
}

PortalScreenCast::Result PortalScreenCast::Start(const std::string& restoreToken,
                                                 int timeoutMs) {
  if (sd_bus_open_user(&bus_) < 0) {
    error_ = "no session bus";
    return Result::NoPortal;
  }
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus_, &unique) < 0 || unique == nullptr) {
    error_ = "no name on the session bus";
    return Result::Failed;
  }
  sender_ = unique + 1;  // without the leading ':'
  for (char& c : sender_) {
    if (c == '.') c = '_';
  }
  sd_bus_error error = SD_BUS_ERROR_NULL;
  uint32_t version = 0, modes = 0;
  if (sd_bus_get_property_trivial(bus_, kPortal, kPortalPath, kScreenCast, "version", &error, 'u',
                                  &version) < 0) {
    error_ = std::string("no ScreenCast portal: ") + (error.message ? error.message : "");
    sd_bus_error_free(&error);
    return Result::NoPortal;
  }
  sd_bus_error_free(&error);
  if (sd_bus_get_property_trivial(bus_, kPortal, kPortalPath, kScreenCast,
                                  "AvailableCursorModes", &error, 'u', &modes) < 0) {
    modes = 0;
  }
  sd_bus_error_free(&error);
  cursorMode_ = (modes & kCursorMetadata) != 0   ? kCursorMetadata
                : (modes & kCursorEmbedded) != 0 ? kCursorEmbedded
                                                 : 0;
  cursorMetadata_ = cursorMode_ == kCursorMetadata;

  auto token = [this] { return "quillcast" + std::to_string(getpid()) + "_" + std::to_string(++counter_); };
  auto failed = [this](int r) {
    return r == -3   ? Result::Cancelled
           : r == -2 ? Result::TimedOut
           : r == 1  ? Result::Refused
                     : Result::Failed;
  };

  // The portal's answers come within a call's time, but for Start's.
  const int quickMs = static_cast<int>(kCallTimeoutUs / 1000);
  {
    Pending p;
    int r = Request("CreateSession", token(), quickMs, p, {});
    if (r != 0) return failed(r);
    const char* handle = nullptr;
    if (!EnterVariant(p.results, "session_handle", "s") ||
        sd_bus_message_read_basic(p.results, 's', &handle) < 0 || handle == nullptr) {
      error_ = "CreateSession gave no session";
      return Result::Failed;
    }
    session_ = handle;
  }
  {
    Pending p;
    int r = Request("SelectSources", token(), quickMs, p, restoreToken);
    if (r != 0) return failed(r);
  }
  {
    Pending p;
    int r = Request("Start", token(), timeoutMs, p, {});
    if (r != 0) return failed(r);
    // results: streams a(ua{sv}), restore_token s; in any order.
    sd_bus_message* m = p.results;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return Result::Failed;
    bool haveStream = false;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
      const char* key = nullptr;
      sd_bus_message_read_basic(m, 's', &key);
      if (key != nullptr && std::strcmp(key, "restore_token") == 0 &&
          sd_bus_message_enter_container(m, 'v', "s") > 0) {
        const char* value = nullptr;
        if (sd_bus_message_read_basic(m, 's', &value) >= 0 && value != nullptr) {
          restoreToken_ = value;
        }
        sd_bus_message_exit_container(m);
      } else if (key != nullptr && std::strcmp(key, "streams") == 0 &&
                 sd_bus_message_enter_container(m, 'v', "a(ua{sv})") > 0) {
        sd_bus_message_enter_container(m, 'a', "(ua{sv})");
        if (sd_bus_message_enter_container(m, 'r', "ua{sv}") > 0) {
          sd_bus_message_read_basic(m, 'u', &stream_.node);
          haveStream = true;
          sd_bus_message_enter_container(m, 'a', "{sv}");
          while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
            const char* prop = nullptr;
            sd_bus_message_read_basic(m, 's', &prop);
            bool position = prop != nullptr && std::strcmp(prop, "position") == 0;
            bool size = prop != nullptr && std::strcmp(prop, "size") == 0;
            if ((position || size) && sd_bus_message_enter_container(m, 'v', "(ii)") > 0) {
              int32_t a = 0, b = 0;
              sd_bus_message_read(m, "(ii)", &a, &b);
              if (position) {
                stream_.x = a;
                stream_.y = b;
              } else {
                stream_.width = a;
                stream_.height = b;
              }
              sd_bus_message_exit_container(m);
            } else {
              sd_bus_message_skip(m, "v");
            }
            sd_bus_message_exit_container(m);
          }
          sd_bus_message_exit_container(m);
          sd_bus_message_exit_container(m);
        }
        sd_bus_message_exit_container(m);
        sd_bus_message_exit_container(m);
      } else {
        sd_bus_message_skip(m, "v");
      }
      sd_bus_message_exit_container(m);
    }
    if (!haveStream) {
      error_ = "Start gave no stream";
      return Result::Failed;
    }
  }
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(bus_, kPortal, kPortalPath, kScreenCast, "OpenPipeWireRemote",
                             &error, &reply, "oa{sv}", session_.c_str(), 0);
  if (r < 0) {
    error_ = std::string("OpenPipeWireRemote: ") + (error.message ? error.message : "");
    sd_bus_error_free(&error);
    return Result::Failed;
  }
  int fd = -1;
  if (sd_bus_message_read_basic(reply, 'h', &fd) >= 0 && fd >= 0) {
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  }
  sd_bus_message_unref(reply);
  if (fd_ < 0) {
    error_ = "OpenPipeWireRemote gave no connection";
    return Result::Failed;
  }
  return Result::Started;
}

}  // namespace qc
