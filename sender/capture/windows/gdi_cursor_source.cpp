// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/windows/gdi_cursor_source.h"

#include <windows.h>

#include <cstdint>
#include <vector>

#include "common/log_file.h"

namespace qc {

namespace {

uint32_t HandleValue(HCURSOR cursor) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(cursor));
}

// Releases what GetIconInfo and GetDC hand out, on every path.
struct IconParts {
  ICONINFO info{};
  HDC dc = GetDC(nullptr);
  ~IconParts() {
    if (info.hbmColor != nullptr) DeleteObject(info.hbmColor);
    if (info.hbmMask != nullptr) DeleteObject(info.hbmMask);
    if (dc != nullptr) ReleaseDC(nullptr, dc);
  }
};

// Reads a bitmap's rows top-down at bitCount bits per pixel; rows padded to
// 4 bytes.
bool ReadBits(HDC dc, HBITMAP bitmap, int width, int height, int bitCount,
              std::vector<uint8_t>& out) {
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[2];
  } info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = -height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bitCount);
  info.header.biCompression = BI_RGB;
  size_t rowBytes = ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
  out.assign(rowBytes * height, 0);
  return GetDIBits(dc, bitmap, 0, height, out.data(), reinterpret_cast<BITMAPINFO*>(&info),
                   DIB_RGB_COLORS) == height;
}

}  // namespace

uint32_t GdiCursorSource::MaskedPixel(bool andBit, uint32_t xorColour) {
  xorColour &= 0xFFFFFF;
  if (!andBit) return 0xFF000000 | xorColour;
  return xorColour != 0 ? 0xFF000000 : 0;  // inverted: black; else transparent
}

bool GdiCursorSource::Query(CursorState& state) {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  if (!GetCursorInfo(&info)) return false;
  state.handle = HandleValue(info.hCursor);
  state.showing = info.flags == CURSOR_SHOWING;
  state.x = info.ptScreenPos.x;
  state.y = info.ptScreenPos.y;
  return true;
}

bool GdiCursorSource::ReadImage(CursorImage& image) {
  CURSORINFO cursor{};
  cursor.cbSize = sizeof cursor;
  if (!GetCursorInfo(&cursor) || cursor.hCursor == nullptr) return false;
  IconParts parts;
  if (parts.dc == nullptr || !GetIconInfo(cursor.hCursor, &parts.info)) return false;
  BITMAP mask{};
  if (parts.info.hbmMask == nullptr || !GetObject(parts.info.hbmMask, sizeof mask, &mask)) {
    Log().Print("qcCapture: Could not get mono bitmap info\n");
    return false;
  }
  bool colour = parts.info.hbmColor != nullptr;
  int width = mask.bmWidth;
  // A monochrome cursor stacks its XOR mask under its AND mask.
  int height = colour ? mask.bmHeight : mask.bmHeight / 2;
  if (width <= 0 || height <= 0) return false;

  std::vector<uint8_t> colourBits;
  if (colour && !ReadBits(parts.dc, parts.info.hbmColor, width, height, 32, colourBits)) {
    Log().Print("qcCapture: Could not get color bitmap data\n");
    return false;
  }
  std::vector<uint8_t> maskBits;
  if (!ReadBits(parts.dc, parts.info.hbmMask, width, mask.bmHeight, 1, maskBits)) {
    Log().Print("qcCapture: Could not get mono bitmap data\n");
    return false;
  }
  size_t maskRow = ((static_cast<size_t>(width) + 31) / 32) * 4;
  auto bit = [&](int x, int y) { return (maskBits[maskRow * y + x / 8] >> (7 - x % 8)) & 1; };
  auto colourAt = [&](int x, int y) {
    const uint8_t* p = &colourBits[(static_cast<size_t>(y) * width + x) * 4];
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
  };
  bool hasAlpha = false;
  for (size_t i = 3; i < colourBits.size(); i += 4) hasAlpha |= colourBits[i] != 0;

  image.handle = HandleValue(cursor.hCursor);
  image.width = width;
  image.height = height;
  image.hotX = static_cast<int>(parts.info.xHotspot);
  image.hotY = static_cast<int>(parts.info.yHotspot);
  image.pixels.resize(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t& out = image.pixels[static_cast<size_t>(y) * width + x];
      if (hasAlpha) {
        out = colourAt(x, y);
      } else {
        uint32_t xorColour = colour ? colourAt(x, y) : (bit(x, y + height) ? 0xFFFFFF : 0);
        out = MaskedPixel(bit(x, y) != 0, xorColour);
      }
    }
  }
  return true;
}

}  // namespace qc
