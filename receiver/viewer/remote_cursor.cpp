// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/remote_cursor.h"

#include <algorithm>
#include <utility>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "common/protocol.h"
#include "receiver/viewer/pixel_format.h"
#include "receiver/viewer/viewer_surface.h"

namespace qc {

namespace {

// One bottom-up bitmap inside the payload: rows of stride bytes, the last
// image row first, in size bytes. Rows the bytes do not hold are absent.
struct BitmapRows {
  const uint8_t* data = nullptr;
  size_t size = 0;
  int width = 0;
  int height = 0;
  size_t stride = 0;

  // Image row y (top-down), or null when the payload does not hold it.
  const uint8_t* Row(int y) const {
    if (y < 0 || y >= height) return nullptr;
    size_t offset = static_cast<size_t>(height - 1 - y) * stride;
    if (offset + stride > size) return nullptr;
    return data + offset;
  }
};

// Picks the row layout: padded to 4 bytes when the region holds it, else
// packed when that fits, else padded with the missing rows absent.
bool LayRows(const uint8_t* data, size_t size, int width, int height, int bitsPerPixel,
             BitmapRows& out) {
  if (width <= 0 || height <= 0) return false;
  size_t bits = static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel);
  size_t padded = (bits + 31) / 32 * 4;
  size_t packed = (bits + 7) / 8;
  size_t rows = static_cast<size_t>(height);
  out.stride = (padded * rows > size && packed * rows <= size) ? packed : padded;
  out.data = data;
  out.size = size;
  out.width = width;
  out.height = height;
  return true;
}

bool Bit(const uint8_t* row, int x) { return (row[x >> 3] >> (7 - (x & 7))) & 1; }

struct ColourFormat {
  int bitsPerPixel = 0;
  ColourChannel red, green, blue;
  bool alphaInByte3 = false;

  uint32_t Rgb(uint32_t v) const {
    return red.Expand(v) << 16 | green.Expand(v) << 8 | blue.Expand(v);
  }
};

// Colour pixel x of a row as 0x00RRGGBB, and its straight alpha (32 bits).
uint32_t ReadColour(const uint8_t* row, int x, const ColourFormat& f, uint32_t& alpha) {
  alpha = 0;
  switch (f.bitsPerPixel) {
    case 32: {
      uint32_t v = ReadU32(row + static_cast<size_t>(x) * 4);
      if (f.alphaInByte3) alpha = v >> 24;
      return f.Rgb(v);
    }
    case 24: {
      const uint8_t* p = row + static_cast<size_t>(x) * 3;
      return static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
    }
    default: {  // 16
      return f.Rgb(ReadU16(row + static_cast<size_t>(x) * 2));
    }
  }
}

uint32_t Premultiply(uint32_t rgb, uint32_t alpha) {
  auto mul = [alpha](uint32_t c) { return (c * alpha + 127) / 255; };
  return alpha << 24 | mul((rgb >> 16) & 0xFF) << 16 | mul((rgb >> 8) & 0xFF) << 8 |
         mul(rgb & 0xFF);
}

// A 1-bit mask value goes through the mask palette: a bit is "set" when the
// palette entry it selects is light. Entry 1 carries only blue and green;
// its red is taken equal to its green (black and white palettes have equal
// channels). A palette whose two entries look alike is ignored.
struct MaskPalette {
  bool bitForZero = false;
  bool bitForOne = true;
};

MaskPalette ReadMaskPalette(uint32_t entry0, uint16_t entry1BG) {
  auto light = [](int b, int g, int r) { return b + g + r >= 3 * 128; };
  bool l0 = light(entry0 & 0xFF, (entry0 >> 8) & 0xFF, (entry0 >> 16) & 0xFF);
  bool l1 = light(entry1BG & 0xFF, (entry1BG >> 8) & 0xFF, (entry1BG >> 8) & 0xFF);
  MaskPalette p;
  if (l0 != l1) {
    p.bitForZero = l0;
    p.bitForOne = l1;
  }
  return p;
}

}  // namespace

bool BuildCursorImage(const uint8_t* payload, size_t length, RemoteCursorImage& out) {
  CursorShapeHeader h;
  if (payload == nullptr || !ParseCursorShapeHeader(payload, length, h)) return false;
  const uint8_t* colourData = payload + kCursorShapeHeaderSize;
  size_t colourSize = h.ColorSize();
  // The mask follows the colour bits; it may use whatever the payload holds
  // after them (rows padded to 4 bytes can be longer than the header's
  // product of width and height).
  const uint8_t* maskData = colourData + colourSize;
  size_t maskSize = length - kCursorShapeHeaderSize - colourSize;

  bool colourAnnounced = h.colorBitsPerPixel != 0;
  ColourFormat format;
  BitmapRows colour;
  bool hasColour = false;
  if (colourAnnounced) {
    format.bitsPerPixel = h.colorBitsPerPixel;
    bool supported = format.bitsPerPixel == 16 || format.bitsPerPixel == 24 ||
                     format.bitsPerPixel == 32;
    if (supported) {
      uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF;
      if (h.colorRedMask != 0 && h.colorGreenMask != 0 && h.colorBlueMask != 0) {
        red = h.colorRedMask;
        green = h.colorGreenMask;
        blue = h.colorBlueMask;
      } else if (format.bitsPerPixel == 16) {
        red = 0x7C00;
        green = 0x03E0;
        blue = 0x001F;
      }
      format.red = ColourChannel::FromMask(red);
      format.green = ColourChannel::FromMask(green);
      format.blue = ColourChannel::FromMask(blue);
      format.alphaInByte3 = format.bitsPerPixel == 32 && ((red | green | blue) & 0xFF000000u) == 0;
      hasColour = LayRows(colourData, colourSize, h.colorWidth, h.colorHeight,
                          format.bitsPerPixel, colour);
    }
  }

  BitmapRows mask;
  bool hasMask = h.maskHeight > 0 &&
                 LayRows(maskData, maskSize, h.maskWidth, h.maskHeight, 1, mask);
  if (h.maskHeight > 0 && !hasMask) return false;
  if (colourAnnounced && !hasColour && !hasMask) return false;

  int width = 0, height = 0;
  bool monochrome = !colourAnnounced;
  if (hasMask) {
    width = h.maskWidth;
    height = monochrome ? h.maskHeight / 2 : h.maskHeight;
  } else if (hasColour) {
    width = colour.width;
    height = colour.height;
  }
  if (width <= 0 || height <= 0) {
    // No bitmap at all: the cursor is not drawn.
    out.width = out.height = 0;
    out.hotX = h.hotX;
    out.hotY = h.hotY;
    out.argb.clear();
    out.invert.clear();
    return true;
  }

  size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  out.argb.assign(count, 0);
  out.invert.assign(count, 0);
  bool anyInvert = false;
  MaskPalette palette = ReadMaskPalette(h.maskPalette0, h.maskPalette1BG);
  // An absent mask row reads as AND 1 (transparent) above XOR 0.
  auto maskBit = [&](int x, int y, bool absent) {
    const uint8_t* row = mask.Row(y);
    if (row == nullptr) return absent;
    return Bit(row, x) ? palette.bitForOne : palette.bitForZero;
  };

  // A 32-bit colour bitmap with any non-zero alpha is drawn by its alpha;
  // otherwise the AND mask decides what is transparent.
  bool useAlpha = false;
  if (hasColour && format.alphaInByte3) {
    for (int y = 0; y < colour.height && !useAlpha; ++y) {
      const uint8_t* row = colour.Row(y);
      if (row == nullptr) continue;
      for (int x = 0; x < colour.width; ++x) {
        if (row[static_cast<size_t>(x) * 4 + 3] != 0) {
          useAlpha = true;
          break;
        }
      }
    }
  }

  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      size_t i = static_cast<size_t>(y) * width + x;
      if (monochrome) {
        // AND mask above the XOR mask: image rows 0..h-1 and h..2h-1.
        bool a = maskBit(x, y, true);
        bool xo = maskBit(x, y + height, false);
        if (!a) {
          out.argb[i] = xo ? 0xFFFFFFFFu : 0xFF000000u;
        } else if (xo) {
          out.invert[i] = 1;
          anyInvert = true;
        }
        continue;
      }
      uint32_t rgb = 0, alpha = 0;
      const uint8_t* colourRow = hasColour && x < colour.width ? colour.Row(y) : nullptr;
      if (colourRow != nullptr) rgb = ReadColour(colourRow, x, format, alpha);
      if (useAlpha) {
        out.argb[i] = Premultiply(rgb, alpha);
        continue;
      }
      bool transparent = hasMask && maskBit(x, y, true);
      if (!transparent) {
        out.argb[i] = 0xFF000000u | rgb;
      } else if (rgb != 0) {
        // AND 1 with a colour: the screen is XORed with it; shown as an
        // inversion.
        out.invert[i] = 1;
        anyInvert = true;
      }
    }
  }
  if (!anyInvert) out.invert.clear();
  out.width = width;
  out.height = height;
  out.hotX = h.hotX;
  out.hotY = h.hotY;
  return true;
}

CursorDraw TakeCursorForPaint(RemoteCursorState& s, int scrollX, int scrollY) {
  CursorDraw d;
  if (s.changed) {
    d.originX = s.x - s.hotX - scrollX;
    d.originY = s.y - s.hotY - scrollY;
    d.width = s.width;
    d.height = s.height;
    s.changed = false;
    s.lastX = s.x;
    s.lastY = s.y;
    s.lastWidth = s.width;
    s.lastHeight = s.height;
  } else {
    d.originX = s.lastX - s.hotX - scrollX;
    d.originY = s.lastY - s.hotY - scrollY;
    d.width = s.lastWidth;
    d.height = s.lastHeight;
  }
  return d;
}

void RemoteCursor::Reset() {
  std::lock_guard<std::mutex> lock(lock_);
  state_.x = state_.y = 0;
  state_.lastX = state_.lastY = 0;
  state_.hotX = state_.hotY = 0;
  state_.width = state_.height = 32;
  state_.lastWidth = state_.lastHeight = 32;
  state_.changed = false;
  state_.hasImage = false;
  state_.image = RemoteCursorImage{};
}

bool RemoteCursor::DecodeShape(const uint8_t* payload, size_t length) {
  if (!BuildCursorImage(payload, length, scratch_)) return false;
  std::lock_guard<std::mutex> lock(lock_);
  std::swap(state_.image, scratch_);
  state_.hasImage = state_.image.width > 0 && state_.image.height > 0;
  state_.lastWidth = state_.width;
  state_.lastHeight = state_.height;
  state_.width = state_.image.width;
  state_.height = state_.image.height;
  return true;
}

void RemoteCursor::SetPosition(int16_t x, int16_t y) {
  std::lock_guard<std::mutex> lock(lock_);
  state_.x = x;
  state_.y = y;
}

void RemoteCursor::Update(bool shapeChanged, ViewerSurface& surface) {
  std::lock_guard<std::mutex> lock(lock_);
  surface.InvalidateFramebufferRect(CursorArea(state_.lastX, state_.lastY, state_.hotX,
                                               state_.hotY, state_.lastWidth,
                                               state_.lastHeight));
  if (shapeChanged && state_.hasImage) {
    state_.hotX = state_.image.hotX;
    state_.hotY = state_.image.hotY;
  }
  surface.InvalidateFramebufferRect(
      CursorArea(state_.x, state_.y, state_.hotX, state_.hotY, state_.width, state_.height));
  state_.changed = true;
}

}  // namespace qc
