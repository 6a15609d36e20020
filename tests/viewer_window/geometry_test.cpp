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

TEST(PlacementTest, SmallFramebufferIsCentredAtItsOwnSize) {
  const Rect work{0, 0, 1280, 1000};
  const Extent maxOuter = MaxOuterSize({800, 600}, {4, 30, 4, 4});
  EXPECT_EQ(maxOuter, (Extent{808, 634}));
  EXPECT_EQ(PlaceCentred(work, maxOuter), (Rect{236, 183, 1044, 817}));
}

TEST(PlacementTest, LargeFramebufferFillsTheWorkArea) {
  // Work area below a 24-pixel top panel.
  const Rect work{0, 24, 1280, 1024};
  EXPECT_EQ(PlaceCentred(work, MaxOuterSize({1920, 1080}, {})), (Rect{0, 24, 1280, 1024}));
}

TEST(PlacementTest, OddRemaindersTruncate) {
  EXPECT_EQ(PlaceCentred({10, 10, 111, 111}, {50, 50}), (Rect{35, 35, 85, 85}));
}

TEST(ScrollBarsTest, HiddenOnlyWhenTheWindowShowsTheWholeFramebuffer) {
  const Extent maxOuter{1288, 1058};
  EXPECT_TRUE(ScrollBarsHidden({1288, 1058}, maxOuter));
  EXPECT_TRUE(ScrollBarsHidden({1400, 1100}, maxOuter));
  EXPECT_FALSE(ScrollBarsHidden({1287, 1058}, maxOuter));
  EXPECT_FALSE(ScrollBarsHidden({1288, 1057}, maxOuter));
}

TEST(ScrollBarsTest, RangeCoversWhatLiesOutsideTheClientArea) {
  EXPECT_EQ(ScrollBarFor(1920, 1000, 300), (ScrollBarRange{920, 1000, 300}));
  EXPECT_EQ(ScrollBarFor(800, 1000, 0), (ScrollBarRange{0, 1000, 0}));
  EXPECT_EQ(ScrollBarFor(800, -5, 0), (ScrollBarRange{800, 0, 0}));
}

TEST(ScrollPositionTest, EnlargingTheWindowPullsThePositionBackButNeverBelowZero) {
  EXPECT_EQ(ClampScrollPosition(500, 1920, 1000), 500);
  EXPECT_EQ(ClampScrollPosition(500, 1920, 1600), 320);
  // A maximised window wider than the framebuffer.
  EXPECT_EQ(ClampScrollPosition(500, 1920, 2560), 0);
}

TEST(ScrollRequestTest, DeltasOfEachRequest) {
  EXPECT_EQ(ScrollRequestDelta(0, 1000, 0, 50), -2);     // line left / up
  EXPECT_EQ(ScrollRequestDelta(1, 1000, 0, 50), 2);      // line right / down
  EXPECT_EQ(ScrollRequestDelta(2, 1003, 0, 50), -250);   // page left / up
  EXPECT_EQ(ScrollRequestDelta(3, 1003, 0, 50), 250);    // page right / down
  EXPECT_EQ(ScrollRequestDelta(4, 1000, 10, 50), -40);   // thumb position
  EXPECT_EQ(ScrollRequestDelta(5, 1000, 700, 50), 650);  // thumb track
  EXPECT_EQ(ScrollRequestDelta(8, 1000, 10, 50), 0);
}

TEST(ScrollByTest, LineAndPageRequestsAtEitherEndDoNothing) {
  const Extent fb{1920, 1080};
  const Extent client{1000, 800};
  EXPECT_EQ(ScrollByDelta({-2, 0}, {0, 0}, fb, client), (ScrollDelta{0, 0}));
  EXPECT_EQ(ScrollByDelta({0, -200}, {0, 0}, fb, client), (ScrollDelta{0, 0}));
  EXPECT_EQ(ScrollByDelta({2, 0}, {920, 280}, fb, client), (ScrollDelta{0, 0}));
  EXPECT_EQ(ScrollByDelta({0, 200}, {920, 280}, fb, client), (ScrollDelta{0, 0}));
}

TEST(ScrollByTest, ThumbDragPastTheEndStopsAtFramebufferMinusClient) {
  const Extent fb{1920, 1080};
  const Extent client{1000, 800};
  EXPECT_EQ(ScrollByDelta({5000, 0}, {100, 0}, fb, client), (ScrollDelta{820, 0}));
  EXPECT_EQ(ScrollByDelta({-5000, 0}, {100, 0}, fb, client), (ScrollDelta{-100, 0}));
  EXPECT_EQ(ScrollByDelta({10, -3}, {100, 50}, fb, client), (ScrollDelta{10, -3}));
}

TEST(ScrollByTest, ClientWiderThanFramebufferKeepsThePositionAtZero) {
  // Taken literally, min(max(dx, -x), W - cw - x) gives -480 here and a
  // negative scroll position; the position stays at 0 instead.
  const Extent fb{800, 600};
  const Extent client{1280, 1000};
  EXPECT_EQ(qc::ClampScrollDelta(2, 0, fb.width, client.width), -480);
  EXPECT_EQ(ScrollByDelta({2, 2}, {0, 0}, fb, client), (ScrollDelta{0, 0}));
  EXPECT_EQ(ScrollByDelta({-2, 0}, {0, 0}, fb, client), (ScrollDelta{0, 0}));
  // A position left over from a smaller window falls back to 0, not below.
  EXPECT_EQ(ScrollByDelta({0, 10}, {0, 100}, fb, client), (ScrollDelta{0, -100}));
}

TEST(FullScreenTest, SmallerFramebufferIsCentredUnscaled) {
  EXPECT_EQ(FullScreenTransform({1024, 768}, {1280, 1024}), Fit(100, 128, 128));
}

TEST(FullScreenTest, LargerFramebufferScalesToTheTighterDirection) {
  // sx = 80, sy = 75: both become 75; 960 x 768 centred horizontally.
  EXPECT_EQ(FullScreenTransform({1280, 1024}, {1024, 768}), Fit(75, 32, 0));
}

TEST(FullScreenTest, WideFramebufferIsScaledSoThatItFitsWithoutCropping) {
  // The nearest percentage, 67, would make the image 1286 pixels wide on a
  // 1280-pixel screen; 66 gives 1267 x 712, centred.
  const ViewTransform fit = FullScreenTransform({1920, 1080}, {1280, 1024});
  EXPECT_EQ(fit, Fit(66, 6, 156));
  // Taken literally the nearest percentage overhangs the screen.
  EXPECT_EQ(qc::FitToScreen(1280, 1024, 1920, 1080).sx, 67);
  EXPECT_GT(1920 * 67 / 100, 1280);
  const Extent image = ScaledImageSize({1920, 1080}, fit.sx);
  EXPECT_LE(fit.offX + image.width, 1280);
  EXPECT_LE(fit.offY + image.height, 1024);
}

TEST(FullScreenTest, ExactFitIsUnscaledWithoutOffsets) {
  EXPECT_EQ(FullScreenTransform({1280, 1024}, {1280, 1024}), Fit(100, 0, 0));
}

TEST(FullScreenTest, TinyScreenNeverGoesBelowOnePercent) {
  const ViewTransform fit = FullScreenTransform({4096, 4096}, {20, 20});
  EXPECT_EQ(fit.sx, 1);
  EXPECT_TRUE(fit.scaled);
}

TEST(DragLimitTest, ClientAreaIsLimitedToTheFramebuffer) {
  EXPECT_EQ(MaxClientSize({1920, 1080}), (Extent{1920, 1080}));
}

}  // namespace
}  // namespace qc::viewer_window
