#include "receiver/viewer/frame_painter.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

namespace qc {

namespace {

constexpr uint32_t kOpaque = 0xff000000u;

// The vertical pass keeps the three channel sums of a column in one 64-bit
// accumulator, 22 bits apart (at most 100 x 255 = 25,500 each). The
// horizontal pass multiplies by up to 100 again (2,550,000 plus the rounding
// term, below 2^22): blue and green stay together in the low 44 bits, red
// is summed on its own since its lane would pass bit 63.
constexpr int kLane = 22;
constexpr uint64_t kLaneMask = (uint64_t{1} << kLane) - 1;
constexpr uint32_t kWeightSquare = 100 * 100;

inline uint64_t Spread(uint32_t rgb) {
  return (rgb & 0xff) | (uint64_t{(rgb >> 8) & 0xff} << kLane) |
         (uint64_t{(rgb >> 16) & 0xff} << (2 * kLane));
}

constexpr uint64_t kLowLanes = (uint64_t{1} << (2 * kLane)) - 1;

inline uint32_t Gather(uint64_t blueGreen, uint64_t red) {
  constexpr uint64_t kHalf = kWeightSquare / 2;
  const auto b = static_cast<uint32_t>(((blueGreen & kLaneMask) + kHalf) / kWeightSquare);
  const auto g = static_cast<uint32_t>((((blueGreen >> kLane) & kLaneMask) + kHalf) / kWeightSquare);
  const auto r = static_cast<uint32_t>((red + kHalf) / kWeightSquare);
  return kOpaque | (r << 16) | (g << 8) | b;
}

inline uint32_t Expand(uint32_t value, int bits) {
  if (bits <= 0) {
    return 0;
  }
  if (bits >= 8) {
    return (value >> (bits - 8)) & 0xff;
  }
  const uint32_t max = (1u << bits) - 1;
  return (value * 255 + max / 2) / max;
}

}  // namespace

FramePainter::FramePainter() = default;
FramePainter::~FramePainter() = default;

FramePainter::Channel FramePainter::ChannelFor(uint32_t mask) {
  Channel c;
  c.mask = mask;
  if (mask == 0) {
    return c;
  }
  c.shift = __builtin_ctz(mask);
  c.bits = 32 - __builtin_clz(mask) - c.shift;
  return c;
}

bool FramePainter::Bind(const FramebufferView& fb) {
  Unbind();
  // The framebuffer's size was checked with its init message; the depth
  // decides how pixels are read, so it is checked here again.
  if (fb.pixels == nullptr || fb.width < 1 || fb.height < 1 ||
      (fb.bitsPerPixel != 16 && fb.bitsPerPixel != 32)) {
    return false;
  }
  const uint32_t redMask = fb.EffectiveRedMask();
  const uint32_t greenMask = fb.EffectiveGreenMask();
  const uint32_t blueMask = fb.EffectiveBlueMask();
  const int bitsPerPixel = fb.bitsPerPixel;
  const int width = fb.width;
  const int height = fb.height;
  red_ = ChannelFor(redMask);
  green_ = ChannelFor(greenMask);
  blue_ = ChannelFor(blueMask);
  bytesPerPixel_ = bitsPerPixel / 8;
  if (bitsPerPixel == 16) {
    layout_ = Layout::Lut16;
    lut16_.resize(65536);
    for (uint32_t v = 0; v < 65536; ++v) {
      lut16_[v] = ToRgb32(v);
    }
  } else if (redMask == 0xff0000 && greenMask == 0x00ff00 && blueMask == 0x0000ff) {
    layout_ = Layout::Xrgb32;
  } else {
    layout_ = Layout::Masks32;
  }
  converted_ = QImage(width, height, QImage::Format_RGB32);
  if (converted_.isNull()) {
    return false;
  }
  converted_.fill(Qt::black);
  rowBuffer_.assign(static_cast<size_t>(width), 0);
  accumulator_.assign(static_cast<size_t>(width), 0);
  pixels_ = fb.pixels;
  width_ = width;
  height_ = height;
  SetScale(100);
  return true;
}

void FramePainter::Unbind() {
  pixels_ = nullptr;
  width_ = height_ = 0;
  converted_ = QImage();
  scaled_ = QImage();
  scale_ = 100;
}

uint32_t FramePainter::ToRgb32(uint32_t value) const {
  const uint32_t r = Expand((value & red_.mask) >> red_.shift, red_.bits);
  const uint32_t g = Expand((value & green_.mask) >> green_.shift, green_.bits);
  const uint32_t b = Expand((value & blue_.mask) >> blue_.shift, blue_.bits);
  return kOpaque | (r << 16) | (g << 8) | b;
}

void FramePainter::FetchRow(int y, int x0, int count, uint32_t* out) const {
  const uint8_t* src =
      pixels_ + (static_cast<size_t>(y) * width_ + static_cast<size_t>(x0)) * bytesPerPixel_;
  switch (layout_) {
    case Layout::Xrgb32:
      // The pad byte is not alpha: force the result opaque.
      std::memcpy(out, src, static_cast<size_t>(count) * 4);
      for (int i = 0; i < count; ++i) {
        out[i] |= kOpaque;
      }
      break;
    case Layout::Lut16:
      for (int i = 0; i < count; ++i) {
        uint16_t v;
        std::memcpy(&v, src + 2 * i, 2);
        out[i] = lut16_[v];
      }
      break;
    case Layout::Masks32:
      for (int i = 0; i < count; ++i) {
        uint32_t v;
        std::memcpy(&v, src + 4 * i, 4);
        out[i] = ToRgb32(v);
      }
      break;
  }
}

void FramePainter::BuildTaps(int sourceExtent, int percent, Taps& taps) {
  const int dest = sourceExtent * percent / 100;
  taps.first.resize(dest);
  taps.count.resize(dest);
  taps.offset.resize(dest);
  taps.weights.clear();
  taps.weights.reserve(static_cast<size_t>(dest) * (100 / percent + 2));
  // Destination pixel d covers [100 d, 100 d + 100) and source pixel i covers
  // [s i, s i + s), both in units of 1/(100 s) source pixel; the overlap is
  // the weight, so every destination pixel's weights sum to 100.
  for (int d = 0; d < dest; ++d) {
    const int lo = 100 * d;
    const int hi = lo + 100;
    const int i0 = lo / percent;
    const int i1 = (hi - 1) / percent;
    taps.first[d] = i0;
    taps.count[d] = i1 - i0 + 1;
    taps.offset[d] = static_cast<int>(taps.weights.size());
    for (int i = i0; i <= i1; ++i) {
      const int w = std::min(hi, percent * (i + 1)) - std::max(lo, percent * i);
      taps.weights.push_back(static_cast<uint16_t>(w));
    }
  }
}

void FramePainter::SetScale(int percent) {
  percent = std::clamp(percent, 1, 100);
  scale_ = percent;
  if (!IsBound() || percent == 100) {
    scaled_ = QImage();
    return;
  }
  BuildTaps(width_, percent, columns_);
  BuildTaps(height_, percent, rows_);
  const int sw = static_cast<int>(columns_.first.size());
  const int sh = static_cast<int>(rows_.first.size());
  if (sw > 0 && sh > 0) {
    scaled_ = QImage(sw, sh, QImage::Format_RGB32);
    scaled_.fill(Qt::black);
  } else {
    scaled_ = QImage();
  }
}

QRect FramePainter::ImageRect(int scrollX, int scrollY, int offX, int offY) const {
  if (!IsBound()) {
    return {};
  }
  if (scale_ == 100) {
    return {offX - scrollX, offY - scrollY, width_, height_};
  }
  return {offX, offY, scaled_.width(), scaled_.height()};
}

void FramePainter::ConvertRect(const QRect& source) {
  for (int y = source.top(); y <= source.bottom(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(converted_.scanLine(y));
    FetchRow(y, source.left(), source.width(), line + source.left());
  }
}

void FramePainter::ScaleRect(const QRect& dest) {
  const int firstColumn = columns_.first[dest.left()];
  const int lastColumn = columns_.first[dest.right()] + columns_.count[dest.right()];
  const int span = lastColumn - firstColumn;
  uint32_t* row = rowBuffer_.data();
  uint64_t* acc = accumulator_.data();
  for (int dy = dest.top(); dy <= dest.bottom(); ++dy) {
    std::fill(acc, acc + span, uint64_t{0});
    const int rowTaps = rows_.count[dy];
    const uint16_t* rowWeights = &rows_.weights[rows_.offset[dy]];
    for (int k = 0; k < rowTaps; ++k) {
      FetchRow(rows_.first[dy] + k, firstColumn, span, row);
      const uint64_t w = rowWeights[k];
      for (int i = 0; i < span; ++i) {
        acc[i] += w * Spread(row[i]);
      }
    }
    auto* out = reinterpret_cast<uint32_t*>(scaled_.scanLine(dy));
    for (int dx = dest.left(); dx <= dest.right(); ++dx) {
      const uint64_t* a = acc + (columns_.first[dx] - firstColumn);
      const uint16_t* w = &columns_.weights[columns_.offset[dx]];
      uint64_t blueGreen = 0;
      uint64_t red = 0;
      for (int k = 0, n = columns_.count[dx]; k < n; ++k) {
        blueGreen += w[k] * (a[k] & kLowLanes);
        red += w[k] * (a[k] >> (2 * kLane));
      }
      out[dx] = Gather(blueGreen, red);
    }
  }
}

void FramePainter::Paint(QPainter& painter, const QRect& area, int scrollX, int scrollY,
                         int offX, int offY) {
  if (area.isEmpty()) {
    return;
  }
  const QRect image = ImageRect(scrollX, scrollY, offX, offY);
  const QRect part = area & image;
  if (part.isEmpty()) {
    painter.fillRect(area, Qt::black);
    return;
  }
  // Black around the image: bands above and below, then left and right.
  if (part.top() > area.top()) {
    painter.fillRect(QRect(area.left(), area.top(), area.width(), part.top() - area.top()),
                     Qt::black);
  }
  if (part.bottom() < area.bottom()) {
    painter.fillRect(QRect(area.left(), part.bottom() + 1, area.width(),
                           area.bottom() - part.bottom()),
                     Qt::black);
  }
  if (part.left() > area.left()) {
    painter.fillRect(QRect(area.left(), part.top(), part.left() - area.left(), part.height()),
                     Qt::black);
  }
  if (part.right() < area.right()) {
    painter.fillRect(
        QRect(part.right() + 1, part.top(), area.right() - part.right(), part.height()),
        Qt::black);
  }
  const QRect source = part.translated(-image.topLeft());
  if (scale_ == 100) {
    ConvertRect(source);
    painter.drawImage(part.topLeft(), converted_, source);
  } else {
    ScaleRect(source);
    painter.drawImage(part.topLeft(), scaled_, source);
  }
}

}  // namespace qc
