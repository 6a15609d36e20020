// The tray view of the headless receiver (qvrecv --headless): no window, no
// tray icon, no dialogs. Message boxes and changes of the connection state
// go to standard error, so a terminal, a monitor script or a test sees them.
#pragma once

#include <QObject>
#include <QTimer>
#include <string>

#include "receiver/shell/tray_view.h"

namespace qv {

class ConsoleView : public QObject, public TrayView {
  Q_OBJECT
 public:
  explicit ConsoleView(QObject* parent = nullptr);

  void Attach(qvTray& tray) override { tray_ = &tray; }
  void Post(std::function<void()> fn) override;
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
  void Quit(int exitCode) override;

 private:
  qvTray* tray_ = nullptr;
  QTimer blinkTimer_;
  QTimer requestTimer_;
  std::string lastTip_;
};

// Writes a message box's caption and text to standard error (every view
// does, so that messages are seen in a terminal and in tests).
void PrintMessage(const char* caption, const char* text);

}  // namespace qv
