// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/cursor_shape.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "common/protocol.h"

namespace qc {

namespace {

// Rows of both bitmaps are padded to a multiple of 32 pixels: the 1-bit
// mask rows are then whole 32-bit words, so the padded row sizes of a
// device-independent bitmap and the unpadded sizes on the wire agree.
constexpr int kRowAlignPixels = 32;
// Header fields are signed 16-bit.
constexpr int kMaxCursorDimension = 32767;

int PaddedWidth(int width) {
  return (width + kRowAlignPixels - 1) / kRowAlignPixels * kRowAlignPixels;
}

size_t PayloadSize(int width, int height) {
  size_t padded = static_cast<size_t>(PaddedWidth(width));
  size_t pixels = padded * static_cast<size_t>(height);
  return kCursorShapeHeaderSize + pixels * 4 + pixels / 8;
}

bool Fits(int width, int height, size_t maxPayload) {
  return width <= kMaxCursorDimension && height <= kMaxCursorDimension &&
         PayloadSize(width, height) <= maxPayload;
}

int16_t Clamp16(int v) {
  return static_cast<int16_t>(std::clamp(v, -32768, 32767));
}

}  // namespace

CursorImage ScaleCursorImage(const CursorImage& image, int width, int height) {
  CursorImage out;
  out.handle = image.handle;
  out.width = width;
  out.height = height;
  out.hotX = static_cast<int>(static_cast<int64_t>(image.hotX) * width / image.width);
  out.hotY = static_cast<int>(static_cast<int64_t>(image.hotY) * height / image.height);
  out.pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    size_t sy = static_cast<size_t>(static_cast<int64_t>(y) * image.height / height);
    for (int x = 0; x < width; ++x) {
      size_t sx = static_cast<size_t>(static_cast<int64_t>(x) * image.width / width);
      out.pixels[static_cast<size_t>(y) * width + x] = image.pixels[sy * image.width + sx];
    }
  }
  return out;
}

bool BuildCursorShapePayload(const CursorImage& source, std::vector<uint8_t>& payload,
                             size_t maxPayload) {
  if (source.width <= 0 || source.height <= 0 ||
      source.pixels.size() != static_cast<size_t>(source.width) * source.height) {
    return false;
  }
  const CursorImage* image = &source;
  CursorImage scaled;
  if (!Fits(source.width, source.height, maxPayload)) {
    // The largest size with the image's aspect that fits, found by its
    // longer side; a cursor too thin to keep its aspect becomes 32 x 32.
    int longer = std::max(source.width, source.height);
    auto sizeFor = [&](int side, int& w, int& h) {
      w = std::max(1, static_cast<int>(static_cast<int64_t>(source.width) * side / longer));
      h = std::max(1, static_cast<int>(static_cast<int64_t>(source.height) * side / longer));
    };
    int lo = 1, hi = longer - 1, best = 0;
    while (lo <= hi) {
      int mid = lo + (hi - lo) / 2;
      int w, h;
      sizeFor(mid, w, h);
      if (Fits(w, h, maxPayload)) {
        best = mid;
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    int w = kFallbackCursorSize, h = kFallbackCursorSize;
    if (best > 0) sizeFor(best, w, h);
    if (!Fits(w, h, maxPayload)) return false;
    scaled = ScaleCursorImage(source, w, h);
    image = &scaled;
  }

  const int width = image->width;
  const int height = image->height;
  const int padded = PaddedWidth(width);
  const size_t colourRow = static_cast<size_t>(padded) * 4;
  const size_t maskRow = static_cast<size_t>(padded) / 8;
  const size_t colourSize = colourRow * height;

  CursorShapeHeader header;
  header.hotX = Clamp16(image->hotX);
  header.hotY = Clamp16(image->hotY);
  header.maskWidth = static_cast<int16_t>(padded);
  header.maskHeight = static_cast<int16_t>(height);
  header.colorWidth = static_cast<int16_t>(padded);
  header.colorHeight = static_cast<int16_t>(height);
  header.colorBitsPerPixel = 32;
  header.colorRedMask = 0x00FF0000;
  header.colorGreenMask = 0x0000FF00;
  header.colorBlueMask = 0x000000FF;
  header.maskPalette0 = 0x00000000;  // black
  header.maskPalette1BG = 0xFFFF;    // white

  payload.assign(kCursorShapeHeaderSize + colourSize + maskRow * height, 0);
  BuildCursorShapeHeader(header, payload.data());
  uint8_t* colour = payload.data() + kCursorShapeHeaderSize;
  uint8_t* mask = colour + colourSize;
  // Mask bits start as 1 (transparent), the padding included.
  std::memset(mask, 0xFF, maskRow * height);
  for (int y = 0; y < height; ++y) {
    // Bottom-up: the image's last row comes first.
    size_t row = static_cast<size_t>(height - 1 - y);
    uint8_t* colourOut = colour + row * colourRow;
    uint8_t* maskOut = mask + row * maskRow;
    const uint32_t* in = image->pixels.data() + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      // 0xAARRGGBB little-endian: blue, green, red, alpha.
      WriteU32(colourOut + 4 * x, in[x]);
      if ((in[x] >> 24) != 0) maskOut[x / 8] &= static_cast<uint8_t>(~(0x80 >> (x % 8)));
    }
  }
  return true;
}

}  // namespace qc
