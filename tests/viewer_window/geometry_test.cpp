// The viewer window's geometry: placement, scroll bars and requests, the
// full-screen fit, as pure functions.
#include "receiver/viewer/viewer_window_geometry.h"

#include <gtest/gtest.h>

#include <ostream>

namespace qc {
// For EXPECT_EQ on transforms.
bool operator==(const ViewTransform& a, const ViewTransform& b) {
  return a.scrollX == b.scrollX && a.scrollY == b.scrollY && a.scaled == b.scaled &&
         a.sx == b.sx && a.sy == b.sy && a.offX == b.offX && a.offY == b.offY;
}
void PrintTo(const ViewTransform& t, std::ostream* os) {
  *os << "s=" << t.sx << "/" << t.sy << " off=" << t.offX << "," << t.offY
      << (t.scaled ? " scaled" : "");
}
}  // namespace qc

namespace qc::viewer_window {
namespace {

ViewTransform Fit(int s, int offX, int offY) {
  ViewTransform t;
  t.sx = t.sy = s;
  t.offX = offX;
  t.offY = offY;
  t.scaled = s != 100;
  return t;
}

TEST(PlacementTest, CentredInTheWorkAreaAtMostTheFramebuffersSize) {
  const Extent maxOuter = MaxOuterSize({800, 600}, {4, 30, 4, 4});
  EXPECT_EQ(maxOuter, (Extent{808, 634}));
  EXPECT_EQ(PlaceCentred({0, 0, 1280, 1000}, maxOuter), (Rect{236, 183, 1044, 817}));
  // Larger than a work area below a 24-pixel top panel: fills it.
  EXPECT_EQ(PlaceCentred({0, 24, 1280, 1024}, MaxOuterSize({1920, 1080}, {})),
            (Rect{0, 24, 1280, 1024}));
  // Odd remainders truncate.
  EXPECT_EQ(PlaceCentred({10, 10, 111, 111}, {50, 50}), (Rect{35, 35, 85, 85}));
  // The drag limit.
  EXPECT_EQ(MaxClientSize({1920, 1080}), (Extent{1920, 1080}));
}

TEST(ScrollBarsTest, HiddenOnlyWhenTheWholeFramebufferShowsAndRangeCoversTheRest) {
  const Extent maxOuter{1288, 1058};
  EXPECT_TRUE(ScrollBarsHidden({1288, 1058}, maxOuter));
  EXPECT_TRUE(ScrollBarsHidden({1400, 1100}, maxOuter));
  EXPECT_FALSE(ScrollBarsHidden({1287, 1058}, maxOuter));
  EXPECT_FALSE(ScrollBarsHidden({1288, 1057}, maxOuter));
  EXPECT_EQ(ScrollBarFor(1920, 1000, 300), (ScrollBarRange{920, 1000, 300}));
  EXPECT_EQ(ScrollBarFor(800, 1000, 0), (ScrollBarRange{0, 1000, 0}));
  EXPECT_EQ(ScrollBarFor(800, -5, 0), (ScrollBarRange{800, 0, 0}));
}

TEST(ScrollTest, PositionOnResizeAndRequestDeltas) {
  EXPECT_EQ(ClampScrollPosition(500, 1920, 1000), 500);
  EXPECT_EQ(ClampScrollPosition(500, 1920, 1600), 320);
  EXPECT_EQ(ClampScrollPosition(500, 1920, 2560), 0);  // maximised, wider than the framebuffer
  struct Case { int request, page, thumb, pos, delta; } cases[] = {
      {0, 1000, 0, 50, -2},     // line left / up
      {1, 1000, 0, 50, 2},      // line right / down
      {2, 1003, 0, 50, -250},   // page left / up
      {3, 1003, 0, 50, 250},    // page right / down
      {4, 1000, 10, 50, -40},   // thumb position
      {5, 1000, 700, 50, 650},  // thumb track
      {8, 1000, 10, 50, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScrollRequestDelta(c.request, c.page, c.thumb, c.pos), c.delta) << "request " << c.request;
  }
}

TEST(ScrollByTest, DeltasAreClampedToTheFramebuffer) {
  const Extent fb{1920, 1080}, client{1000, 800}, small{800, 600}, wide{1280, 1000};
  struct Case { ScrollDelta want; ScrollPosition pos; Extent fb, client; ScrollDelta expect; } cases[] = {
      // Line and page requests at either end do nothing.
      {{-2, 0}, {0, 0}, fb, client, {0, 0}},
      {{0, -200}, {0, 0}, fb, client, {0, 0}},
      {{2, 0}, {920, 280}, fb, client, {0, 0}},
      {{0, 200}, {920, 280}, fb, client, {0, 0}},
      // A thumb drag past the end stops at W - cw.
      {{5000, 0}, {100, 0}, fb, client, {820, 0}},
      {{-5000, 0}, {100, 0}, fb, client, {-100, 0}},
      {{10, -3}, {100, 50}, fb, client, {10, -3}},
      // Client wider than the framebuffer: the position stays at 0 (taken
      // literally, the clamp would give -480), and falls back to 0, not below.
      {{2, 2}, {0, 0}, small, wide, {0, 0}},
      {{-2, 0}, {0, 0}, small, wide, {0, 0}},
      {{0, 10}, {0, 100}, small, wide, {0, -100}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScrollByDelta(c.want, c.pos, c.fb, c.client), c.expect)
        << c.want.dx << "," << c.want.dy << " at " << c.pos.x << "," << c.pos.y;
  }
  EXPECT_EQ(qc::ClampScrollDelta(2, 0, small.width, wide.width), -480);
}

TEST(FullScreenTest, ScaleAndOffsets) {
  struct Case { Extent fb, screen; ViewTransform expect; } cases[] = {
      {{1024, 768}, {1280, 1024}, Fit(100, 128, 128)},  // smaller: centred unscaled
      {{1280, 1024}, {1024, 768}, Fit(75, 32, 0)},      // sx 80, sy 75: the tighter one
      // The nearest percentage, 67, would make the image 1286 pixels wide on
      // a 1280-pixel screen; 66 gives 1267 x 712, centred.
      {{1920, 1080}, {1280, 1024}, Fit(66, 6, 156)},
      {{1280, 1024}, {1280, 1024}, Fit(100, 0, 0)},  // exact fit
  };
  for (const Case& c : cases) {
    const ViewTransform fit = FullScreenTransform(c.fb, c.screen);
    EXPECT_EQ(fit, c.expect) << c.fb.width << "x" << c.fb.height;
    const Extent image = ScaledImageSize(c.fb, fit.sx);
    EXPECT_LE(fit.offX + image.width, c.screen.width);
    EXPECT_LE(fit.offY + image.height, c.screen.height);
  }
  // Taken literally the nearest percentage overhangs the screen.
  EXPECT_EQ(qc::FitToScreen(1280, 1024, 1920, 1080).sx, 67);
  // A tiny screen never goes below one percent.
  const ViewTransform tiny = FullScreenTransform({4096, 4096}, {20, 20});
  EXPECT_EQ(tiny.sx, 1);
  EXPECT_TRUE(tiny.scaled);
}

}  // namespace
}  // namespace qc::viewer_window
