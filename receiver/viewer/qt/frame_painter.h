// SPDX-License-Identifier: GPL-3.0-or-later
// FramePainter: turns the receiver's framebuffer (the sender's 16- or 32-bit
// pixels with its colour masks, top-down, rows W x B bytes apart; read
// through PixelFormat) into what the viewer window shows: the image unscaled
// or scaled down with an area-averaging filter, and black margins around it.
//
// GUI thread only. The framebuffer is read without a lock while the update
// thread writes it; a paint may show a half-decoded band, which the paint
// that follows the update corrects.
//
// Nothing is allocated per paint: Bind() and SetScale() size the conversion
// image, the scaled image and the filter tables once. A scaled paint of a
// large area (a full frame) runs half of its rows on a helper thread and
// returns when both halves are done.
#pragma once

#include <QImage>
#include <QRect>
#include <cstdint>
#include <memory>
#include <vector>

#include "receiver/viewer/framebuffer.h"
#include "receiver/viewer/pixel_format.h"

class QPainter;

namespace qc {

class FramePainter {
 public:
  FramePainter();
  ~FramePainter();
  FramePainter(const FramePainter&) = delete;
  FramePainter& operator=(const FramePainter&) = delete;

  // Binds a framebuffer (not owned; it must outlive the binding or be
  // unbound first), read with its effective masks. False for a null
  // framebuffer or a depth other than 16 and 32 bits.
  bool Bind(const FramebufferView& framebuffer);
  void Unbind();
  bool IsBound() const { return format_.IsBound(); }
  int Width() const { return format_.Width(); }
  int Height() const { return format_.Height(); }

  // The bound framebuffer's format: the OpenGL view converts the rows it
  // uploads through it.
  const PixelFormat& Format() const { return format_; }

  // Scale percentage 1..100 (100: unscaled); builds the filter tables.
  void SetScale(int percent);
  int Scale() const { return scale_; }

  // Where the image lies in the window (client coordinates): at
  // (offX - scrollX, offY - scrollY), framebuffer size when unscaled, the
  // scaled size otherwise.
  QRect ImageRect(int scrollX, int scrollY, int offX, int offY) const;

  // Paints the client-area rectangle `area`: the part of the image inside
  // it and black everywhere else. The image is written straight into the
  // painter's own 32-bit image where that is what drawing would do (a
  // widget's backing store), else drawn from the painter's images.
  void Paint(QPainter& painter, const QRect& area, int scrollX, int scrollY, int offX,
             int offY);

 private:
  struct Taps {
    std::vector<int> first;     // first source index per destination index
    std::vector<int> count;     // number of source indices contributing
    std::vector<int> offset;    // into weights
    std::vector<uint16_t> weights;  // sum to 100 per destination index
    int stride = 1;                 // weights per destination index (zero padded)
  };

  void ConvertRect(const QRect& source);
  // Per-thread working rows of the scaler.
  struct Scratch {
    std::vector<uint32_t> rowBuffer;    // up to four fetched source row spans
    std::vector<uint16_t> accumulator;  // per source column: four byte-lane sums
    std::vector<uint8_t> columnBytes;   // per source column: the rounded sums
  };
  // Where scaled pixels go: destination pixel (x, y) at `bits` +
  // (y - origin.y) rows + (x - origin.x) pixels.
  struct Target {
    uint8_t* bits = nullptr;
    size_t bytesPerLine = 0;
    QPoint origin;
  };
  class HelperThread;

  void ScaleRect(const QRect& dest, const Target& target);
  void ScaleRows(const QRect& dest, Scratch& scratch, const Target& target) const;
  // The painter's own image at `rect` (painter coordinates), when the
  // picture can be written there instead of drawn.
  static bool DirectTarget(QPainter& painter, const QRect& rect, Target& target);
  template <int kTaps>
  void GatherRow(const uint8_t* columns, int firstColumn, int left, int right,
                 uint32_t* out) const;
  static void BuildTaps(int sourceExtent, int percent, Taps& taps);

  PixelFormat format_;  // the bound framebuffer

  QImage converted_;  // framebuffer size, 0xffRRGGBB, refreshed per painted rectangle
  int scale_ = 100;
  QImage scaled_;     // scaled image size
  Taps columns_, rows_;
  std::vector<uint16_t> laneWeights_; // per destination column: 4 taps x 4 lanes
  // Large scaled paints are split in two: the top half here, the bottom
  // half on a helper thread (started with the first such paint, on
  // machines with more than one core).
  Scratch scratch_[2];
  std::unique_ptr<HelperThread> helper_;
};

}  // namespace qc
