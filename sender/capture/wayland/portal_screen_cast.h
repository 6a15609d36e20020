// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's ScreenCast portal (org.freedesktop.portal.ScreenCast) on the
// session bus, through sd-bus: CreateSession, SelectSources (one monitor,
// the cursor as metadata when offered, persist_mode 2 with the stored
// restore token), Start and OpenPipeWireRemote. What it yields is a
// PipeWire connection and the node of the monitor's stream.
//
// Without a valid restore token Start waits for the user's answer in the
// desktop's "share your screen" dialog; with one it answers at once. The
// new token it returns replaces the stored one.
//
// Threads: Start, the accessors and Close on one thread at a time (the
// thread that asks: PortalConsent's, or the engine's initialising thread);
// Cancel on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct sd_bus;

namespace qc {

class PortalScreenCast {
 public:
  enum class Result {
    Started,
    NoPortal,   // no session bus or no ScreenCast portal on it
    Refused,    // the user (or the desktop) said no
    TimedOut,   // no answer in time (the dialog is still open)
    Cancelled,  // Cancel was called while Start waited
    Failed,     // any other error; `error` says which
  };

  struct Stream {
    uint32_t node = 0;
    int x = 0, y = 0;           // the monitor's place in the layout, if known
    int width = 0, height = 0;  // its size, if known
  };

  PortalScreenCast();
  ~PortalScreenCast();  // closes the session
  PortalScreenCast(const PortalScreenCast&) = delete;
  PortalScreenCast& operator=(const PortalScreenCast&) = delete;

  // Asks for one monitor; restoreToken may be empty. timeoutMs bounds the
  // wait for each answer (Start's includes the user's).
  Result Start(const std::string& restoreToken, int timeoutMs);
  // After Started: the PipeWire connection (owned here until taken), the
  // stream, the token to store (empty: none given), whether the cursor
  // comes as metadata.
  int TakePipeWireFd();
  const Stream& StreamInfo() const { return stream_; }
  const std::string& RestoreToken() const { return restoreToken_; }
  bool CursorAsMetadata() const { return cursorMetadata_; }
  const std::string& Error() const { return error_; }

  // Whether a ScreenCast portal answers on the session bus.
  static bool Available();

  // Ends the session (the desktop stops showing that the screen is shared).
  void Close();
  // Makes a waiting (or the next) Start withdraw its request and return
  // Cancelled at once; the session is closed by Close or the destructor.
  // Any thread.
  void Cancel();

  struct Pending;  // a request waiting for its Response; for the callback

 private:
  int Request(const char* method, const std::string& token, int timeoutMs, Pending& pending,
              const std::string& restoreToken);

  sd_bus* bus_ = nullptr;
  std::string sender_;   // the unique name as the request paths spell it
  std::string session_;  // the session handle
  Stream stream_;
  std::string restoreToken_;
  bool cursorMetadata_ = false;
  uint32_t cursorMode_ = 0;
  int fd_ = -1;
  int cancelFd_ = -1;  // an eventfd that Cancel signals
  std::atomic<bool> cancelled_{false};
  int counter_ = 0;
  std::string error_;
};

}  // namespace qc
