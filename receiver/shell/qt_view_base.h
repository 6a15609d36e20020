// SPDX-License-Identifier: GPL-3.0-or-later
// What the receiver's Qt tray view and its console view share: posting to
// the GUI thread, the blink and request timers and the end of the event
// loop, all reported to the attached qvTray.
#pragma once

#include "platform/qt/ui_loop.h"
#include "receiver/shell/tray_view.h"

namespace qc {

class ReceiverQtViewBase : public ReceiverTrayView {
 public:
  void Attach(qvTray& tray) override { tray_ = &tray; }
  void Post(std::function<void()> fn) override { loop_.Post(std::move(fn)); }
  void StartTimers() override;
  void Quit(int exitCode) override { UiLoop::Quit(exitCode); }

 protected:
  qvTray* tray_ = nullptr;

 private:
  UiLoop loop_;
};

}  // namespace qc
