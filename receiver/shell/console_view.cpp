#include "receiver/shell/console_view.h"

#include "receiver/shell/qv_tray.h"

namespace qc {

void StartReceiverTimers(UiLoop& loop, qvTray& tray) {
  enum { kBlinkTimer, kRequestTimer };
  loop.StartTimer(kBlinkTimer, kBlinkTimerMs, [&tray] { tray.OnBlinkTimer(); });
  loop.StartTimer(kRequestTimer, kRequestTimerMs, [&tray] { tray.OnRequestTimer(); });
}

void ReceiverConsoleView::StartTimers() { StartReceiverTimers(loop_, *tray_); }

bool ReceiverConsoleView::SetTrayIcon(TrayAction action, TrayImage, const char* tip) {
  // Only changes of state are worth a line, not every blink.
  if (action != TrayAction::Delete) state_.Show(tip);
  return true;
}

void ReceiverConsoleView::ShowMessage(const char* caption, const char* text, MessageIcon) {
  PrintMessage(kReceiverStderrPrefix, caption, text);
}

}  // namespace qc
