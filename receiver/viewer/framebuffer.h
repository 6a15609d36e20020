// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's copy of the sender's screen: a top-down pixel store in the
// sender's own format (16 or 32 bits per pixel, the init message's colour
// masks), rows of width x bytes-per-pixel bytes with no padding, so that the
// strip decoder can address row r at r x W x B.
//
// Threads: created, cleared and written (through the decoder) on the update
// thread; read by the window's paint on the GUI thread without a lock (a
// paint may show a half-decoded band, which the next paint corrects).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/protocol.h"

namespace qc {

// Read-only description of a framebuffer for painting. pixels is null when
// there is no framebuffer. The memory belongs to the viewer and stays valid
// until the viewer's Stop().
struct FramebufferView {
  const uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;  // 16 or 32
  int bytesPerRow = 0;   // width x bitsPerPixel / 8
  // Masks exactly as the init message carried them.
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
  // True when all three masks are non-zero and describe the layout;
  // otherwise the layout is the standard one of the depth: 5-5-5 in 16 bits,
  // 8-8-8 in the low three bytes of 32 bits (byte 0 blue).
  bool bitFields = false;

  // The masks that describe the pixels: the init message's when bitFields,
  // else the standard ones (0x7C00/0x03E0/0x001F or 0xFF0000/0xFF00/0xFF).
  uint32_t EffectiveRedMask() const {
    return bitFields ? redMask : bitsPerPixel == 16 ? 0x7C00u : 0xFF0000u;
  }
  uint32_t EffectiveGreenMask() const {
    return bitFields ? greenMask : bitsPerPixel == 16 ? 0x03E0u : 0x00FF00u;
  }
  uint32_t EffectiveBlueMask() const {
    return bitFields ? blueMask : bitsPerPixel == 16 ? 0x001Fu : 0x0000FFu;
  }
};

// How pixels laid out as an init message describes them are read.
inline FramebufferView DescribeFramebuffer(const uint8_t* pixels, const InitMessage& init) {
  FramebufferView v;
  v.pixels = pixels;
  v.width = init.width;
  v.height = init.height;
  v.bitsPerPixel = init.bitsPerPixel;
  v.bytesPerRow = v.width * (v.bitsPerPixel / 8);
  v.redMask = init.redMask;
  v.greenMask = init.greenMask;
  v.blueMask = init.blueMask;
  v.bitFields = init.redMask != 0 && init.greenMask != 0 && init.blueMask != 0;
  return v;
}

class Framebuffer {
 public:
  Framebuffer() = default;
  ~Framebuffer();
  Framebuffer(const Framebuffer&) = delete;
  Framebuffer& operator=(const Framebuffer&) = delete;

  // Allocates width x height x B bytes, cleared to 0 (black), and logs the
  // pixel format. False (with a log line) when the message is unusable
  // (IsUsableInit) or the memory cannot be had; the old store is released
  // either way.
  bool Create(const InitMessage& init);
  void Release();

  uint8_t* Pixels() { return pixels_; }
  const uint8_t* Pixels() const { return pixels_; }
  int Width() const { return view_.width; }
  int Height() const { return view_.height; }
  int BytesPerPixel() const { return view_.bitsPerPixel / 8; }
  const FramebufferView& View() const { return view_; }

 private:
  uint8_t* pixels_ = nullptr;
  FramebufferView view_;
};

}  // namespace qc
