// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend.exe's dialogs, from the templates of qcsend.rc: the settings dialog,
// the About box and the "Quillcast Starting..." wait dialog. The settings
// dialog's rules live in qcSettings (settings_dialog_logic.h), shared with
// the Linux dialog; the Win32 code only feeds it the controls' contents and
// shows its answers. The program that links these must link the resources
// (qcsend_resources) too. Everything here runs on the UI thread.
#pragma once

#include <windows.h>

#include <string>

namespace qc {

class qcTray;

// Registers the common control classes the templates use (up-down, hot key,
// combo box). Any number of calls; the dialogs call it themselves.
void EnsureCommonControls();

// The settings dialog, modal, without owner. Copies the controller's port
// and period, applies what changed through the controller's setters on OK
// and writes all settings. Returns IDOK or IDCANCEL (-1 when the dialog
// could not be made).
int RunSettingsDialog(qcTray& tray);

// The About box, modal, without owner: 1000 for "Check for &Updates...",
// 2 for "Close Window", Esc or the close box, 1 for IDOK.
int RunAboutBox();

// "Built on <compile date> at <compile time>", as the About box shows it.
std::string BuildStamp();

// The wait dialog shown during the start check. It is modeless, so that the
// start check's timer and the tray keep working in the program's own loop
// while it is up; that loop passes its messages through IsMessage (Esc).
class StartingDialog {
 public:
  StartingDialog() = default;
  ~StartingDialog() { Close(); }
  StartingDialog(const StartingDialog&) = delete;
  StartingDialog& operator=(const StartingDialog&) = delete;

  // Makes the dialog (once) and shows it in front.
  void Show();
  void Hide();
  void Close();
  bool IsOpen() const { return window_ != nullptr; }
  HWND Window() const { return window_; }
  // Lets the dialog handle msg (Esc ends it); true when it did.
  bool IsMessage(MSG& msg) { return window_ != nullptr && IsDialogMessageA(window_, &msg); }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp);
  HWND window_ = nullptr;
};

}  // namespace qc
