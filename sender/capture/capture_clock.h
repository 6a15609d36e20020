// SPDX-License-Identifier: GPL-3.0-or-later
// CaptureClock: the one clock of the capture engine. Its work thread paces
// itself by it (when a quarter may be grabbed again, how busy it was, when
// the cursor is queried) and the budgets, the repair planner, the ledger
// and the video region read it as a millisecond tick count. The programs
// run on SteadyClock; tests move a manual clock by hand, so that what the
// engine decides is seen without waiting.
//
// Threads: NowUs may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>

namespace qc {

class CaptureClock {
 public:
  virtual ~CaptureClock() = default;
  // Microseconds of a monotonic clock with an arbitrary start.
  virtual int64_t NowUs() const = 0;
  int64_t NowMs() const { return NowUs() / 1000; }
  // The same in ms, wrapping like a 32-bit tick counter.
  uint32_t Tick() const { return static_cast<uint32_t>(NowMs()); }
};

// std::chrono::steady_clock: the same base as TickCount (platform/tick_clock.h).
class SteadyClock final : public CaptureClock {
 public:
  int64_t NowUs() const override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  static const SteadyClock& Instance() {
    static const SteadyClock clock;
    return clock;
  }
};

}  // namespace qc
