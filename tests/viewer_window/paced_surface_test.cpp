// SPDX-License-Identifier: GPL-3.0-or-later
// The paced surface calls without a window: what the update thread records
// and what one served frame paints.
#include "receiver/viewer/paced_surface.h"

#include <gtest/gtest.h>

#include <vector>

namespace qc::test {
namespace {

class RecordingSurface : public PacedSurface {
 public:
  using PacedSurface::ServeFrame;
  using PacedSurface::SetShown;

  int wakes = 0;
  std::vector<std::vector<Rect>> frames;

 private:
  void Wake() override { ++wakes; }
  void DoPlaceWindow() override {}
  void PaintRects(std::span<const Rect> rects) override {
    frames.emplace_back(rects.begin(), rects.end());
  }
};

Rect Band(int i) { return Rect{0, 10 * i, 50, 10 * i + 5}; }

TEST(PacedSurfaceTest, RectanglesAccumulateIntoOneFrameAndTheSurplusMergesIntoTheLast) {
  RecordingSurface s;
  s.ViewerStarted();
  s.SetShown(true);
  const int n = PacedSurface::kPendingRects + 4;
  for (int i = 0; i < n; ++i) s.InvalidateFramebufferRect(Band(i));
  EXPECT_EQ(s.wakes, 1);  // only the first rectangle wakes the GUI thread
  s.UpdateWindow();
  s.UpdateWindow();  // the frame is already due and not overdue
  EXPECT_EQ(s.wakes, 2);

  s.ServeFrame();
  ASSERT_EQ(s.frames.size(), 1u);
  const std::vector<Rect>& f = s.frames[0];
  ASSERT_EQ(f.size(), static_cast<size_t>(PacedSurface::kPendingRects));
  EXPECT_EQ(f[0], Band(0));
  EXPECT_EQ(f[PacedSurface::kPendingRects - 2], Band(PacedSurface::kPendingRects - 2));
  EXPECT_EQ(f.back(), (Rect{0, Band(PacedSurface::kPendingRects - 1).top, 50, Band(n - 1).bottom}));

  s.ServeFrame();  // nothing new: nothing painted
  EXPECT_EQ(s.frames.size(), 1u);
  s.UpdateWindow();  // served: the next call asks for a new frame
  EXPECT_EQ(s.wakes, 3);
}

TEST(PacedSurfaceTest, HiddenOrStoppingRecordsNothing) {
  RecordingSurface s;
  s.ViewerStarted();
  s.InvalidateFramebufferRect(Band(1));  // hidden: kept, but no wake
  EXPECT_EQ(s.wakes, 0);
  s.UpdateWindow();  // hidden: dropped, showing paints everything
  s.SetShown(true);
  s.ServeFrame();
  EXPECT_TRUE(s.frames.empty());

  s.ViewerStopping();
  s.InvalidateFramebufferRect(Band(2));
  s.UpdateWindow();
  s.PlaceWindow();  // returns at once
  s.ServeFrame();
  EXPECT_EQ(s.wakes, 0);
  EXPECT_TRUE(s.frames.empty());

  s.ViewerStarted();
  s.InvalidateFramebufferRect(Rect{5, 5, 5, 9});  // empty
  s.InvalidateFramebufferRect(Band(3));
  s.ServeFrame();
  ASSERT_EQ(s.frames.size(), 1u);
  EXPECT_EQ(s.frames[0], std::vector<Rect>{Band(3)});
}

}  // namespace
}  // namespace qc::test
