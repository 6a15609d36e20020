// The tray view of the headless receiver (qvrecv --headless): no window, no
// tray icon, no dialogs, no hot key. Message boxes and changes of the
// connection state go to standard error, so a terminal, a monitor script or
// a test sees them.
#pragma once

#include "platform/qt/ui_loop.h"
#include "receiver/shell/tray_view.h"
#include "shell/console_output.h"

namespace qc {

class ReceiverConsoleView : public ReceiverTrayView {
 public:
  void Attach(qvTray& tray) override { tray_ = &tray; }
  void Post(std::function<void()> fn) override { loop_.Post(std::move(fn)); }
  void StartTimers() override;
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override;
  void SetWindowItem(bool) override {}
  void EnableReceivingItems(bool) override {}
  void SetFullScreenChecked(bool) override {}
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
  void RunSettingsDialog() override {}
  void RunAboutDialog() override {}
  bool RegisterHotKey(uint32_t) override { return false; }
  void UnregisterHotKey() override {}
  void Quit(int exitCode) override { UiLoop::Quit(exitCode); }

 private:
  qvTray* tray_ = nullptr;
  UiLoop loop_;
  ConsoleStateLine state_{kReceiverStderrPrefix};
};

// The blink and request timers on loop, reported to tray (both views).
void StartReceiverTimers(UiLoop& loop, qvTray& tray);

}  // namespace qc
