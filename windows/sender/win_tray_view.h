// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's Win32 view: a hidden top-level window whose message loop runs
// the controller. Posted tasks, timers, hotkeys, the tray icon's clicks and
// WM_DISPLAYCHANGE arrive as window messages and go to the attached qcTray.
// The icons and dialogs come from qcsend.rc. With headless set there is no
// tray icon and no dialog, and message boxes only go to standard error (as
// the Linux --headless view does).
#pragma once

#include <string>

#include "sender/shell/tray_view.h"
#include "shell/console_output.h"
#include "windows/sender/win_dialogs.h"
#include "windows/tray_window.h"

namespace qc {

class WinTrayView : public TrayView {
 public:
  explicit WinTrayView(bool headless);
  ~WinTrayView() override;
  WinTrayView(const WinTrayView&) = delete;
  WinTrayView& operator=(const WinTrayView&) = delete;

  // False when the window could not be made.
  bool Created() const { return window_.Handle() != nullptr; }
  void Attach(qcTray& tray) { tray_ = &tray; }
  // Runs the message loop until Quit.
  int Run();

  void PostToUi(std::function<void()> task) override { window_.Post(std::move(task)); }
  void StartTimer(TimerId id, int intervalMs) override;
  void StopTimer(TimerId id) override;
  void Quit() override { PostQuitMessage(0); }

  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override;
  ScreenRect TrayIconArea() const override;
  void SetMenu(const TrayMenu& menu) override { menu_ = menu; }

  void ShowMessage(const char* caption, const std::string& text, MessageIcon icon) override;

  void ShowStartingDialog() override;
  void HideStartingDialog() override { starting_.Hide(); }
  void CloseStartingDialog() override { starting_.Close(); }
  void RunSettingsDialog(qcTray& tray) override;
  int RunAboutBox() override;
  void OpenUrl(const std::string& url) override;

  void RegisterHotKey(int index, uint32_t code) override { window_.RegisterHotKey(index, code); }
  void UnregisterHotKey(int index) override { window_.UnregisterHotKey(index); }

 private:
  bool Handle(UINT msg, WPARAM wp, LPARAM lp);
  void ShowMenu();

  bool headless_;
  qcTray* tray_ = nullptr;
  TrayMenu menu_;
  bool iconAdded_ = false;
  HICON icons_[5] = {};  // resources 103 to 107: frames 0 to 3, paused
  StartingDialog starting_;
  ConsoleStateLine state_{""};  // the headless state line
  // Last: destroyed first, while the members its handler uses still live.
  TrayWindow window_;
};

}  // namespace qc
