// SPDX-License-Identifier: GPL-3.0-or-later
// PixelFormat: how the sender's pixels (16 or 32 bits, laid out by the init
// message's colour masks) become the 8-bit channels every viewer shows: the
// Qt painter and its OpenGL view (0xffRRGGBB words), the Win32 window (the
// same words in a 32-bit DIB section) and the web gateway (R, G, B, 255
// bytes, a browser's ImageData).
//
// One rule for every channel narrower than 8 bits: the nearest 8-bit value,
// v x 255 / (2^n - 1) rounded (a 5-bit 3 is 25, a 6-bit 11 is 45), so that
// full and zero stay 255 and 0 and every receiver shows the same colours.
// Channels of 8 bits or more keep their top 8 bits.
//
// Threads: one thread binds and converts (the GUI thread, or the gateway's).
// The framebuffer is read without a lock while the update thread writes it;
// a band read half old, half new is converted again after the update that
// invalidates it. Nothing is allocated per row: Bind() builds the 16-bit
// table once.
#pragma once

#include <cstdint>
#include <vector>

#include "receiver/viewer/framebuffer.h"

namespace qc {

// The framebuffer's pixels are read here while the update thread may write
// them (a row may be converted half old, half new; the update that follows
// invalidates it again). These reads are not checked by the race detector:
// they are the picture's designed lock-free hand-over, and checking every
// pixel of every frame would stall the threaded tests.
#define QC_LIVE_PIXELS __attribute__((no_sanitize("thread")))

// One colour channel of a pixel: where its mask lies. A mask with holes is
// read as the span from its lowest to its highest bit.
struct ColourChannel {
  int shift = 0;  // the mask's lowest bit
  int bits = 0;   // 0: no such channel (reads as 0)

  static ColourChannel FromMask(uint32_t mask);
  // The channel of `pixel` as 0..255.
  uint32_t Expand(uint32_t pixel) const;
};

class PixelFormat {
 public:
  // Binds a framebuffer (not owned; unbind before it goes away), read with
  // its effective masks. False (and unbound) for a null framebuffer, an
  // empty one or a depth other than 16 and 32 bits.
  bool Bind(const FramebufferView& framebuffer);
  void Unbind();
  bool IsBound() const { return view_.pixels != nullptr; }
  const FramebufferView& View() const { return view_; }
  int Width() const { return view_.width; }
  int Height() const { return view_.height; }
  // 32 bits with the standard masks: a row's bytes are B, G, R, pad, so it
  // can be read in place as 0x??RRGGBB words.
  bool IsXrgb32() const { return layout_ == Layout::Xrgb32; }

  // One pixel value of the bound format as 0xffRRGGBB.
  uint32_t ToRgb32(uint32_t pixel) const;
  // count pixels of row y from column x0 (inside the framebuffer) as
  // 0xffRRGGBB words: opaque whatever the pad byte holds.
  void ConvertRow(int y, int x0, int count, uint32_t* out) const;
  // The same pixels as bytes R, G, B, 255 (4 x count bytes).
  void ConvertRowRgba(int y, int x0, int count, uint8_t* out) const;

 private:
  enum class Layout { Xrgb32, Masks32, Lut16 };

  uint32_t At(const uint8_t* src, int i) const;  // pixel i from src as 0xffRRGGBB
  const uint8_t* Row(int y, int x0) const {
    return view_.pixels + static_cast<size_t>(y) * static_cast<size_t>(view_.bytesPerRow) +
           static_cast<size_t>(x0) * static_cast<size_t>(view_.bitsPerPixel / 8);
  }

  FramebufferView view_;
  Layout layout_ = Layout::Xrgb32;
  ColourChannel red_, green_, blue_;
  std::vector<uint32_t> lut16_;  // 16-bit pixel -> 0xffRRGGBB
};

}  // namespace qc
