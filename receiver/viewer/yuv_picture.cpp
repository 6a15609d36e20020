// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/yuv_picture.h"

#include <algorithm>

namespace qc {
namespace {

// BT.601, limited range, 16 fractional bits:
//   R = 1.164 (Y-16) + 1.596 (V-128)
//   G = 1.164 (Y-16) - 0.391 (U-128) - 0.813 (V-128)
//   B = 1.164 (Y-16) + 2.018 (U-128)
constexpr int kY = 76309, kRV = 104597, kGU = 25675, kGV = 53279, kBU = 132201;
constexpr int kRound = 1 << 15;

inline uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v >> 16, 0, 255)); }

inline void Pixel(int luma, int r, int g, int b, uint8_t* out) {
  const int l = (luma - 16) * kY + kRound;
  out[0] = Clamp(l + b);
  out[1] = Clamp(l + g);
  out[2] = Clamp(l + r);
  out[3] = 0;
}

}  // namespace

void YuvToBgr0(const YuvPicture& p, uint8_t* out, size_t outStride) {
  for (int row = 0; row < p.height; ++row) {
    const uint8_t* y = p.y + p.yStride * row;
    const uint8_t* u = p.u + p.uvStride * (row / 2);
    const uint8_t* v = p.v + p.uvStride * (row / 2);
    uint8_t* o = out + outStride * row;
    for (int x = 0; x < p.width; x += 2) {
      const int cu = *u - 128, cv = *v - 128;
      u += p.uvStep;
      v += p.uvStep;
      const int r = kRV * cv, g = -kGU * cu - kGV * cv, b = kBU * cu;
      Pixel(y[x], r, g, b, o + x * 4);
      if (x + 1 < p.width) Pixel(y[x + 1], r, g, b, o + x * 4 + 4);
    }
  }
}

}  // namespace qc
