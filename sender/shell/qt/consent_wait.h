// SPDX-License-Identifier: GPL-3.0-or-later
// The wait for the desktop's permission to share the screen (the ScreenCast
// portal's dialog) at the sender's start, with the event loop running: a
// tray icon (or, headless, a line on standard error) says that the program
// waits for the desktop's answer, its Quit and a quit signal end the wait
// at once, and the portal's request and session are then closed, so the
// dialog goes away. With a stored permission the answer comes within
// milliseconds and nothing is shown.
//
// Threads: the GUI thread, before the tray controller's Init.
#pragma once

#include <memory>
#include <string>

#include "sender/capture/wayland/portal_screen_cast.h"

namespace qc {

struct ConsentWaitResult {
  std::unique_ptr<PortalScreenCast> cast;  // the started session; null when none
  bool quit = false;                       // the user quit while waiting
  std::string reason;                      // why there is no session, for the user
};

// gui: show a tray icon while waiting (else a line on standard error).
ConsentWaitResult WaitForScreenConsent(bool gui, const std::string& tokenPath,
                                       int answerTimeoutMs);

}  // namespace qc
