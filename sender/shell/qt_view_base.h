// What the Qt tray view and the console view share: the event loop's
// services behind TrayView (posting to the UI thread, timers, quitting),
// the X11 hotkeys, and standard error for every message box.
#pragma once

#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

#include "sender/shell/tray_view.h"

namespace qc {

class X11HotkeyNotifier;

class QtViewBase : public QObject, public TrayView {
  Q_OBJECT
 public:
  QtViewBase();
  ~QtViewBase() override;

  // The controller that timers and hotkeys report to. Set before Init.
  void Attach(qcTray& tray) { tray_ = &tray; }

  void PostToUi(std::function<void()> task) override;
  void StartTimer(TimerId id, int intervalMs) override;
  void StopTimer(TimerId id) override;
  void Quit() override;
  void RegisterHotKey(int index, uint32_t code) override;
  void UnregisterHotKey(int index) override;

  // "caption: text" on standard error, one line per text line.
  static void WriteToStderr(const char* caption, const std::string& text);

 protected:
  qcTray* tray_ = nullptr;

 private:
  std::map<TimerId, QTimer*> timers_;
  std::unique_ptr<X11HotkeyNotifier> hotkeys_;
  bool hotkeysTried_ = false;
};

}  // namespace qc
