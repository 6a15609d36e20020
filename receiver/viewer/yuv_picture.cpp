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

// The sender takes each chroma sample as the mean of a 2x2 block, so the
// sample sits at the block's centre. Each pixel's chroma is interpolated
// from the four nearest samples, 3/4 of the nearer and 1/4 of the farther
// in each direction (9:3:3:1), with four fractional bits. `near` and `far`
// are the chroma rows above and below the pixel row in that order of
// distance; `k0` is the chunk's first sample, `pairs` its samples.
template <int kStep>
void SpreadChroma(const uint8_t* uNear, const uint8_t* vNear, const uint8_t* uFar,
                  const uint8_t* vFar, int k0, int pairs, int samples, int16_t* r, int16_t* g,
                  int16_t* b) {
  // Vertical blend of the chunk's samples and one more on each side (the
  // picture's edge repeats), x4.
  int16_t cu[kChunk / 2 + 2], cv[kChunk / 2 + 2];
  for (int i = -1; i <= pairs; ++i) {
    const int k = std::clamp(k0 + i, 0, samples - 1) * kStep;
    cu[i + 1] = static_cast<int16_t>(3 * uNear[k] + uFar[k]);
    cv[i + 1] = static_cast<int16_t>(3 * vNear[k] + vFar[k]);
  }
  for (int i = 0; i < pairs; ++i) {
    // Left pixel of the pair: its sample and the one before; right pixel:
    // its sample and the one after. x16, centred, then <<4 to the 8
    // fractional bits the terms take.
    for (int side = 0; side < 2; ++side) {
      const int other = side == 0 ? i : i + 2;
      const auto u = static_cast<int16_t>((3 * cu[i + 1] + cu[other] - 2048) * 16);
      const auto v = static_cast<int16_t>((3 * cv[i + 1] + cv[other] - 2048) * 16);
      r[2 * i + side] = Term(v, kRV);
      g[2 * i + side] = static_cast<int16_t>(-Term(u, kGU) - Term(v, kGV));
      b[2 * i + side] = Term(u, kBU);
    }
  }
}

}  // namespace

void YuvToBgr0(const YuvPicture& p, uint8_t* out, size_t outStride) {
  int16_t r[kChunk], g[kChunk], b[kChunk];
  const int samples = (p.width + 1) / 2;
  const int chromaRows = (p.height + 1) / 2;
  for (int row = 0; row < p.height; ++row) {
    // The chroma row of this pixel row and its other neighbour: above for
    // the top row of a pair, below for the bottom one.
    const int nearRow = row / 2;
    const int farRow = std::clamp(row % 2 == 0 ? nearRow - 1 : nearRow + 1, 0, chromaRows - 1);
    const size_t nearAt = p.uvStride * static_cast<size_t>(nearRow);
    const size_t farAt = p.uvStride * static_cast<size_t>(farRow);
    const uint8_t* y = p.y + p.yStride * row;
    uint8_t* o = out + outStride * row;
    for (int x0 = 0; x0 < p.width; x0 += kChunk) {
      const int n = std::min(kChunk, p.width - x0);
      if (p.uvStep == 2) {
        SpreadChroma<2>(p.u + nearAt, p.v + nearAt, p.u + farAt, p.v + farAt, x0 / 2,
                        (n + 1) / 2, samples, r, g, b);
      } else {
        SpreadChroma<1>(p.u + nearAt, p.v + nearAt, p.u + farAt, p.v + farAt, x0 / 2,
                        (n + 1) / 2, samples, r, g, b);
      }
      for (int i = 0; i < n; ++i) {
        const int16_t l = Term(static_cast<int16_t>((y[x0 + i] - 16) * 128), kY);
        const uint32_t pixel = Channel(static_cast<int16_t>(l + b[i])) |
                               Channel(static_cast<int16_t>(l + g[i])) << 8 |
                               Channel(static_cast<int16_t>(l + r[i])) << 16;
        std::memcpy(o + static_cast<size_t>(x0 + i) * 4, &pixel, 4);
      }
    }
  }
}

}  // namespace qc
