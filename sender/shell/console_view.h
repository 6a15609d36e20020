// SPDX-License-Identifier: GPL-3.0-or-later
// The headless view (qcsend --headless, on Linux and on Windows): no tray
// icon and no dialogs, for kiosks, servers and tests. The state changes go
// to standard error, so a terminal shows what the tray would; the dialogs
// say there what they would have shown. UI thread only.
#pragma once

#include <string>

#include "sender/shell/tray_view.h"
#include "shell/console_output.h"

namespace qc {

class ConsoleView : public TrayView {
 public:
  // settingsStore: where the settings are edited instead ("the settings
  // file", "the registry values").
  explicit ConsoleView(const char* settingsStore) : settingsStore_(settingsStore) {}

  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override {}
  void SetMenu(const TrayMenu&) override {}
  void ShowStartingDialog() override;
  void HideStartingDialog() override {}
  void CloseStartingDialog() override {}
  void RunSettingsDialog(qcTray& tray) override;
  AboutChoice RunAboutBox() override;
  void OpenUrl(const std::string&) override {}

 private:
  const char* settingsStore_;
  ConsoleStateLine state_{""};
};

}  // namespace qc
