#include "receiver/web/pixel_converter.h"

#include <cstring>

namespace qc {

#define QC_LIVE_PIXELS __attribute__((no_sanitize("thread")))

PixelConverter::Channel PixelConverter::ChannelFor(uint32_t mask) {
  Channel c;
  if (mask == 0) return c;
  c.shift = __builtin_ctz(mask);
  c.bits = 32 - __builtin_clz(mask) - c.shift;
  return c;
}

uint8_t PixelConverter::Expand(uint32_t field, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return static_cast<uint8_t>(field >> (bits - 8));
  const uint32_t max = (1u << bits) - 1;
  return static_cast<uint8_t>((field * 255 + max / 2) / max);
}

uint32_t PixelConverter::ToRgba(uint32_t v) const {
  auto field = [v](const Channel& c) {
    return c.bits == 0 ? 0u : (v >> c.shift) & ((c.bits >= 32 ? 0u : (1u << c.bits)) - 1);
  };
  const uint8_t bytes[4] = {Expand(field(red_), red_.bits), Expand(field(green_), green_.bits),
                            Expand(field(blue_), blue_.bits), 0xff};
  uint32_t rgba;
  std::memcpy(&rgba, bytes, 4);
  return rgba;
}

bool PixelConverter::Bind(const FramebufferView& fb) {
  Unbind();
  if (fb.pixels == nullptr || fb.width < 1 || fb.height < 1 ||
      (fb.bitsPerPixel != 16 && fb.bitsPerPixel != 32)) {
    return false;
  }
  red_ = ChannelFor(fb.EffectiveRedMask());
  green_ = ChannelFor(fb.EffectiveGreenMask());
  blue_ = ChannelFor(fb.EffectiveBlueMask());
  xrgb_ = fb.bitsPerPixel == 32 && fb.EffectiveRedMask() == 0xFF0000u &&
          fb.EffectiveGreenMask() == 0x00FF00u && fb.EffectiveBlueMask() == 0x0000FFu;
  if (fb.bitsPerPixel == 16) {
    lut16_.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) lut16_[v] = ToRgba(v);
  } else {
    lut16_.clear();
  }
  view_ = fb;
  return true;
}

QC_LIVE_PIXELS void PixelConverter::ConvertRow(int y, int x0, int count, uint8_t* out) const {
  const uint8_t* row = view_.pixels + static_cast<size_t>(y) * view_.bytesPerRow;
  if (view_.bitsPerPixel == 16) {
    const uint8_t* p = row + x0 * 2;
    for (int i = 0; i < count; ++i, p += 2, out += 4) {
      const uint32_t rgba = lut16_[p[0] | (p[1] << 8)];
      std::memcpy(out, &rgba, 4);
    }
  } else if (xrgb_) {
    const uint8_t* p = row + x0 * 4;
    for (int i = 0; i < count; ++i, p += 4, out += 4) {
      out[0] = p[2];
      out[1] = p[1];
      out[2] = p[0];
      out[3] = 0xff;
    }
  } else {
    const uint8_t* p = row + x0 * 4;
    for (int i = 0; i < count; ++i, p += 4, out += 4) {
      const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
      const uint32_t rgba = ToRgba(v);
      std::memcpy(out, &rgba, 4);
    }
  }
}

}  // namespace qc
