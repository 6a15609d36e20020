// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's Win32 tray view: the notification icon on the program's
// hidden window "Quillview Tray Class" (shell/windows/tray_window.h), its clicks
// (callback message WM_USER + 1), the menu of qvrecv.rc and its commands,
// and the dialogs, all reported to the attached qvTray. Headless, the
// program uses the portable console view instead. GUI thread only.
#pragma once

#include "receiver/shell/tray_view.h"
#include "shell/windows/tray_window.h"

namespace qc {

class WinReceiverView : public ReceiverTrayView {
 public:
  // Adds its handler to window, which must outlive the view.
  explicit WinReceiverView(TrayWindow& window);
  ~WinReceiverView() override;
  WinReceiverView(const WinReceiverView&) = delete;
  WinReceiverView& operator=(const WinReceiverView&) = delete;

  // False when the menu could not be made (logged).
  bool Created() const { return menu_ != nullptr; }

  void Attach(qvTray& tray) override { tray_ = &tray; }
  void SetTrayIcon(TrayImage image, const char* tip) override;
  void RemoveTrayIcon() override;
  void SetWindowItem(bool hideItem) override;
  void EnableReceivingItems(bool enabled) override;
  void SetFullScreenChecked(bool checked) override;
  void RunSettingsDialog() override;
  void RunAboutDialog() override;

 private:
  bool Handle(UINT msg, WPARAM wp, LPARAM lp);
  void ShowMenu();

  TrayWindow& window_;
  HMENU menu_ = nullptr;   // the tray menu resource
  HMENU popup_ = nullptr;  // its one pop-up
  qvTray* tray_ = nullptr;
  bool iconAdded_ = false;
};

}  // namespace qc
