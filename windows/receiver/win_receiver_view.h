// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's Win32 tray view: the hidden window "Quillview Tray Class"
// whose message loop runs the controller. The tray icon's clicks (callback
// message WM_USER + 1), the menu's commands, the blink and request timers,
// the hot key and posted tasks arrive as window messages and go to the
// attached qvTray. With headless set there is no tray icon, no dialog and no
// hot key, and message boxes only go to standard error (as the Linux
// --headless view does).
#pragma once

#include "receiver/shell/tray_view.h"
#include "shell/console_output.h"
#include "windows/tray_window.h"

namespace qc {

class WinReceiverView : public ReceiverTrayView {
 public:
  explicit WinReceiverView(bool headless);
  ~WinReceiverView() override;
  WinReceiverView(const WinReceiverView&) = delete;
  WinReceiverView& operator=(const WinReceiverView&) = delete;

  // False when the window or the menu could not be made (logged).
  bool Created() const { return window_.Handle() != nullptr && menu_ != nullptr; }
  // Runs the message loop until Quit; returns its exit code.
  int Run() { return window_.Run(); }

  void Attach(qvTray& tray) override { tray_ = &tray; }
  void Post(std::function<void()> fn) override { window_.Post(std::move(fn)); }
  void StartTimers() override;
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override;
  void SetWindowItem(bool hideItem) override;
  void EnableReceivingItems(bool enabled) override;
  void SetFullScreenChecked(bool checked) override;
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
  void RunSettingsDialog() override;
  void RunAboutDialog() override;
  bool RegisterHotKey(uint32_t code) override;
  void UnregisterHotKey() override;
  void Quit(int exitCode) override { PostQuitMessage(exitCode); }

 private:
  bool Handle(UINT msg, WPARAM wp, LPARAM lp);
  void ShowMenu();

  bool headless_;
  HMENU menu_ = nullptr;   // the tray menu resource
  HMENU popup_ = nullptr;  // its one pop-up
  qvTray* tray_ = nullptr;
  ConsoleStateLine state_;  // the headless state line
  // Last: destroyed first, while the members its handler uses still live.
  TrayWindow window_;
};

}  // namespace qc
