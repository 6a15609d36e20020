// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/acceleration.h"

#include "common/log_file.h"

namespace qc {

bool UnsupportedAcceleration::Available() {
  if (!logged_) {
    Log().Print("qcTray: Display acceleration control is not supported on this platform\n");
    logged_ = true;
  }
  return false;
}

void AccelerationControl::SetAcceleration(bool disable) {
  if (!backend_.Available()) return;
  // A restore with nothing saved must not write the "off" level: that would
  // switch the acceleration off for good (for example when the setting was
  // switched on while transmitting and the program then quit before Stop).
  if (!disable && savedLevel_ == kOff) return;
  int newLevel = disable ? kOff : savedLevel_;
  int oldLevel = backend_.ReadLevel().value_or(0);
  if (!backend_.WriteLevel(newLevel)) {
    Log().Print("qcTray: Cannot save Acceleration.Level value\n");
    return;
  }
  if (oldLevel != kOff || (savedLevel_ != kOff && !disable)) {
    backend_.ReapplyDisplaySettings();
    savedLevel_ = oldLevel;
  }
}

}  // namespace qc
