// SPDX-License-Identifier: GPL-3.0-or-later
// FramePainter: scaled paints, black margins (the pixel formats are
// PixelFormat's, tested with the viewer core). Paints into QImages on the
// offscreen platform; unscaled and scrolled paints are checked on a real X
// server in window_test.
#include "receiver/viewer/qt/frame_painter.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "tests/viewer_window/qt_test_env.h"

namespace qc {
namespace {

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new test::QtEnvironment(false));

bool Bind(FramePainter& fp, const void* px, int w, int h, int bpp, uint32_t r = 0, uint32_t g = 0,
          uint32_t b = 0) {
  InitMessage format;
  format.width = static_cast<uint16_t>(w);
  format.height = static_cast<uint16_t>(h);
  format.bitsPerPixel = static_cast<uint16_t>(bpp);
  format.redMask = r;
  format.greenMask = g;
  format.blueMask = b;
  return fp.Bind(DescribeFramebuffer(static_cast<const uint8_t*>(px), format));
}

// Paints `area` of a target of the given size (prefilled red so that an
// unpainted pixel shows).
QImage PaintInto(FramePainter& fp, QSize target, QRect area, int scrollX = 0, int scrollY = 0,
                 int offX = 0, int offY = 0) {
  QImage out(target, QImage::Format_RGB32);
  out.fill(Qt::red);
  QPainter p(&out);
  fp.Paint(p, area, scrollX, scrollY, offX, offY);
  return out;
}

uint32_t Px(const QImage& img, int x, int y) {
  return reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x];
}

TEST(FramePainter, MarginsAroundACentredImageArePaintedBlack) {
  std::vector<uint32_t> px(64 * 48, 0x00ffffff);
  FramePainter fp;
  ASSERT_TRUE(Bind(fp, px.data(), 64, 48, 32));
  const QImage out = PaintInto(fp, {100, 80}, {0, 0, 100, 80}, 0, 0, 18, 16);
  const struct { int x, y; uint32_t rgb; } probes[] = {
      {0, 0, 0xff000000}, {17, 40, 0xff000000}, {18, 16, 0xffffffff}, {81, 63, 0xffffffff},
      {82, 63, 0xff000000}, {50, 64, 0xff000000}, {99, 79, 0xff000000}};
  for (const auto& p : probes) EXPECT_EQ(Px(out, p.x, p.y), p.rgb) << p.x << "," << p.y;
}

// Scaled paints average areas: at 50 % a checkerboard of black and white
// becomes grey; at 40 % a one-pixel white column on black, which nearest-
// pixel or bilinear sampling can drop, keeps 40 % of its brightness.
TEST(FramePainter, DownscalingAveragesAreas) {
  std::vector<uint32_t> px(8 * 8);
  for (int i = 0; i < 64; ++i) px[i] = ((i % 8 + i / 8) & 1) ? 0x00ffffff : 0;
  FramePainter fp;
  ASSERT_TRUE(Bind(fp, px.data(), 8, 8, 32));
  fp.SetScale(50);
  EXPECT_EQ(fp.ImageRect(0, 0, 2, 3), QRect(2, 3, 4, 4));
  const QImage out = PaintInto(fp, {8, 8}, {0, 0, 8, 8}, 0, 0, 2, 3);
  for (int y = 3; y < 7; ++y)
    for (int x = 2; x < 6; ++x) EXPECT_EQ(Px(out, x, y), 0xff808080u) << x << "," << y;
  EXPECT_EQ(Px(out, 1, 3), 0xff000000u);
  EXPECT_EQ(Px(out, 6, 3), 0xff000000u);
  EXPECT_EQ(Px(out, 3, 7), 0xff000000u);

  std::vector<uint32_t> column(100 * 10, 0);
  for (int y = 0; y < 10; ++y) column[y * 100 + 51] = 0x00ffffff;
  ASSERT_TRUE(Bind(fp, column.data(), 100, 10, 32));
  fp.SetScale(40);
  const QImage thin = PaintInto(fp, {40, 4}, {0, 0, 40, 4});
  // Source column 51 lies in destination column 20 (source 50.0 .. 52.5).
  EXPECT_EQ(qRed(Px(thin, 20, 1)), 102);  // 255 x 0.4
  EXPECT_EQ(qRed(Px(thin, 19, 1)), 0);
  EXPECT_EQ(qRed(Px(thin, 21, 1)), 0);
}

TEST(FramePainter, ScaledPaintsMatchInPiecesAndAtSixteenBits) {
  // Repainting a band must not leave seams: every window pixel depends on
  // its position only, not on the painted rectangle. The pieces are painted
  // under a clip, so they are drawn from the painter's scaled image, the
  // whole written straight into the target.
  std::vector<uint32_t> px(333 * 217);
  test::FillPattern32(reinterpret_cast<uint8_t*>(px.data()), 333, 217);
  FramePainter fp;
  ASSERT_TRUE(Bind(fp, px.data(), 333, 217, 32));
  fp.SetScale(67);
  ASSERT_EQ(fp.ImageRect(0, 0, 5, 7), QRect(5, 7, 223, 145));
  const QImage whole = PaintInto(fp, {240, 160}, {0, 0, 240, 160}, 0, 0, 5, 7);
  QImage pieces(240, 160, QImage::Format_RGB32);
  pieces.fill(Qt::red);
  {
    QPainter p(&pieces);
    for (int y = 0; y < 160; y += 13)
      for (int x = 0; x < 240; x += 37) {
        const QRect piece = QRect(x, y, 37, 13) & QRect(0, 0, 240, 160);
        p.setClipRect(piece);
        fp.Paint(p, piece, 0, 0, 5, 7);
      }
  }
  EXPECT_EQ(whole, pieces);
  // Against the exact area average: at most 1 off per channel.
  const double step = 100.0 / 67;  // source pixels per destination pixel
  auto overlap = [&](int d, int i) {
    return std::max(0.0, std::min((d + 1) * step, i + 1.0) - std::max(d * step, double(i)));
  };
  int worst = 0;
  for (int dy = 0; dy < 145; ++dy)
    for (int dx = 0; dx < 223; ++dx)
      for (int shift = 0; shift < 24; shift += 8) {
        double sum = 0;
        for (int y = int(dy * step); y < std::min(217.0, (dy + 1) * step); ++y)
          for (int x = int(dx * step); x < std::min(333.0, (dx + 1) * step); ++x)
            sum += overlap(dy, y) * overlap(dx, x) * ((px[y * 333 + x] >> shift) & 0xff);
        const int exact = int(std::lround(sum / (step * step)));
        worst = std::max(worst, std::abs(int((Px(whole, dx + 5, dy + 7) >> shift) & 0xff) - exact));
      }
  EXPECT_LE(worst, 1);
  // 16-bit pixels scale as the same colours in 32 bits do.
  const int w = 64, h = 32;
  std::vector<uint16_t> p16(w * h);
  for (int i = 0; i < w * h; ++i) p16[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
  FramePainter f16, f32;
  ASSERT_TRUE(Bind(f16, p16.data(), w, h, 16, 0xf800, 0x07e0, 0x1f));
  // The same colours as 32-bit pixels: the unscaled paint of the 16-bit ones.
  QImage unscaled = PaintInto(f16, {w, h}, {0, 0, w, h});
  ASSERT_TRUE(Bind(f32, unscaled.constBits(), w, h, 32));
  f16.SetScale(75);
  f32.SetScale(75);
  EXPECT_EQ(PaintInto(f16, {48, 24}, {0, 0, 48, 24}), PaintInto(f32, {48, 24}, {0, 0, 48, 24}));
}

// A large scaled paint is split over two threads; its rows come out as
// when painted band by band on one.
TEST(FramePainter, ALargeScaledPaintEqualsItsBands) {
  std::vector<uint32_t> px(1000 * 800);
  test::FillPattern32(reinterpret_cast<uint8_t*>(px.data()), 1000, 800);
  FramePainter fp;
  ASSERT_TRUE(Bind(fp, px.data(), 1000, 800, 32));
  fp.SetScale(67);
  const QRect all(0, 0, 670, 536);
  const QImage whole = PaintInto(fp, all.size(), all);
  QImage bands(all.size(), QImage::Format_RGB32);
  bands.fill(Qt::red);
  {
    QPainter p(&bands);
    for (int y = 0; y < all.height(); y += 41) fp.Paint(p, QRect(0, y, 670, 41) & all, 0, 0, 0, 0);
  }
  EXPECT_EQ(whole, bands);
}

}  // namespace
}  // namespace qc
