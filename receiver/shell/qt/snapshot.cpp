// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/qt/snapshot.h"

#include <QFile>
#include <bit>
#include <cstdio>

namespace qc {

namespace {

// Extracts one channel and widens it to 8 bits.
struct Channel {
  explicit Channel(uint32_t mask)
      : mask(mask), shift(mask ? std::countr_zero(mask) : 0), bits(std::popcount(mask)) {}
  uint32_t operator()(uint32_t pixel) const {
    if (bits == 0) return 0;
    uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return v >> (bits - 8);
    uint32_t out = 0;
    // Repeat the value's bits from the top down until 8 bits are filled.
    for (int filled = 0; filled < 8; filled += bits) {
      int left = 8 - filled - bits;
      out |= left >= 0 ? v << left : v >> -left;
    }
    return out & 0xFF;
  }
  uint32_t mask;
  int shift;
  int bits;
};

}  // namespace

QImage FramebufferImage(const FramebufferView& fb) {
  if (fb.pixels == nullptr || fb.width <= 0 || fb.height <= 0) return {};
  if (fb.bitsPerPixel != 16 && fb.bitsPerPixel != 32) return {};
  QImage image(fb.width, fb.height, QImage::Format_RGB32);
  if (image.isNull()) return {};
  Channel red(fb.EffectiveRedMask()), green(fb.EffectiveGreenMask()), blue(fb.EffectiveBlueMask());
  int bytes = fb.bitsPerPixel / 8;
  for (int y = 0; y < fb.height; ++y) {
    const uint8_t* row = fb.pixels + static_cast<size_t>(y) * fb.bytesPerRow;
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < fb.width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * bytes;
      uint32_t pixel = bytes == 2 ? static_cast<uint32_t>(p[0] | p[1] << 8)
                                  : static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
      out[x] = qRgb(static_cast<int>(red(pixel)), static_cast<int>(green(pixel)),
                    static_cast<int>(blue(pixel)));
    }
  }
  return image;
}

bool WriteSnapshot(const FramebufferView& fb, const QString& path) {
  QImage image = FramebufferImage(fb);
  if (image.isNull()) return false;
  QString temporary = path + QStringLiteral(".part");
  if (!image.save(temporary, "PNG")) {
    QFile::remove(temporary);
    return false;
  }
  // rename() replaces the old picture in one step.
  if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
    QFile::remove(temporary);
    return false;
  }
  return true;
}

}  // namespace qc
