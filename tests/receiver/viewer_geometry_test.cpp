// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer's pure geometry, as tables of worked examples.
#include "receiver/viewer/viewer_geometry.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

ViewTransform Fit(int s, int offX, int offY) {
  ViewTransform t;
  t.sx = t.sy = s;
  t.offX = offX;
  t.offY = offY;
  t.scaled = s != 100;
  return t;
}

TEST(ViewerGeometry, FullScreenFitsTheWholeImageCentred) {
  const struct { Extent fb, screen; ViewTransform fit; } cases[] = {
      {{1024, 768}, {1280, 1024}, Fit(100, 128, 128)},  // smaller: centred unscaled
      {{1280, 1024}, {1024, 768}, Fit(75, 32, 0)},      // sx 80, sy 75: the tighter one
      // The nearest percentage, 67, would make the image 1286 pixels wide.
      {{1920, 1080}, {1280, 1024}, Fit(66, 6, 156)},
      {{1280, 1024}, {1280, 1024}, Fit(100, 0, 0)},
      {{4096, 4096}, {20, 20}, Fit(1, 0, 0)},  // never below one percent
      {{0, 768}, {1280, 1024}, Fit(100, 0, 0)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FullScreenTransform(c.fb, c.screen), c.fit) << c.fb.width << "x" << c.fb.height;
  }
}

TEST(ViewerGeometry, FramebufferRectanglesAndTheCursorMapToTheWindow) {
  ViewTransform scrolled;
  scrolled.scrollY = 5;
  const struct { Rect fb; ViewTransform t; Rect window; } cases[] = {
      {{0, 10, 800, 21}, scrolled, {0, 5, 800, 16}},                // minus the scroll position
      {{0, 10, 1024, 21}, Fit(100, 128, 128), {128, 138, 1152, 149}},  // plus the offsets
      {{0, 99, 1280, 104}, Fit(75, 32, 0), {32, 56, 1045, 113}},    // widened to whole steps
  };
  for (const auto& c : cases) EXPECT_EQ(FramebufferToWindow(c.fb, c.t), c.window);
  // The cursor: its area, and its place in the window.
  EXPECT_EQ(CursorArea(100, 100, 15, 15, 32, 32), (Rect{85, 85, 117, 117}));
  const struct { int x, y; ViewTransform t; Rect window; } cursors[] = {
      {1010, 760, Fit(100, 128, 128), {1138, 888, 1170, 920}},
      {100, 40, Fit(50, 10, 0), {60, 20, 76, 36}},  // scaled with the image
  };
  for (const auto& c : cursors) EXPECT_EQ(PlaceCursor(c.x, c.y, 32, 32, c.t), c.window);
}

TEST(ViewerGeometry, PlacementIsCentredAndAtMostTheFramebuffer) {
  const Extent maxOuter = MaxOuterSize({800, 600}, {4, 30, 4, 4});
  EXPECT_EQ(maxOuter, (Extent{808, 634}));
  const struct { Rect work; Extent maxOuter; Rect placed; } cases[] = {
      {{0, 0, 1280, 1000}, maxOuter, {236, 183, 1044, 817}},
      {{0, 24, 1280, 1024}, {1920, 1080}, {0, 24, 1280, 1024}},  // fills a work area below a panel
      {{10, 10, 111, 111}, {50, 50}, {35, 35, 85, 85}},          // odd remainders truncate
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceCentred(c.work, c.maxOuter), c.placed);
}

TEST(ViewerGeometry, ScrollBarsShowOnlyWhileSomethingIsHiddenAndScrollsStayInRange) {
  const Extent maxOuter{1288, 1058};
  const struct { Extent outer; bool hidden; } cases[] = {
      {{1288, 1058}, true}, {{1400, 1100}, true}, {{1287, 1058}, false}, {{1288, 1057}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(ScrollBarsHidden(c.outer, maxOuter), c.hidden);
  EXPECT_EQ(ScrollBarFor(1920, 1000, 300), (ScrollBarRange{920, 1000, 300}));
  EXPECT_EQ(ScrollBarFor(800, 1000, 0), (ScrollBarRange{0, 1000, 0}));
  EXPECT_EQ(ScrollBarFor(800, -5, 0), (ScrollBarRange{800, 0, 0}));
  using R = ScrollRequest;
  const struct { R request; int page, thumb, pos, delta; } requests[] = {
      {R::LineBack, 1000, 0, 50, -2},       {R::LineForward, 1000, 0, 50, 2},
      {R::PageBack, 1003, 0, 50, -250},     {R::PageForward, 1003, 0, 50, 250},
      {R::ThumbPosition, 1000, 10, 50, -40}, {R::ThumbTrack, 1000, 700, 50, 650},
      {R::Other, 1000, 10, 50, 0},
  };
  for (const auto& c : requests) {
    EXPECT_EQ(ScrollRequestDelta(c.request, c.page, c.thumb, c.pos), c.delta)
        << static_cast<int>(c.request);
  }
  EXPECT_EQ(ClampScrollPosition(500, 1920, 1600), 320);
  EXPECT_EQ(ClampScrollPosition(500, 1920, 2560), 0);  // client wider than the framebuffer
  EXPECT_EQ(ClampScrollPosition(-5, 1024, 800), 0);

  const Extent fb{1920, 1080}, client{1000, 800}, small{800, 600}, wide{1280, 1000};
  const struct { ScrollDelta want; int x, y; Extent fb, client; ScrollDelta moved; } scrolls[] = {
      {{-2, 0}, 0, 0, fb, client, {0, 0}},          // at the start
      {{0, 200}, 920, 280, fb, client, {0, 0}},     // at the end
      {{5000, 0}, 100, 0, fb, client, {820, 0}},    // a drag past the end
      {{-5000, 0}, 100, 0, fb, client, {-100, 0}},
      {{10, -3}, 100, 50, fb, client, {10, -3}},
      {{2, 2}, 0, 0, small, wide, {0, 0}},          // never below 0
      {{0, 10}, 0, 100, small, wide, {0, -100}},
  };
  for (const auto& c : scrolls) {
    EXPECT_EQ(ScrollByDelta(c.want, c.x, c.y, c.fb, c.client), c.moved)
        << c.want.dx << "," << c.want.dy << " at " << c.x << "," << c.y;
  }
}

}  // namespace
}  // namespace qc
