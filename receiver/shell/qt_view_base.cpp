// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/qt_view_base.h"

#include "receiver/shell/qv_tray.h"

namespace qc {

void ReceiverQtViewBase::StartTimers() {
  enum { kBlinkTimer, kRequestTimer };
  loop_.StartTimer(kBlinkTimer, kBlinkTimerMs, [this] { tray_->OnBlinkTimer(); });
  loop_.StartTimer(kRequestTimer, kRequestTimerMs, [this] { tray_->OnRequestTimer(); });
}

}  // namespace qc
