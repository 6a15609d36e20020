// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/pacer.h"

#include <algorithm>

namespace qc {

void Pacer::Reset(int periodMs, int64_t now) {
  period_ = std::max(1, periodMs);
  tick_ = std::max(1, period_ / 4);
  for (Quarter& q : quarters_) q = Quarter{now, 0};
  windowStart_ = now;
  windowBusy_ = 0;
}

void Pacer::Sent(int q, int64_t now) {
  Quarter& quarter = quarters_[q];
  // Still changing when it was allowed again: the streak goes on.
  bool continued = quarter.streak > 0 && now - quarter.notBefore <= StreakSlackMs();
  quarter.streak = continued ? quarter.streak + 1 : 1;
  int gap = tick_;
  if (quarter.streak >= kBusyStreak) gap = overBudget_ ? kSlowIntervalMs : kBusyIntervalMs;
  quarter.notBefore = now + gap;
}

void Pacer::Worked(int64_t now, double busyMs) {
  windowBusy_ += std::max(0.0, busyMs);
  int64_t span = now - windowStart_;
  if (span < kDutyWindowMs) return;
  double duty = windowBusy_ / static_cast<double>(span);
  if (duty > kDutyBudget) {
    overBudget_ = true;
  } else if (duty < kDutyBudget / 2) {
    overBudget_ = false;
  }
  windowStart_ = now;
  windowBusy_ = 0;
}

}  // namespace qc
