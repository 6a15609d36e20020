#include "receiver/viewer/viewer_geometry.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(MulDiv, RoundsToNearestHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(1350, 75, 100), 1013);  // 1012.5
  EXPECT_EQ(MulDiv(75, 75, 100), 56);      // 56.25
  EXPECT_EQ(MulDiv(150, 75, 100), 113);    // 112.5
  EXPECT_EQ(MulDiv(-150, 75, 100), -113);
  EXPECT_EQ(MulDiv(1280, 100, 1920), 67);  // 66.7
  EXPECT_EQ(MulDiv(5, 5, 0), -1);
}

TEST(FitToScreen, ScaleAndOffsetsOfEachExample) {
  struct Case { int screenW, screenH, fbW, fbH, s, offX, offY; bool scaled; } cases[] = {
      {1280, 1024, 1024, 768, 100, 128, 128, false},  // smaller: centred unscaled
      {1024, 768, 1280, 1024, 75, 32, 0, true},       // sx 80, sy 75: the smaller
      {1280, 1024, 1920, 1080, 67, 0, 150, true},     // sx 67, sy 95: letterboxed
      {1920, 1080, 1920, 1080, 100, 0, 0, false},     // exact size
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.fbW << "x" << c.fbH << " on " << c.screenW << "x" << c.screenH);
    ViewTransform t = FitToScreen(c.screenW, c.screenH, c.fbW, c.fbH);
    EXPECT_EQ(t.sx, c.s);
    EXPECT_EQ(t.sy, c.s);
    EXPECT_EQ(t.offX, c.offX);
    EXPECT_EQ(t.offY, c.offY);
    EXPECT_EQ(t.scaled, c.scaled);
  }
}

TEST(FramebufferToWindow, ScrollOffsetsAndScaledBands) {
  ViewTransform scaled;  // a scaled band widens to whole steps, then maps
  scaled.scaled = true;
  scaled.sx = scaled.sy = 75;
  scaled.offX = 32;
  EXPECT_EQ(FramebufferToWindow(Rect{0, 99, 1280, 104}, scaled), (Rect{32, 56, 1045, 113}));
  ViewTransform scrolled;  // windowed: the scroll position is subtracted
  scrolled.scrollY = 5;
  EXPECT_EQ(FramebufferToWindow(Rect{0, 10, 800, 21}, scrolled), (Rect{0, 5, 800, 16}));
  ViewTransform centred;  // unscaled full screen: the offsets are added
  centred.offX = centred.offY = 128;
  EXPECT_EQ(FramebufferToWindow(Rect{0, 10, 1024, 21}, centred), (Rect{128, 138, 128 + 1024, 149}));
}

TEST(PaintRects, UnscaledSourceFollowsScrollAndOffsets) {
  ViewTransform t;
  t.scrollX = 10;
  t.scrollY = 20;
  int x = 0, y = 0;
  UnscaledPaintSource(Rect{5, 6, 50, 60}, t, x, y);
  EXPECT_EQ(x, 15);
  EXPECT_EQ(y, 26);
}

TEST(PaintRects, ScaledRectsCoverWholeStepsPlusTwo) {
  ViewTransform t;
  t.scaled = true;
  t.sx = t.sy = 75;
  t.offX = 32;
  StretchRects s = ScaledPaintRects(Rect{100, 100, 200, 150}, t);
  // Q = (68, 100, 168, 150) -> (0, 75, 227, 152)
  EXPECT_EQ(s.dest, (Rect{32, 75, 32 + 227, 152}));
  EXPECT_EQ(s.source.left, 0);
  EXPECT_EQ(s.source.top, 100);
  EXPECT_EQ(s.source.Width(), 227 * 100 / 75);
  EXPECT_EQ(s.source.Height(), 77 * 100 / 75);
}

TEST(CursorGeometry, AreaIsPositionMinusHotSpot) {
  EXPECT_EQ(CursorArea(10, 10, 0, 0, 32, 32), (Rect{10, 10, 42, 42}));
  EXPECT_EQ(CursorArea(200, 150, 0, 0, 32, 32), (Rect{200, 150, 232, 182}));
  EXPECT_EQ(CursorArea(100, 100, 15, 15, 32, 32), (Rect{85, 85, 117, 117}));
}

TEST(CursorGeometry, CursorOverTheImageEdgeGetsMarginFills) {
  ViewTransform t;
  t.offX = 128;
  t.offY = 128;
  CursorPlacement p = PlaceCursor(1010, 760, 32, 32, t, 1024, 768);
  EXPECT_EQ(p.image, (Rect{1138, 888, 1170, 920}));
  EXPECT_EQ(p.fillRight, (Rect{128 + 1024, 888, 1170, 920}));
  EXPECT_EQ(p.fillBottom, (Rect{1138, 128 + 768, 1170, 920}));
  CursorPlacement inside = PlaceCursor(10, 10, 32, 32, t, 1024, 768);
  EXPECT_TRUE(inside.fillRight.IsEmpty());
  EXPECT_TRUE(inside.fillBottom.IsEmpty());
}

TEST(CursorGeometry, ScaledCursorIsScaledWithTheImage) {
  ViewTransform t;
  t.scaled = true;
  t.sx = t.sy = 50;
  t.offX = 10;
  CursorPlacement p = PlaceCursor(100, 40, 32, 32, t, 2000, 1000);
  EXPECT_EQ(p.image, (Rect{60, 20, 76, 36}));
}

TEST(Scrolling, PositionsAndDeltasAreClamped) {
  EXPECT_EQ(ClampScrollPosition(300, 1024, 800), 224);
  EXPECT_EQ(ClampScrollPosition(-5, 1024, 800), 0);
  EXPECT_EQ(ClampScrollDelta(-2, 0, 1024, 800), 0);       // line left at the start
  EXPECT_EQ(ClampScrollDelta(2, 224, 1024, 800), 0);      // line right at the end
  EXPECT_EQ(ClampScrollDelta(5000, 10, 1024, 800), 214);  // thumb past the end
  EXPECT_EQ(ScrollRequestDelta(5, 800, 300, 100), 200);  // more in the window's geometry tests
}

}  // namespace
}  // namespace qc
