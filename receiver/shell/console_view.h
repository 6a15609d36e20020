// SPDX-License-Identifier: GPL-3.0-or-later
// The tray view of the headless receiver (qvrecv --headless): no window, no
// tray icon, no dialogs, no hot key. Message boxes and changes of the
// connection state go to standard error, so a terminal, a monitor script or
// a test sees them.
#pragma once

#include "receiver/shell/qt_view_base.h"
#include "shell/console_output.h"

namespace qc {

class ReceiverConsoleView : public ReceiverQtViewBase {
 public:
  // prefix: what starts every line (another program built on the receiver
  // writes its own name).
  explicit ReceiverConsoleView(const char* prefix = kReceiverStderrPrefix)
      : prefix_(prefix), state_{prefix} {}
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override;
  void SetWindowItem(bool) override {}
  void EnableReceivingItems(bool) override {}
  void SetFullScreenChecked(bool) override {}
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
  void RunSettingsDialog() override {}
  void RunAboutDialog() override {}
  bool RegisterHotKey(uint32_t) override { return false; }
  void UnregisterHotKey() override {}

 private:
  const char* prefix_;
  ConsoleStateLine state_;
};

}  // namespace qc
