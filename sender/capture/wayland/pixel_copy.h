// SPDX-License-Identifier: GPL-3.0-or-later
// Row copies shared by the Wayland screen sources. Threads: any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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

}  // namespace qc
