// SPDX-License-Identifier: GPL-3.0-or-later
// Millisecond tick count from a monotonic clock; wraps like a 32-bit counter.
#pragma once

#include <chrono>
#include <cstdint>

namespace qc {

inline uint32_t TickCount() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace qc
