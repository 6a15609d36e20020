// Turns rows of the receiver's framebuffer (the sender's 16- or 32-bit pixels
// with its colour masks) into RGBA bytes, the layout a browser's ImageData
// takes (R, G, B, A per pixel, alpha always 255).
//
// One thread (the gateway's). The framebuffer is read without a lock while
// the update thread writes it; a band read half old, half new is sent again
// after the write, which invalidates it.
#pragma once

#include <cstdint>
#include <vector>

#include "receiver/viewer/framebuffer.h"

namespace qc {

class PixelConverter {
 public:
  // Binds a framebuffer (not owned; unbind before it goes away). False for
  // a null framebuffer or a depth other than 16 and 32 bits.
  bool Bind(const FramebufferView& framebuffer);
  void Unbind() { view_ = FramebufferView{}; }
  bool IsBound() const { return view_.pixels != nullptr; }
  int Width() const { return view_.width; }
  int Height() const { return view_.height; }

  // count pixels of row y from column x0 into out (4 x count bytes). The
  // span must lie inside the framebuffer.
  void ConvertRow(int y, int x0, int count, uint8_t* out) const;

 private:
  struct Channel {
    int shift = 0;  // bit position of the field's lowest bit
    int bits = 0;
  };
  static Channel ChannelFor(uint32_t mask);
  static uint8_t Expand(uint32_t field, int bits);
  uint32_t ToRgba(uint32_t value) const;  // bytes R, G, B, 255 in memory order

  FramebufferView view_;
  bool xrgb_ = false;  // 32 bits with the standard masks: bytes B, G, R, x
  Channel red_, green_, blue_;
  std::vector<uint32_t> lut16_;  // 16-bit value -> RGBA
};

}  // namespace qc
