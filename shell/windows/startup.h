// SPDX-License-Identifier: GPL-3.0-or-later
// What the start-up of both Windows programs shares beyond shell/startup.h:
// the console events that end the program in order.
#pragma once

#include <windows.h>

#include <functional>

namespace qc {

namespace detail {
inline std::function<void()> g_consoleQuit;

inline BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (!g_consoleQuit) return FALSE;
  g_consoleQuit();
  // After these the system ends the process: give the quit time to run.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(2000);
  }
  return TRUE;
}
}  // namespace detail

// While it lives, Ctrl+C, Ctrl+Break, the console's close box, log-off and
// shut-down call quit (on the console's own thread: it must only post work
// to the GUI thread); then the system's default handling applies again.
// One at a time.
class QuitOnConsoleEvents {
 public:
  // The handler is installed after the function is set and removed before
  // it is cleared, so that the console's thread never finds it half made.
  explicit QuitOnConsoleEvents(std::function<void()> quit) {
    detail::g_consoleQuit = std::move(quit);
    SetConsoleCtrlHandler(detail::OnConsoleEvent, TRUE);
  }
  ~QuitOnConsoleEvents() {
    SetConsoleCtrlHandler(detail::OnConsoleEvent, FALSE);
    detail::g_consoleQuit = nullptr;
  }
  QuitOnConsoleEvents(const QuitOnConsoleEvents&) = delete;
  QuitOnConsoleEvents& operator=(const QuitOnConsoleEvents&) = delete;
};

}  // namespace qc
