// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's Win32 tray view: the notification icon on the program's
// hidden window (shell/windows/tray_window.h), its clicks and pop-up menu, and
// the dialogs of qcsend.rc, all reported to the attached qcTray. Headless,
// the program uses the portable console view instead. GUI thread only.
#pragma once

#include <string>

#include "sender/shell/tray_view.h"
#include "sender/shell/windows/win_dialogs.h"
#include "shell/windows/tray_window.h"

namespace qc {

class WinTrayView : public TrayView {
 public:
  // Adds its handler to window, which must outlive the view.
  explicit WinTrayView(TrayWindow& window);
  ~WinTrayView() override;
  WinTrayView(const WinTrayView&) = delete;
  WinTrayView& operator=(const WinTrayView&) = delete;

  void Attach(qcTray& tray) { tray_ = &tray; }
  // For the message loop: a message of the modeless Starting dialog (Esc)
  // is taken, not dispatched.
  bool TakesMessage(MSG& msg) { return starting_.IsMessage(msg); }

  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override;
  ScreenRect TrayIconArea() const override;
  void SetMenu(const TrayMenu& menu) override { menu_ = menu; }

  void ShowStartingDialog() override { starting_.Show(); }
  void HideStartingDialog() override { starting_.Hide(); }
  void CloseStartingDialog() override { starting_.Close(); }
  void RunSettingsDialog(qcTray& tray) override { qc::RunSettingsDialog(tray); }
  AboutChoice RunAboutBox() override;
  void OpenUrl(const std::string& url) override;

 private:
  bool Handle(UINT msg, WPARAM wp, LPARAM lp);
  void ShowMenu();

  TrayWindow& window_;
  qcTray* tray_ = nullptr;
  TrayMenu menu_;
  bool iconAdded_ = false;
  HICON icons_[5] = {};  // resources 103 to 107: frames 0 to 3, paused
  StartingDialog starting_;
};

}  // namespace qc
