// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/yuv_picture.h"

#include <algorithm>
#include <cstring>

namespace qc {
namespace {

// BT.601, limited range:
//   R = 1.164 (Y-16) + 1.596 (V-128)
//   G = 1.164 (Y-16) - 0.391 (U-128) - 0.813 (V-128)
//   B = 1.164 (Y-16) + 2.018 (U-128)
// in 16-bit fixed point as vector units do it: each term is the high half
// of a 16x16-bit product (pmulhw and its kin), giving 5 fractional bits;
// the sum stays within 16 bits.
inline int16_t Term(int16_t value, int16_t coefficient) {
  return static_cast<int16_t>((static_cast<int32_t>(value) * coefficient) >> 16);
}
constexpr int16_t kY = 19071;  // 1.164 * 2^14, for (Y-16) << 7
constexpr int16_t kRV = 13074;  // 1.596 * 2^13, for (V-128) << 8
constexpr int16_t kGU = 3203;   // 0.391 * 2^13
constexpr int16_t kGV = 6660;   // 0.813 * 2^13
constexpr int16_t kBU = 16531;  // 2.018 * 2^13

// The channel in 0..255 from a sum with 5 fractional bits; clamped while
// still 16 bits wide, which keeps the vector code in 16-bit lanes.
inline uint32_t Channel(int16_t sum) {
  const int16_t v = std::min<int16_t>(std::max<int16_t>(sum, 0), 255 << 5);
  return static_cast<uint32_t>(static_cast<uint16_t>(v + 16) >> 5);
}

// Pixels converted at a time: the chroma terms of a chunk are spread to
// one per pixel first, so that both loops are plain element-wise ones the
// compiler turns into vector code.
constexpr int kChunk = 256;

template <int kStep>
void SpreadChroma(const uint8_t* u, const uint8_t* v, int pairs, int16_t* r, int16_t* g,
                  int16_t* b) {
  for (int i = 0; i < pairs; ++i) {
    const auto cu = static_cast<int16_t>((u[i * kStep] - 128) * 256);
    const auto cv = static_cast<int16_t>((v[i * kStep] - 128) * 256);
    r[2 * i] = r[2 * i + 1] = Term(cv, kRV);
    g[2 * i] = g[2 * i + 1] = static_cast<int16_t>(-Term(cu, kGU) - Term(cv, kGV));
    b[2 * i] = b[2 * i + 1] = Term(cu, kBU);
  }
}

}  // namespace

void YuvToBgr0(const YuvPicture& p, uint8_t* out, size_t outStride) {
  int16_t r[kChunk], g[kChunk], b[kChunk];
  // Two rows share each chroma row.
  for (int row = 0; row < p.height; row += 2) {
    const size_t uvRow = p.uvStride * static_cast<size_t>(row / 2);
    for (int x0 = 0; x0 < p.width; x0 += kChunk) {
      const int n = std::min(kChunk, p.width - x0);
      const size_t at = uvRow + static_cast<size_t>(x0 / 2) * p.uvStep;
      if (p.uvStep == 2) {
        SpreadChroma<2>(p.u + at, p.v + at, (n + 1) / 2, r, g, b);
      } else {
        SpreadChroma<1>(p.u + at, p.v + at, (n + 1) / 2, r, g, b);
      }
      for (int pair = row; pair < std::min(row + 2, p.height); ++pair) {
        const uint8_t* y = p.y + p.yStride * pair + x0;
        uint8_t* o = out + outStride * pair + static_cast<size_t>(x0) * 4;
        for (int i = 0; i < n; ++i) {
          const int16_t l = Term(static_cast<int16_t>((y[i] - 16) * 128), kY);
          const uint32_t pixel = Channel(static_cast<int16_t>(l + b[i])) |
                                 Channel(static_cast<int16_t>(l + g[i])) << 8 |
                                 Channel(static_cast<int16_t>(l + r[i])) << 16;
          std::memcpy(o + static_cast<size_t>(i) * 4, &pixel, 4);
        }
      }
    }
  }
}

}  // namespace qc
