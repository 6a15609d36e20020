// FramePainter: the framebuffer's pixel formats, unscaled and scaled paints,
// black margins. Paints into QImages on the offscreen platform.
#include "receiver/viewer/viewer_window_paint.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPainter>
#include <cstring>
#include <vector>

namespace qc {
namespace {

class PaintTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "paint_test";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (QGuiApplication::instance() == nullptr) {
      app_ = new QGuiApplication(argc, argv);
    }
  }

  // Paints `area` of a target of the given size (prefilled red so that an
  // unpainted pixel shows).
  static QImage PaintInto(FramePainter& fp, QSize target, QRect area, int scrollX, int scrollY,
                          int offX, int offY) {
    QImage out(target, QImage::Format_RGB32);
    out.fill(Qt::red);
    QPainter p(&out);
    fp.Paint(p, area, scrollX, scrollY, offX, offY);
    return out;
  }

  static QGuiApplication* app_;
};
QGuiApplication* PaintTest::app_ = nullptr;

std::vector<uint32_t> Pattern32(int w, int h) {
  std::vector<uint32_t> px(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      // Pad byte left at 0 as the sender's capture leaves it.
      px[static_cast<size_t>(y) * w + x] =
          (static_cast<uint32_t>(x * 7 & 0xff) << 16) | ((y * 5 & 0xff) << 8) | ((x + y) & 0xff);
    }
  }
  return px;
}

uint32_t Px(const QImage& img, int x, int y) {
  return reinterpret_cast<const uint32_t*>(img.constScanLine(y))[x];
}

TEST_F(PaintTest, UnscaledPaintEqualsTheFramebufferAndIsOpaque) {
  const int w = 120, h = 90;
  auto px = Pattern32(w, h);
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0xff0000, 0xff00, 0xff));
  const QImage out = PaintInto(fp, {w, h}, {0, 0, w, h}, 0, 0, 0, 0);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ASSERT_EQ(Px(out, x, y), px[static_cast<size_t>(y) * w + x] | 0xff000000u) << x << "," << y;
    }
  }
}

TEST_F(PaintTest, PixelFormatsFollowTheirMasks) {
  struct Case { const char* name; int bpp; uint32_t r, g, b; std::vector<uint32_t> in, rgb; } cases[] = {
      {"5-6-5", 16, 0xf800, 0x07e0, 0x1f, {0xf800, 0x07e0, 0x001f, 0xffff, 0x0000},
       {0xffff0000, 0xff00ff00, 0xff0000ff, 0xffffffff, 0xff000000}},
      {"no masks: 5-5-5", 16, 0, 0, 0, {0x7c00, 0x03e0, 0x001f, 0x4210},
       {0xffff0000, 0xff00ff00, 0xff0000ff, 0xff848484}},  // 16 of 31
      {"32 bits, blue high", 32, 0xff, 0xff00, 0xff0000, {0x000000ff, 0x0000ff00, 0x00ff0000},
       {0xffff0000, 0xff00ff00, 0xff0000ff}},
      // The pad byte is no alpha: every pixel opaque.
      {"pad byte", 32, 0, 0, 0, {0xff123456, 0x00123456, 0x7f123456, 0x80123456},
       {0xff123456, 0xff123456, 0xff123456, 0xff123456}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int n = static_cast<int>(c.in.size());
    std::vector<uint8_t> px(c.in.size() * c.bpp / 8);
    for (int i = 0; i < n; ++i) {
      if (c.bpp == 16) {
        const uint16_t v = static_cast<uint16_t>(c.in[i]);
        std::memcpy(&px[i * 2], &v, 2);
      } else {
        std::memcpy(&px[i * 4], &c.in[i], 4);
      }
    }
    FramePainter fp;
    ASSERT_TRUE(fp.Bind(px.data(), n, 1, c.bpp, c.r, c.g, c.b));
    const QImage out = PaintInto(fp, {n, 1}, {0, 0, n, 1}, 0, 0, 0, 0);
    for (int x = 0; x < n; ++x) {
      EXPECT_EQ(fp.PixelRgb(x, 0), c.rgb[x]) << x;
      EXPECT_EQ(Px(out, x, 0), c.rgb[x]) << x;
    }
  }
}

TEST_F(PaintTest, RejectsUnusableFormats) {
  uint32_t one = 0;
  FramePainter fp;
  EXPECT_FALSE(fp.Bind(reinterpret_cast<uint8_t*>(&one), 1, 1, 24, 0, 0, 0));
  EXPECT_FALSE(fp.Bind(reinterpret_cast<uint8_t*>(&one), 0, 1, 32, 0, 0, 0));
  EXPECT_FALSE(fp.Bind(reinterpret_cast<uint8_t*>(&one), 4097, 1, 32, 0, 0, 0));
  EXPECT_FALSE(fp.Bind(nullptr, 1, 1, 32, 0, 0, 0));
  EXPECT_FALSE(fp.IsBound());
}

TEST_F(PaintTest, ScrolledPaintOfAPartShowsTheRightPixelsAndLeavesTheRest) {
  const int w = 200, h = 150;
  auto px = Pattern32(w, h);
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0xff0000, 0xff00, 0xff));
  // Client 100 x 80 scrolled to (60, 40); only the rectangle (10, 5)-(50, 25) is painted.
  const QImage out = PaintInto(fp, {100, 80}, {10, 5, 40, 20}, 60, 40, 0, 0);
  EXPECT_EQ(Px(out, 10, 5), px[(40 + 5) * w + 60 + 10] | 0xff000000u);
  EXPECT_EQ(Px(out, 49, 24), px[(40 + 24) * w + 60 + 49] | 0xff000000u);
  EXPECT_EQ(Px(out, 9, 5), 0xffff0000u);   // outside the paint rectangle: untouched
  EXPECT_EQ(Px(out, 50, 24), 0xffff0000u);
}

TEST_F(PaintTest, MarginsAroundACentredImageArePaintedBlack) {
  const int w = 64, h = 48;
  std::vector<uint32_t> px(w * h, 0x00ffffff);
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0, 0, 0));
  const QImage out = PaintInto(fp, {100, 80}, {0, 0, 100, 80}, 0, 0, 18, 16);
  EXPECT_EQ(Px(out, 0, 0), 0xff000000u);
  EXPECT_EQ(Px(out, 17, 40), 0xff000000u);
  EXPECT_EQ(Px(out, 18, 16), 0xffffffffu);
  EXPECT_EQ(Px(out, 81, 63), 0xffffffffu);
  EXPECT_EQ(Px(out, 82, 63), 0xff000000u);
  EXPECT_EQ(Px(out, 50, 64), 0xff000000u);
  EXPECT_EQ(Px(out, 99, 79), 0xff000000u);
}

TEST_F(PaintTest, HalfScaleAveragesEachTwoByTwoBlock) {
  // Checkerboard of black and white pixels: every block is half white.
  const int w = 8, h = 8;
  std::vector<uint32_t> px(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) px[y * w + x] = ((x + y) & 1) ? 0x00ffffff : 0;
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0, 0, 0));
  fp.SetScale(50);
  EXPECT_EQ(fp.ImageRect(0, 0, 2, 3), QRect(2, 3, 4, 4));
  const QImage out = PaintInto(fp, {8, 8}, {0, 0, 8, 8}, 0, 0, 2, 3);
  for (int y = 3; y < 7; ++y)
    for (int x = 2; x < 6; ++x) EXPECT_EQ(Px(out, x, y), 0xff808080u) << x << "," << y;
  EXPECT_EQ(Px(out, 1, 3), 0xff000000u);
  EXPECT_EQ(Px(out, 6, 3), 0xff000000u);
  EXPECT_EQ(Px(out, 3, 7), 0xff000000u);
}

TEST_F(PaintTest, ThinLinesSurviveStrongDownscaling) {
  // A one-pixel white column on black at 40 %: nearest-pixel or bilinear
  // sampling can drop it; area averaging keeps 40 % of its brightness.
  const int w = 100, h = 10;
  std::vector<uint32_t> px(w * h, 0);
  for (int y = 0; y < h; ++y) px[y * w + 51] = 0x00ffffff;
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0, 0, 0));
  fp.SetScale(40);
  const QImage out = PaintInto(fp, {40, 4}, {0, 0, 40, 4}, 0, 0, 0, 0);
  // Source column 51 lies in destination column 20 (source 50.0 .. 52.5).
  EXPECT_EQ(qRed(Px(out, 20, 1)), 102);  // 255 x 0.4
  EXPECT_EQ(qRed(Px(out, 19, 1)), 0);
  EXPECT_EQ(qRed(Px(out, 21, 1)), 0);
}

TEST_F(PaintTest, ScaledPaintsInPiecesMatchOnePaintOfTheWhole) {
  // Repainting a band must not leave seams: every window pixel depends on
  // its position only, not on the painted rectangle.
  const int w = 333, h = 217;
  auto px = Pattern32(w, h);
  FramePainter fp;
  ASSERT_TRUE(fp.Bind(reinterpret_cast<uint8_t*>(px.data()), w, h, 32, 0, 0, 0));
  fp.SetScale(67);
  const QRect image = fp.ImageRect(0, 0, 5, 7);
  ASSERT_EQ(image, QRect(5, 7, 223, 145));
  const QImage whole = PaintInto(fp, {240, 160}, {0, 0, 240, 160}, 0, 0, 5, 7);
  QImage pieces(240, 160, QImage::Format_RGB32);
  pieces.fill(Qt::red);
  {
    QPainter p(&pieces);
    for (int y = 0; y < 160; y += 13) {
      for (int x = 0; x < 240; x += 37) fp.Paint(p, QRect(x, y, 37, 13) & QRect(0, 0, 240, 160), 0, 0, 5, 7);
    }
  }
  EXPECT_EQ(whole, pieces);
}

TEST_F(PaintTest, SixteenBitScaledMatchesThirtyTwoBitScaled) {
  const int w = 64, h = 32;
  std::vector<uint16_t> p16(w * h);
  std::vector<uint32_t> p32(w * h);
  for (int i = 0; i < w * h; ++i) {
    const uint16_t v = static_cast<uint16_t>(i * 2654435761u >> 16);
    p16[i] = v;
  }
  FramePainter f16, f32;
  ASSERT_TRUE(f16.Bind(reinterpret_cast<uint8_t*>(p16.data()), w, h, 16, 0xf800, 0x07e0, 0x1f));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p32[y * w + x] = f16.PixelRgb(x, y) & 0xffffff;
  ASSERT_TRUE(f32.Bind(reinterpret_cast<uint8_t*>(p32.data()), w, h, 32, 0, 0, 0));
  f16.SetScale(75);
  f32.SetScale(75);
  EXPECT_EQ(PaintInto(f16, {48, 24}, {0, 0, 48, 24}, 0, 0, 0, 0),
            PaintInto(f32, {48, 24}, {0, 0, 48, 24}, 0, 0, 0, 0));
}

}  // namespace
}  // namespace qc
