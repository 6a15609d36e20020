// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/pixel_format.h"

#include <cstring>

namespace qc {

namespace {

constexpr uint32_t kOpaque = 0xff000000u;

// 0xffRRGGBB as bytes R, G, B, 255.
inline uint32_t SwapRedBlue(uint32_t v) {
  return (v & 0xff00ff00u) | ((v >> 16) & 0xffu) | ((v & 0xffu) << 16);
}

}  // namespace

ColourChannel ColourChannel::FromMask(uint32_t mask) {
  ColourChannel c;
  if (mask == 0) return c;
  c.shift = __builtin_ctz(mask);
  c.bits = 32 - __builtin_clz(mask) - c.shift;
  return c;
}

uint32_t ColourChannel::Expand(uint32_t pixel) const {
  if (bits <= 0) return 0;
  const uint32_t field = (pixel >> shift) & (bits >= 32 ? ~0u : (1u << bits) - 1);
  if (bits >= 8) return (field >> (bits - 8)) & 0xffu;
  const uint32_t max = (1u << bits) - 1;
  return (field * 255 + max / 2) / max;
}

bool PixelFormat::Bind(const FramebufferView& fb) {
  Unbind();
  if (fb.pixels == nullptr || fb.width < 1 || fb.height < 1 ||
      (fb.bitsPerPixel != 16 && fb.bitsPerPixel != 32)) {
    return false;
  }
  const uint32_t redMask = fb.EffectiveRedMask();
  const uint32_t greenMask = fb.EffectiveGreenMask();
  const uint32_t blueMask = fb.EffectiveBlueMask();
  red_ = ColourChannel::FromMask(redMask);
  green_ = ColourChannel::FromMask(greenMask);
  blue_ = ColourChannel::FromMask(blueMask);
  if (fb.bitsPerPixel == 16) {
    layout_ = Layout::Lut16;
    lut16_.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) lut16_[v] = ToRgb32(v);
  } else {
    layout_ = redMask == 0xff0000u && greenMask == 0x00ff00u && blueMask == 0x0000ffu
                  ? Layout::Xrgb32
                  : Layout::Masks32;
    lut16_.clear();
  }
  view_ = fb;
  return true;
}

void PixelFormat::Unbind() { view_ = FramebufferView{}; }

uint32_t PixelFormat::ToRgb32(uint32_t pixel) const {
  return kOpaque | red_.Expand(pixel) << 16 | green_.Expand(pixel) << 8 | blue_.Expand(pixel);
}

QC_LIVE_PIXELS inline uint32_t PixelFormat::At(const uint8_t* src, int i) const {
  if (layout_ == Layout::Lut16) return lut16_[src[2 * i] | src[2 * i + 1] << 8];
  uint32_t v;
  std::memcpy(&v, src + 4 * i, 4);
  // The pad byte of 8-8-8 is not alpha: the result is opaque.
  return layout_ == Layout::Xrgb32 ? v | kOpaque : ToRgb32(v);
}

QC_LIVE_PIXELS void PixelFormat::ConvertRow(int y, int x0, int count, uint32_t* out) const {
  const uint8_t* src = Row(y, x0);
  int i = 0;
  if (layout_ == Layout::Lut16) {
    // Four pixels a round: the loop's own overhead is most of the cost.
    const uint32_t* lut = lut16_.data();
    uint16_t v[4];  // little-endian, as the hosts that run this
    for (; i + 4 <= count; i += 4) {
      std::memcpy(v, src + 2 * i, 8);
      out[i] = lut[v[0]];
      out[i + 1] = lut[v[1]];
      out[i + 2] = lut[v[2]];
      out[i + 3] = lut[v[3]];
    }
    for (; i < count; ++i) {
      std::memcpy(v, src + 2 * i, 2);
      out[i] = lut[v[0]];
    }
  } else if (layout_ == Layout::Xrgb32) {
    // Four pixels at a time in plain vector loads (not one memcpy call, so
    // that the reads stay plain loads).
    typedef uint32_t U32x4 __attribute__((vector_size(16)));
    for (; i + 4 <= count; i += 4) {
      U32x4 v;
      std::memcpy(&v, src + 4 * i, 16);
      v |= kOpaque;
      std::memcpy(out + i, &v, 16);
    }
  }
  for (; i < count; ++i) out[i] = At(src, i);
}

QC_LIVE_PIXELS void PixelFormat::ConvertRowRgba(int y, int x0, int count, uint8_t* out) const {
  const uint8_t* src = Row(y, x0);
  for (int i = 0; i < count; ++i, out += 4) {
    const uint32_t v = SwapRedBlue(At(src, i));
    std::memcpy(out, &v, 4);
  }
}

}  // namespace qc
