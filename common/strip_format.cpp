// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/strip_format.h"

namespace qc {

StripGeometry StripGeometry::Make(int width, int bytesPerPixel) {
  StripGeometry g;
  g.width = width;
  g.bytesPerPixel = bytesPerPixel;
  g.rowBytes = width * bytesPerPixel;
  g.substringBytes = g.rowBytes / 8;
  g.pixels = width / 8;
  g.tailBytes = g.rowBytes - 8 * g.substringBytes;
  g.rawWordBytes = 2 * g.pixels;
  g.oneBitBytes = (g.pixels + 7) / 8;
  g.twoBitBytes = (g.pixels + 3) / 4;
  g.fourBitBytes = (g.pixels + 1) / 2;
  g.fiveBitWords = (g.pixels + 2) / 3;
  g.fiveBitBytes = 2 * g.fiveBitWords;
  return g;
}

bool StripGeometry::IsSupported(int width, int bytesPerPixel) {
  return width >= 1 && width <= kMaxFrameWidth && (bytesPerPixel == 2 || bytesPerPixel == 4);
}

int StripGeometry::IndexBytes(int colours) const {
  switch (IndexBits(colours)) {
    case 0: return 0;
    case 1: return oneBitBytes;
    case 2: return twoBitBytes;
    case 4: return fourBitBytes;
    default: return fiveBitBytes;
  }
}

int StripGeometry::BodyBytes(uint8_t tag) const {
  if (tag & kCopyBit) return 0;
  const int n = tag & kColourCountMask;
  if (n == 0 || n > kRawColourCount) return -1;
  if (n == kRawColourCount) return RawBodyBytes();
  return n * bytesPerPixel + IndexBytes(n);
}

}  // namespace qc
