// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/full_update_budget.h"

#include <algorithm>

namespace qc {

uint32_t FullUpdateBudget::GapFor(uint32_t bytes) {
  const uint64_t ms = uint64_t{bytes} * 1000 / kShareBytesPerSecond;
  return static_cast<uint32_t>(std::clamp<uint64_t>(ms, kMinGapMs, kMaxGapMs));
}

void FullUpdateBudget::Request(uint32_t requestMs) {
  if (!wanted_) wantedSinceMs_ = requestMs;
  wanted_ = true;
  lastRequestMs_ = requestMs;
}

uint32_t FullUpdateBudget::NextStartMs(uint32_t nowMs) const {
  if (running_ || immediate_ || !wanted_) return nowMs;
  // A request time read on another thread may lie a little after nowMs;
  // it then counts as gathered.
  const uint32_t quiet = nowMs - lastRequestMs_;
  const uint32_t since = nowMs - wantedSinceMs_;
  uint32_t wait = quiet < kGatherQuietMs ? kGatherQuietMs - quiet : 0;
  if (since < kGatherMaxMs) {
    wait = std::min(wait, kGatherMaxMs - since);
  } else {
    wait = 0;
  }
  if (haveLast_ && nowMs - lastStartMs_ < gapMs_) {
    wait = std::max(wait, gapMs_ - (nowMs - lastStartMs_));
  }
  return nowMs + wait;
}

bool FullUpdateBudget::ShouldStart(uint32_t nowMs) const {
  if (running_ || immediate_) return true;
  return wanted_ && NextStartMs(nowMs) == nowMs;
}

void FullUpdateBudget::Started(uint32_t nowMs) {
  // Requests from now on come from receivers that may have missed its
  // beginning: they are served by the next one.
  immediate_ = wanted_ = false;
  running_ = true;
  lastStartMs_ = nowMs;
}

void FullUpdateBudget::Finished(uint32_t bytes) {
  running_ = false;
  haveLast_ = true;
  gapMs_ = GapFor(bytes);
}

}  // namespace qc
