// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/traffic_budget.h"

#include <algorithm>

namespace qc {

void TrafficBudget::Reset(uint32_t nowMs, uint32_t totalBytes) {
  balance_ = kBurstBytes;
  remainder_ = 0;
  lastMs_ = nowMs;
  lastTotal_ = totalBytes;
  chargedSince_ = 0;
}

void TrafficBudget::Observe(uint32_t nowMs, uint32_t totalBytes) {
  const uint32_t elapsed = nowMs - lastMs_;
  const uint32_t grown = totalBytes - lastTotal_;
  const uint32_t fresh = grown > chargedSince_ ? grown - chargedSince_ : 0;
  lastMs_ = nowMs;
  lastTotal_ = totalBytes;
  chargedSince_ = 0;
  // Both earnings in units of 1/(1000 * den) byte, so that small steps are
  // not rounded away.
  constexpr int64_t kUnit = 1000 * kStreamShareDen;
  remainder_ += int64_t{elapsed} * kBaseBytesPerSecond * kStreamShareDen +
                int64_t{fresh} * kStreamShareNum * 1000;
  balance_ += remainder_ / kUnit;
  remainder_ %= kUnit;
  if (balance_ >= kBurstBytes) {
    balance_ = kBurstBytes;
    remainder_ = 0;
  }
}

void TrafficBudget::Charge(uint32_t bytes) {
  balance_ -= bytes;
  chargedSince_ += bytes;
  charged_ += bytes;
}

int TrafficBudget::MsUntilAllowed() const {
  if (balance_ > 0) return 0;
  const int64_t ms = (1 - balance_) * 1000 / kBaseBytesPerSecond + 1;
  return static_cast<int>(std::min<int64_t>(ms, 60000));
}

}  // namespace qc
