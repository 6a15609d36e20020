// SPDX-License-Identifier: GPL-3.0-or-later
// The UI services of the Linux programs on Qt's event loop: queued
// invocations for posted work, QTimers, QCoreApplication::exit, the global
// hotkeys of platform/qt/global_hotkeys.h and QMessageBox (which needs a
// QApplication; the console style needs only a QCoreApplication).
// Construct, use and destroy on the GUI thread (Post: any thread).
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <map>

#include "platform/qt/global_hotkeys.h"
#include "shell/ui_services.h"

namespace qc {

class QtUiServices : public QObject, public UiServices {
  Q_OBJECT
 public:
  explicit QtUiServices(const UiStyle& style);
  ~QtUiServices() override;

  void Post(std::function<void()> task) override;
  void StartTimer(int id, int intervalMs, std::function<void()> tick) override;
  void StopTimer(int id) override;
  void Quit(int exitCode) override;
  bool RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) override;
  void UnregisterHotKey(HotKey id) override;
  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override;
  // How the hotkeys reach the program, for the settings dialog.
  GlobalHotkeys::Route HotkeyRoute() { return hotkeys_.CurrentRoute(); }

 private:
  struct Timer {
    QTimer* timer = nullptr;
    std::function<void()> tick;
  };

  UiStyle style_;
  std::map<int, Timer> timers_;
  std::map<int, std::function<void()>> pressed_;
  GlobalHotkeys hotkeys_;
};

}  // namespace qc
