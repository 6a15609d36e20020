// SPDX-License-Identifier: GPL-3.0-or-later
// What both programs' controllers (qcTray, qvTray) ask of the event loop
// they run in: work posted to the UI thread, repeating timers, the end of
// the loop, global hotkeys and message boxes. QtUiServices
// (shell/qt/qt_ui_services.h) serves the Linux programs, the hidden window
// of shell/windows/tray_window.h the Windows ones, and the tests use a recording
// fake (tests/support/fake_ui_services.h). Built for the console
// (--headless, the browser gateway), an implementation shows no boxes.
//
// Threads: Post may be called from any thread. Everything else is called on
// the UI thread, where the ticks, the hotkey presses and the posted work
// run too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <string_view>

#include "shell/view_types.h"

namespace qc {

// The global hotkeys, by what they do.
enum class HotKey : int { StartStop = 0, Pause = 1, HideShow = 2 };

// How a program's UI services behave, fixed at start.
struct UiStyle {
  // Starts every line written to standard error ("qvrecv: "; "" for qcsend).
  const char* stderrPrefix = "";
  // Message boxes on the screen; false (the console): standard error only.
  bool boxes = true;
  // Hotkeys are grabbed when asked; false: never (RegisterHotKey fails).
  bool hotkeys = true;
  // Names the log lines about a missing or lost hotkey display ("qcTray");
  // null: none.
  const char* hotkeyLog = nullptr;
  // What each hotkey does, by HotKey id, for a desktop that binds hotkeys
  // itself and shows them to the user.
  std::vector<std::string> hotkeyNames;
};

class UiServices {
 public:
  virtual ~UiServices() = default;

  // Runs task later on the UI thread, in posting order. Any thread.
  virtual void Post(std::function<void()> task) = 0;
  // (Re)starts the repeating timer id (the caller's own numbering) with the
  // interval in ms (negative as 0); tick runs at every expiry.
  virtual void StartTimer(int id, int intervalMs, std::function<void()> tick) = 0;
  virtual void StopTimer(int id) = 0;
  // Ends the event loop with this exit code, also leaving a box or dialog
  // that is open.
  virtual void Quit(int exitCode) = 0;

  // Grabs the stored 16-bit code (virtual key in bits 0-7, the hot-key
  // control's modifier flags in bits 8-15) as hotkey id; pressed runs at
  // every press. False when there is no display for hotkeys or another
  // program holds the combination.
  virtual bool RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) = 0;
  virtual void UnregisterHotKey(HotKey id) = 0;

  // A modal box without owner with an OK button; returns when it is closed.
  // The text also goes to standard error ("<prefix><caption>: <text>"),
  // which is all the console gets.
  virtual void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) = 0;
};

}  // namespace qc
