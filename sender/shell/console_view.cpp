// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/console_view.h"

#include <cstdio>

namespace qc {

bool ConsoleView::SetTrayIcon(int, const char* tip) {
  state_.Show(tip);  // each change of state once, not every frame
  return true;
}

void ConsoleView::ShowStartingDialog() {
  PrintMessage("", "Quillcast Starting...", "Checking if it's safe to start transmission.");
}

void ConsoleView::RunSettingsDialog(qcTray&) {
  fprintf(stderr, "qcsend: no settings dialog without a tray; edit %s\n", settingsStore_);
}

AboutChoice ConsoleView::RunAboutBox() {
  fprintf(stderr, "Quillcast version 1.1.0\n");
  return AboutChoice::Close;
}

}  // namespace qc
