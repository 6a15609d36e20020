// SPDX-License-Identifier: GPL-3.0-or-later
// What both Wayland screen sources do with the rows of their frames: copy
// them as the engine holds pixels, and find the rows marked as drawn since
// they were last grabbed. Threads: any (callers guard the marks).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace qc {

// Copies n 32-bit little-endian pixels with byte 3 (padding, or alpha that
// nobody shows) set to 0, as the engine's frames hold them.
inline void CopyPixelsClearingPad(uint8_t* out, const uint8_t* in, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t v;
    std::memcpy(&v, in + 4 * i, 4);
    v &= 0x00FFFFFFu;
    std::memcpy(out + 4 * i, &v, 4);
  }
}

// Whether any row is marked.
inline bool AnyRowDrawn(const std::vector<uint8_t>& drawn) {
  return std::find(drawn.begin(), drawn.end(), 1) != drawn.end();
}

// The band [from, to) from the first to the last marked row within
// [first, end); from == to == first when none is.
inline void DrawnRowBand(const std::vector<uint8_t>& drawn, int first, int end, int& from,
                         int& to) {
  first = std::max(first, 0);
  end = std::max(first, std::min(end, static_cast<int>(drawn.size())));
  from = to = first;
  auto begin = drawn.begin();
  auto top = std::find(begin + first, begin + end, 1);
  if (top == begin + end) return;
  auto bottom =
      std::find(std::make_reverse_iterator(begin + end), std::make_reverse_iterator(top), 1);
  from = static_cast<int>(top - begin);
  to = static_cast<int>(bottom.base() - begin);
}

}  // namespace qc
