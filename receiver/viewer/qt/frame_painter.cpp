// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/qt/frame_painter.h"

#include <QPaintEngine>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace qc {

namespace {

constexpr uint32_t kOpaque = 0xff000000u;
// Destination rows with up to this many source rows are blended in one pass.
constexpr int kFusedTaps = 4;
// Scaled paints of at least this many pixels (about 200 rows of a full
// screen) are split over two threads; a band of a few text lines is not
// worth the hand-over.
constexpr int64_t kSplitPixels = 256 * 1024;

// The scaler works on the four bytes of a pixel as lanes of small vectors
// (GCC/Clang vector extensions: SSE2 or NEON code, no intrinsics). Both
// passes run on 16-bit lanes: the weights of one destination index sum to
// 100, so a weighted sum of bytes stays at or below 100 x 255 = 25,500. The
// vertical pass rounds its column sums back to bytes, the horizontal pass
// sums those; the two roundings put a channel at most 1 away from the exact
// area average, which no one sees and which spares the 32-bit sums.
typedef uint8_t U8x4 __attribute__((vector_size(4)));
typedef uint8_t U8x8 __attribute__((vector_size(8)));
typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x4 __attribute__((vector_size(8)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint32_t U32x4 __attribute__((vector_size(16)));

// Sums the weighted source row `bytes` (span pixels of four bytes) into
// the column sums `acc`; the first tap of a row stores instead of adding,
// the last one rounds the sums to the bytes `out` instead.
QC_LIVE_PIXELS inline void AccumulateRow(const uint8_t* bytes, int span, uint16_t weight, bool first, bool last,
                          uint16_t* acc, uint8_t* out) {
  const int lanes = span * 4;
  int i = 0;
  for (; i + 8 <= lanes; i += 8) {
    U8x8 v;
    std::memcpy(&v, bytes + i, 8);
    U16x8 sum = __builtin_convertvector(v, U16x8) * weight;
    if (!first) {
      U16x8 old;
      std::memcpy(&old, acc + i, 16);
      sum += old;
    }
    if (last) {
      const U8x8 rounded = __builtin_convertvector((sum + 50) / 100, U8x8);
      std::memcpy(out + i, &rounded, 8);
    } else {
      std::memcpy(acc + i, &sum, 16);
    }
  }
  for (; i < lanes; ++i) {
    const auto term = static_cast<uint16_t>(bytes[i] * weight);
    const auto sum = static_cast<uint16_t>(first ? term : acc[i] + term);
    acc[i] = sum;
    if (last) {
      out[i] = static_cast<uint8_t>((sum + 50) / 100);
    }
  }
}

// The same sums for one destination row whose kTaps (1..4) source rows are
// all at hand: each 16-byte column chunk of every row is loaded once, summed
// in registers and rounded at once, with no column sums kept in memory.
template <int kTaps>
QC_LIVE_PIXELS inline void BlendRows(const uint8_t* const* rows, const uint16_t* weights, int lanes,
                                     uint8_t* out) {
  // Held in locals: `out` may alias anything, which would reload them.
  const uint8_t* row[kTaps];
  U16x8 weight[kTaps];
  for (int k = 0; k < kTaps; ++k) {
    row[k] = rows[k];
    weight[k] = U16x8{} + weights[k];
  }
  int i = 0;
  for (; i + 16 <= lanes; i += 16) {
    U16x8 low = {}, high = {};
    for (int k = 0; k < kTaps; ++k) {
      U8x16 v;
      std::memcpy(&v, row[k] + i, 16);
      low += __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7), U16x8) *
             weight[k];
      high += __builtin_convertvector(
                  __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15), U16x8) *
              weight[k];
    }
    const U8x8 a = __builtin_convertvector((low + 50) / 100, U8x8);
    const U8x8 b = __builtin_convertvector((high + 50) / 100, U8x8);
    const U8x16 both = __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    std::memcpy(out + i, &both, 16);
  }
  for (; i < lanes; ++i) {
    unsigned sum = 0;
    for (int k = 0; k < kTaps; ++k) {
      sum += row[k][i] * weights[k];
    }
    out[i] = static_cast<uint8_t>((sum + 50) / 100);
  }
}

// One destination pixel from the column bytes at `columns`: up to four taps
// (zero weights pad the shorter ones) from one 16-byte load with the weights
// spread over the lanes (kTaps 4), otherwise tap by tap (kTaps 0).
template <int kTaps>
QC_LIVE_PIXELS inline uint32_t Gather(const uint8_t* columns, const uint16_t* lanes, const uint16_t* weights,
                       int taps) {
  U16x4 sum;
  if constexpr (kTaps > 0) {
    U8x16 v;
    std::memcpy(&v, columns, 16);
    const U16x8 low =
        __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7), U16x8);
    const U16x8 high =
        __builtin_convertvector(__builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15), U16x8);
    U16x8 wLow, wHigh;
    std::memcpy(&wLow, lanes, 16);
    std::memcpy(&wHigh, lanes + 8, 16);
    const U16x8 both = low * wLow + high * wHigh;
    sum = __builtin_shufflevector(both, both, 0, 1, 2, 3) +
          __builtin_shufflevector(both, both, 4, 5, 6, 7);
  } else {
    sum = U16x4{0, 0, 0, 0};
    for (int k = 0; k < taps; ++k) {
      U8x4 v;
      std::memcpy(&v, columns + 4 * k, 4);
      sum += __builtin_convertvector(v, U16x4) * weights[k];
    }
  }
  const U8x4 bytes = __builtin_convertvector((sum + 50) / 100, U8x4);
  uint32_t pixel;
  std::memcpy(&pixel, &bytes, 4);
  return pixel | kOpaque;
}

// Two neighbouring destination pixels of up to four taps each, as Gather<4>
// does for one: the two sums share one rounding, one pack and one store.
QC_LIVE_PIXELS inline void GatherPair(const uint8_t* columnsA, const uint8_t* columnsB,
                                      const uint16_t* lanes, uint32_t* out) {
  U8x16 a, b;
  std::memcpy(&a, columnsA, 16);
  std::memcpy(&b, columnsB, 16);
  U16x8 w[4];
  std::memcpy(w, lanes, sizeof w);
  const U16x8 sumA =
      __builtin_convertvector(__builtin_shufflevector(a, a, 0, 1, 2, 3, 4, 5, 6, 7), U16x8) * w[0] +
      __builtin_convertvector(__builtin_shufflevector(a, a, 8, 9, 10, 11, 12, 13, 14, 15), U16x8) *
          w[1];
  const U16x8 sumB =
      __builtin_convertvector(__builtin_shufflevector(b, b, 0, 1, 2, 3, 4, 5, 6, 7), U16x8) * w[2] +
      __builtin_convertvector(__builtin_shufflevector(b, b, 8, 9, 10, 11, 12, 13, 14, 15), U16x8) *
          w[3];
  // Taps 0 + 2 and 1 + 3 of A in the low half, of B in the high half.
  const U16x8 sum = __builtin_shufflevector(sumA, sumB, 0, 1, 2, 3, 8, 9, 10, 11) +
                    __builtin_shufflevector(sumA, sumB, 4, 5, 6, 7, 12, 13, 14, 15);
  const U8x8 bytes = __builtin_convertvector((sum + 50) / 100, U8x8);
  uint64_t pixels;
  std::memcpy(&pixels, &bytes, 8);
  pixels |= 0xff000000ff000000ull;
  std::memcpy(out, &pixels, 8);
}

}  // namespace

// The helper thread of split paints: runs one job at a time, handed over
// and waited for under its mutex (which orders the job's writes before the
// paint that uses them).
class FramePainter::HelperThread {
 public:
  // Rows of the scaled image: which, and where it lies.
  struct Job {
    QRect dest;
    Target target;
  };
  explicit HelperThread(std::function<void(const Job&)> work)
      : work_(std::move(work)), thread_([this] { Run(); }) {}
  ~HelperThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Start(const Job& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = job;
      pending_ = true;
    }
    wake_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return !pending_; });
  }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || pending_; });
      if (quit_) {
        return;
      }
      lock.unlock();
      work_(job_);
      lock.lock();
      pending_ = false;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(const Job&)> work_;
  Job job_;
  bool pending_ = false;
  bool quit_ = false;
  std::thread thread_;  // last: starts once the rest is ready
};

FramePainter::FramePainter() = default;
FramePainter::~FramePainter() = default;

bool FramePainter::Bind(const FramebufferView& fb) {
  Unbind();
  if (!format_.Bind(fb)) {
    return false;
  }
  converted_ = QImage(fb.width, fb.height, QImage::Format_RGB32);
  if (converted_.isNull()) {
    format_.Unbind();
    return false;
  }
  converted_.fill(Qt::black);
  for (Scratch& scratch : scratch_) {
    scratch.rowBuffer.assign(static_cast<size_t>(fb.width) * kFusedTaps, 0);
    scratch.accumulator.assign(static_cast<size_t>(fb.width) * 4, 0);
  }
  SetScale(100);
  return true;
}

void FramePainter::Unbind() {
  format_.Unbind();
  converted_ = QImage();
  scaled_ = QImage();
  scale_ = 100;
}

void FramePainter::BuildTaps(int sourceExtent, int percent, Taps& taps) {
  const int dest = sourceExtent * percent / 100;
  taps.first.resize(dest);
  taps.count.resize(dest);
  taps.offset.resize(dest);
  // At most this many source pixels meet one destination pixel; every
  // destination pixel gets that many weights, the missing ones zero.
  taps.stride = (99 + percent - 1) / percent + 1;
  taps.weights.assign(static_cast<size_t>(dest) * taps.stride, 0);
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
    taps.offset[d] = d * taps.stride;
    for (int i = i0; i <= i1; ++i) {
      const int w = std::min(hi, percent * (i + 1)) - std::max(lo, percent * i);
      taps.weights[static_cast<size_t>(taps.offset[d] + i - i0)] = static_cast<uint16_t>(w);
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
  BuildTaps(Width(), percent, columns_);
  BuildTaps(Height(), percent, rows_);
  // The gather reads 16 bytes from a pixel's first tap: padded taps read
  // past the last column (with weight zero).
  for (Scratch& scratch : scratch_) {
    scratch.columnBytes.assign(static_cast<size_t>(Width() + 4) * 4, 0);
  }
  laneWeights_.assign(columns_.stride <= 4 ? columns_.first.size() * 16 : 0, 0);
  for (size_t d = 0; d < laneWeights_.size() / 16; ++d) {
    for (int k = 0; k < columns_.stride; ++k) {
      for (int lane = 0; lane < 4; ++lane) {
        laneWeights_[d * 16 + 4 * k + lane] = columns_.weights[d * columns_.stride + k];
      }
    }
  }
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
    return {offX - scrollX, offY - scrollY, Width(), Height()};
  }
  return {offX, offY, scaled_.width(), scaled_.height()};
}

QC_LIVE_PIXELS void FramePainter::ConvertRect(const QRect& source) {
  for (int y = source.top(); y <= source.bottom(); ++y) {
    auto* line = reinterpret_cast<uint32_t*>(converted_.scanLine(y));
    format_.ConvertRow(y, source.left(), source.width(), line + source.left());
  }
}

void FramePainter::ScaleRect(const QRect& dest, const Target& target) {
  static const bool kOneCore = std::thread::hardware_concurrency() < 2;
  if (static_cast<int64_t>(dest.width()) * dest.height() < kSplitPixels || kOneCore) {
    ScaleRows(dest, scratch_[0], target);
    return;
  }
  if (helper_ == nullptr) {
    helper_ = std::make_unique<HelperThread>([this](const HelperThread::Job& job) {
      ScaleRows(job.dest, scratch_[1], job.target);
    });
  }
  const int middle = dest.top() + dest.height() / 2;
  const QRect top(dest.left(), dest.top(), dest.width(), middle - dest.top());
  const QRect bottom(dest.left(), middle, dest.width(), dest.bottom() + 1 - middle);
  helper_->Start({bottom, target});
  ScaleRows(top, scratch_[0], target);
  helper_->Wait();
}

QC_LIVE_PIXELS void FramePainter::ScaleRows(const QRect& dest, Scratch& scratch,
                                            const Target& target) const {
  const int firstColumn = columns_.first[dest.left()];
  const int lastColumn = columns_.first[dest.right()] + columns_.count[dest.right()];
  const int span = lastColumn - firstColumn;
  uint16_t* acc = scratch.accumulator.data();
  uint8_t* columns = scratch.columnBytes.data();
  // Source row y's span as bytes: read in place from a framebuffer of the
  // right layout (the pad byte's lane is summed but never used), else
  // fetched into row buffer `slot`.
  auto sourceRow = [&](int y, int slot) QC_LIVE_PIXELS -> const uint8_t* {
    if (format_.IsXrgb32()) {
      return format_.View().pixels +
             (static_cast<size_t>(y) * Width() + static_cast<size_t>(firstColumn)) * 4;
    }
    uint32_t* buffer = scratch.rowBuffer.data() + static_cast<size_t>(slot) * Width();
    format_.ConvertRow(y, firstColumn, span, buffer);
    return reinterpret_cast<const uint8_t*>(buffer);
  };
  for (int dy = dest.top(); dy <= dest.bottom(); ++dy) {
    const int rowTaps = rows_.count[dy];
    const int firstRow = rows_.first[dy];
    const uint16_t* rowWeights = &rows_.weights[rows_.offset[dy]];
    if (rowTaps <= kFusedTaps) {
      const uint8_t* rows[kFusedTaps];
      for (int k = 0; k < rowTaps; ++k) {
        rows[k] = sourceRow(firstRow + k, k);
      }
      switch (rowTaps) {
        case 1: BlendRows<1>(rows, rowWeights, span * 4, columns); break;
        case 2: BlendRows<2>(rows, rowWeights, span * 4, columns); break;
        case 3: BlendRows<3>(rows, rowWeights, span * 4, columns); break;
        default: BlendRows<4>(rows, rowWeights, span * 4, columns); break;
      }
    } else {
      // Below 34 %: row by row through the column sums.
      for (int k = 0; k < rowTaps; ++k) {
        AccumulateRow(sourceRow(firstRow + k, 0), span, rowWeights[k], k == 0, k == rowTaps - 1,
                      acc, columns);
      }
    }
    auto* out = reinterpret_cast<uint32_t*>(
        target.bits + static_cast<size_t>(dy - target.origin.y()) * target.bytesPerLine +
        static_cast<size_t>(dest.left() - target.origin.x()) * 4);
    if (columns_.stride <= 4) {
      GatherRow<4>(columns, firstColumn, dest.left(), dest.right(), out);
    } else {
      GatherRow<0>(columns, firstColumn, dest.left(), dest.right(), out);
    }
  }
}

template <int kTaps>
QC_LIVE_PIXELS void FramePainter::GatherRow(const uint8_t* columns, int firstColumn, int left, int right,
                             uint32_t* out) const {
  const int stride = columns_.stride;
  const uint16_t* weights = columns_.weights.data();
  const uint16_t* lanes = laneWeights_.data();
  const int* first = columns_.first.data();
  int dx = left;
  if constexpr (kTaps == 4) {
    for (; dx + 1 <= right; dx += 2) {
      GatherPair(columns + 4 * (first[dx] - firstColumn), columns + 4 * (first[dx + 1] - firstColumn),
                 lanes + static_cast<size_t>(dx) * 16, out + (dx - left));
    }
  }
  for (; dx <= right; ++dx) {
    out[dx - left] = Gather<kTaps>(columns + 4 * (first[dx] - firstColumn),
                            lanes + static_cast<size_t>(dx) * 16,
                            weights + static_cast<size_t>(dx) * stride, stride);
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
  Target direct;
  if (DirectTarget(painter, part, direct)) {
    // Straight into the painter's image: the source rectangle's top left
    // lands at the part's.
    direct.origin = source.topLeft();
    if (scale_ == 100) {
      for (int y = source.top(); y <= source.bottom(); ++y) {
        format_.ConvertRow(y, source.left(), source.width(),
                 reinterpret_cast<uint32_t*>(direct.bits + static_cast<size_t>(y - source.top()) *
                                                               direct.bytesPerLine));
      }
    } else {
      ScaleRect(source, direct);
    }
    return;
  }
  if (scale_ == 100) {
    ConvertRect(source);
    painter.drawImage(part.topLeft(), converted_, source);
  } else {
    // Rows are written through a pointer taken here: QImage::scanLine() is
    // not for two threads at once.
    ScaleRect(source, {scaled_.bits(), static_cast<size_t>(scaled_.bytesPerLine()), QPoint(0, 0)});
    painter.drawImage(part.topLeft(), scaled_, source);
  }
}

bool FramePainter::DirectTarget(QPainter& painter, const QRect& rect, Target& target) {
  // Only where writing the pixels is exactly what drawing them would do: a
  // raster engine on a 32-bit image of its own (not shared: writing must
  // not detach it), moved but not scaled, no clip of the caller's, full
  // opacity, and the (opaque) picture drawn over what is there.
  QPaintEngine* engine = painter.paintEngine();
  if (engine == nullptr || engine->type() != QPaintEngine::Raster || engine->paintDevice() == nullptr ||
      engine->paintDevice()->devType() != QInternal::Image || painter.hasClipping() ||
      painter.opacity() != 1.0 || painter.compositionMode() != QPainter::CompositionMode_SourceOver) {
    return false;
  }
  auto* image = static_cast<QImage*>(engine->paintDevice());
  const QImage::Format format = image->format();
  if ((format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied &&
       format != QImage::Format_ARGB32) ||
      image->devicePixelRatio() != 1.0 || !image->isDetached()) {
    return false;
  }
  const QTransform& transform = painter.deviceTransform();
  if (transform.type() > QTransform::TxTranslate || transform.dx() != std::floor(transform.dx()) ||
      transform.dy() != std::floor(transform.dy())) {
    return false;
  }
  const QRect onDevice = rect.translated(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
  if (!image->rect().contains(onDevice)) {
    return false;
  }
  target.bytesPerLine = static_cast<size_t>(image->bytesPerLine());
  target.bits = image->bits() + static_cast<size_t>(onDevice.top()) * target.bytesPerLine +
                static_cast<size_t>(onDevice.left()) * 4;
  return true;
}

}  // namespace qc
