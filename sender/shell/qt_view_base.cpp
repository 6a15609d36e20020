// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/qt_view_base.h"

#include "sender/shell/qc_tray.h"

namespace qc {

QtViewBase::QtViewBase()
    : hotkeys_(
          [this](int index) {
            if (tray_ != nullptr) tray_->OnHotKey(index);
          },
          "qcTray", {"Start or stop the transmission", "Pause the transmission"}) {}

void QtViewBase::StartTimer(TimerId id, int intervalMs) {
  loop_.StartTimer(static_cast<int>(id), intervalMs, [this, id] {
    if (tray_ != nullptr) tray_->OnTimer(id);
  });
}

}  // namespace qc
