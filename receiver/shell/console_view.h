// SPDX-License-Identifier: GPL-3.0-or-later
// The tray view of the headless receiver (qvrecv --headless, on Linux and
// on Windows, and the browser gateway): no tray icon, no menu, no dialogs.
// Changes of the connection state go to standard error, so a terminal, a
// monitor script or a test sees them. GUI thread only.
#pragma once

#include "receiver/shell/tray_view.h"
#include "shell/console_output.h"

namespace qc {

class ReceiverConsoleView : public ReceiverTrayView {
 public:
  // prefix: what starts every line (another program built on the receiver
  // writes its own name).
  explicit ReceiverConsoleView(const char* prefix = kReceiverStderrPrefix) : state_{prefix} {}
  void Attach(qvTray&) override {}
  // Only changes of state are worth a line, not every blink.
  void SetTrayIcon(TrayImage, const char* tip) override { state_.Show(tip); }
  void RemoveTrayIcon() override {}
  void SetWindowItem(bool) override {}
  void EnableReceivingItems(bool) override {}
  void SetFullScreenChecked(bool) override {}
  void RunSettingsDialog() override {}
  void RunAboutDialog() override {}

 private:
  ConsoleStateLine state_;
};

}  // namespace qc
