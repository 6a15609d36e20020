// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window's decisions, once for the Qt and the Win32 window: the
// cycle and the program's end, placement, full screen, size changes,
// scrolling, keys, the command table and the remote cursor's frame.
#include "receiver/viewer/viewer_window_model.h"

#include <gtest/gtest.h>

#include "receiver/viewer/receiver_commands.h"
#include "tests/support/recording_owner.h"

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

TEST(ViewerWindowModel, ClosingTheWindowEndsTheProgramOnceButARestartDoesNot) {
  test::RecordingOwner owner;
  ViewerWindowModel m;
  m.WindowGone();  // no cycle yet
  m.Start(&owner, false);
  m.SetRestarting();
  m.Stop();
  m.WindowGone();
  EXPECT_EQ(owner.fatals, 0);
  // The next cycle: the restart mark is gone; the user closes the window.
  m.Start(&owner, false);
  m.WindowGone();
  m.Stop();
  m.WindowGone();
  EXPECT_EQ(owner.fatals, 1);
  EXPECT_FALSE(owner.lastShowMessage);
  // A window that ends with the program reports nothing.
  m.Start(&owner, false);
  m.EndQuietly();
  m.WindowGone();
  EXPECT_EQ(owner.fatals, 1);
  EXPECT_FALSE(m.Started());
}

TEST(ViewerWindowModel, PlacementAndFullScreenFollowTheFramebufferAndTheScreen) {
  test::RecordingOwner owner;
  ViewerWindowModel m;
  m.Start(&owner, true);
  EXPECT_FALSE(m.FullScreenChanges(true));  // nothing to show before the placement
  const FrameMargins frame{4, 30, 4, 4};
  // Larger than the work area: the work area, whole.
  EXPECT_EQ(m.Place({1280, 1024}, frame, {0, 0, 1024, 740}), (Rect{0, 0, 1024, 740}));
  EXPECT_EQ(m.MaxOuter(), (Extent{1288, 1058}));
  EXPECT_TRUE(m.FullScreenSetting());
  EXPECT_TRUE(m.FullScreenChanges(true));
  EXPECT_FALSE(m.FullScreenChanges(false));

  m.EnterFullScreen({1024, 768});
  EXPECT_TRUE(m.IsFullScreen());
  EXPECT_EQ(m.Transform(), Fit(75, 32, 0));
  EXPECT_EQ(m.ImageRect(), (Rect{32, 0, 992, 768}));
  EXPECT_EQ(m.ToWindow({0, 99, 1280, 104}), (Rect{32, 56, 1045, 113}));
  EXPECT_FALSE(m.Scrollable());
  EXPECT_EQ(m.ScrollBy({0, 40}, {1024, 768}), (ScrollDelta{0, 0}));
  m.ShowUnscaled({1400, 1100});  // no memory for the scaled image
  EXPECT_EQ(m.Transform(), Fit(100, 60, 38));

  m.LeaveFullScreen();
  EXPECT_EQ(m.Transform(), ViewTransform{});
  EXPECT_TRUE(m.Scrollable());
  // A new cycle starts windowed and unplaced.
  m.Stop();
  m.Start(&owner, false);
  EXPECT_FALSE(m.Placed());
  EXPECT_FALSE(m.IsFullScreen());
  // Smaller than the work area: its own size, centred.
  EXPECT_EQ(m.Place({640, 480}, frame, {0, 28, 1024, 768}), (Rect{188, 141, 836, 655}));
}

TEST(ViewerWindowModel, SizeChangesAndScrollRequestsKeepThePictureInRange) {
  test::RecordingOwner owner;
  ViewerWindowModel m;
  m.Start(&owner, false);
  m.Place({1920, 1080}, {4, 30, 4, 4}, {0, 0, 1024, 768});
  EXPECT_FALSE(m.BarsHidden({1927, 1114}));
  EXPECT_TRUE(m.BarsHidden({1928, 1114}));

  const Extent client{1000, 800};
  EXPECT_EQ(m.ClientResized(client), (ScrollDelta{0, 0}));
  EXPECT_EQ(m.ScrollBy({5000, 0}, client), (ScrollDelta{920, 0}));  // clamped at the end
  EXPECT_EQ(m.ScrollBy({2, 0}, client), (ScrollDelta{0, 0}));
  EXPECT_EQ(m.Bar(true, client.width), (ScrollBarRange{920, 1000, 920}));
  EXPECT_EQ(m.Request(true, ScrollRequest::LineForward, client.width, 0), (ScrollDelta{2, 0}));
  EXPECT_EQ(m.Request(true, ScrollRequest::ThumbTrack, client.width, 100), (ScrollDelta{-820, 0}));
  EXPECT_EQ(m.Request(false, ScrollRequest::PageForward, client.height, 0), (ScrollDelta{0, 200}));
  EXPECT_EQ(m.ScrollBy({0, 200}, client), (ScrollDelta{0, 200}));
  // A wider client area: the position falls back, and the shown content
  // moves right by as much.
  EXPECT_EQ(m.ClientResized({1600, 800}), (ScrollDelta{600, 0}));
  EXPECT_EQ(m.Transform().scrollX, 320);
  EXPECT_EQ(m.Transform().scrollY, 200);
  EXPECT_EQ(m.ImageRect(), (Rect{-320, -200, 1600, 880}));
  EXPECT_EQ(m.ToWindow({0, 210, 1920, 221}), (Rect{-320, 10, 1600, 21}));
  // Full screen shows all of it from (0, 0), and back it is (0, 0) too.
  m.EnterFullScreen({1920, 1080});
  EXPECT_EQ(m.Transform(), Fit(100, 0, 0));
  m.LeaveFullScreen();
  EXPECT_EQ(m.ImageRect(), (Rect{0, 0, 1920, 1080}));

  // Dragging an edge stops at the size that shows everything; a right edge
  // one pixel later.
  const Rect big{0, 0, 2000, 1500};
  EXPECT_EQ(m.LimitDrag(big, true, true, false, false), (Rect{72, 386, 2000, 1500}));
  EXPECT_EQ(m.LimitDrag(big, false, false, true, true), (Rect{0, 0, 1929, 1114}));
  EXPECT_EQ(m.LimitDrag({0, 0, 800, 600}, true, true, true, true), (Rect{0, 0, 800, 600}));
}

TEST(ViewerWindowModel, KeysAndTheMenuHandTheirCommandsToTheTray) {
  test::RecordingOwner owner;
  ViewerWindowModel m;
  m.Start(&owner, false);
  m.Place({320, 240}, {}, {0, 0, 640, 480});
  EXPECT_FALSE(m.TogglesFullScreen(ViewerKey::Escape, false));  // windowed: nothing
  EXPECT_TRUE(m.TogglesFullScreen(ViewerKey::Return, true));
  EXPECT_FALSE(m.TogglesFullScreen(ViewerKey::Return, false));
  m.EnterFullScreen({640, 480});
  EXPECT_TRUE(m.TogglesFullScreen(ViewerKey::Escape, false));
  EXPECT_TRUE(m.TogglesFullScreen(ViewerKey::Return, true));
  EXPECT_FALSE(m.TogglesFullScreen(ViewerKey::Other, true));

  for (int id : {ID_FULL_SCREEN, ID_HIDE_WINDOW, ID_REQUEST_REFRESH, ID_SETTINGS, ID_ABOUT}) {
    EXPECT_TRUE(IsViewerWindowCommand(id)) << id;
  }
  for (int id : {0, int{ID_QUIT}, int{ID_SHOW_WINDOW}}) {
    EXPECT_FALSE(IsViewerWindowCommand(id)) << id;
  }
}

TEST(ViewerWindowModel, TheCursorIsScaledWithThePictureAndClippedToIt) {
  test::RecordingOwner owner;
  ViewerWindowModel m;
  m.Start(&owner, false);
  m.Place({1280, 1024}, {}, {0, 0, 1024, 768});
  m.EnterFullScreen({1024, 768});  // 75 %, offset 32 left and right
  RemoteCursorState s;
  ViewerWindowModel::CursorFrame frame;
  EXPECT_FALSE(m.TakeCursorFrame(s, frame));  // no shape yet
  s.hasImage = true;
  s.image.width = s.image.height = 32;
  s.image.argb.assign(32 * 32, 0xff000000u);
  s.x = 1260;
  s.y = 100;
  s.changed = true;
  ASSERT_TRUE(m.TakeCursorFrame(s, frame));
  EXPECT_EQ(frame.image, &s.image);
  EXPECT_EQ(frame.target, (Rect{977, 75, 1001, 99}));
  EXPECT_EQ(frame.clip, (Rect{977, 75, 992, 99}));  // not into the right margin
  EXPECT_FALSE(frame.inverts);
  s.image.invert.assign(32 * 32, 0);
  s.x = 2000;  // wholly outside the picture
  s.changed = true;
  EXPECT_FALSE(m.TakeCursorFrame(s, frame));
}

}  // namespace
}  // namespace qc
