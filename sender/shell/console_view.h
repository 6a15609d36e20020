// SPDX-License-Identifier: GPL-3.0-or-later
// The headless view (qcsend --headless): no tray icon and no dialogs, for
// kiosks, servers and tests. Message boxes become lines on standard error
// and return at once; the state changes are written there too, so a
// terminal shows what the tray would.
#pragma once

#include <string>

#include "sender/shell/qt_view_base.h"
#include "shell/console_output.h"

namespace qc {

class ConsoleView : public QtViewBase {
  Q_OBJECT
 public:
  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override {}
  void SetMenu(const TrayMenu&) override {}
  void ShowMessage(const char* caption, const std::string& text, MessageIcon icon) override;
  void ShowStartingDialog() override;
  void HideStartingDialog() override {}
  void CloseStartingDialog() override {}
  void RunSettingsDialog(qcTray& tray) override;
  int RunAboutBox() override;
  void OpenUrl(const std::string&) override {}

 private:
  ConsoleStateLine state_{""};
};

}  // namespace qc
