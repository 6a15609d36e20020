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

// Ctrl+C, Ctrl+Break, the console's close box, log-off and shut-down call
// quit (on the console's own thread: it must only post work to the GUI
// thread). An empty function stops it; the system's default handling
// applies again.
inline void QuitOnConsoleEvents(std::function<void()> quit) {
  // The handler is removed before the function is cleared and installed
  // after it is set, so that the console's thread never finds it half made.
  if (!quit) SetConsoleCtrlHandler(detail::OnConsoleEvent, FALSE);
  const bool install = !detail::g_consoleQuit && quit;
  detail::g_consoleQuit = std::move(quit);
  if (install) SetConsoleCtrlHandler(detail::OnConsoleEvent, TRUE);
}

}  // namespace qc
