// SPDX-License-Identifier: GPL-3.0-or-later
// What the sender's Qt tray view and its console view share: the event
// loop's services behind TrayView (posting to the UI thread, timers,
// quitting) and the global hotkeys, all reported to the attached qcTray.
#pragma once

#include <QObject>

#include "platform/qt/global_hotkeys.h"
#include "platform/qt/ui_loop.h"
#include "sender/shell/tray_view.h"

namespace qc {

class QtViewBase : public QObject, public TrayView {
  Q_OBJECT
 public:
  QtViewBase();

  // The controller that timers and hotkeys report to. Set before Init.
  void Attach(qcTray& tray) { tray_ = &tray; }

  void PostToUi(std::function<void()> task) override { loop_.Post(std::move(task)); }
  void StartTimer(TimerId id, int intervalMs) override;
  void StopTimer(TimerId id) override { loop_.StopTimer(static_cast<int>(id)); }
  void Quit() override { UiLoop::Quit(0); }
  void RegisterHotKey(int index, uint32_t code) override { hotkeys_.Grab(index, code); }
  void UnregisterHotKey(int index) override { hotkeys_.Ungrab(index); }
  // How the hotkeys reach the program, for the settings dialog.
  GlobalHotkeys::Route HotkeyRoute() { return hotkeys_.CurrentRoute(); }

 protected:
  qcTray* tray_ = nullptr;

 private:
  UiLoop loop_;
  GlobalHotkeys hotkeys_;
};

}  // namespace qc
