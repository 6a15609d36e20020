// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/console_view.h"

namespace qc {

bool ReceiverConsoleView::SetTrayIcon(TrayAction action, TrayImage, const char* tip) {
  // Only changes of state are worth a line, not every blink.
  if (action != TrayAction::Delete) state_.Show(tip);
  return true;
}

void ReceiverConsoleView::ShowMessage(const char* caption, const char* text, MessageIcon) {
  PrintMessage(prefix_, caption, text);
}

}  // namespace qc
