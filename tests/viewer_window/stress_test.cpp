// SPDX-License-Identifier: GPL-3.0-or-later
// Stopping the window while its update thread works flat out: every Stop
// returns (no deadlock with an update thread waiting for a paint) and
// nothing is painted from a released framebuffer (run under ASan too).
// Offscreen platform (no X server needed), or Xvfb for the OpenGL view.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "receiver/viewer/qt/viewer_window.h"
#include "tests/viewer_window/fake_viewer_source.h"

namespace qc::test {
namespace {

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment(false));

// An update thread that never rests: a band of rows changes, the cursor
// moves, and every "datagram" ends with UpdateWindow.
bool BusyStep(FakeViewerSource& s, ViewerSurface& surface, std::atomic<bool>* inUpdate) {
  const uint64_t n = s.Steps();
  const int rows = 30;
  const int top = static_cast<int>((n * 37) % static_cast<uint64_t>(s.Height() - rows));
  uint32_t* px = s.Pixels();
  for (int y = top; y < top + rows; ++y) {
    for (int x = 0; x < s.Width(); ++x) {
      px[static_cast<size_t>(y) * s.Width() + x] = static_cast<uint32_t>(n * 2654435761u + x);
    }
  }
  surface.InvalidateFramebufferRect({0, top - 1, s.Width(), top + rows});
  if (inUpdate != nullptr) inUpdate->store(true);
  surface.UpdateWindow();
  s.MoveCursor(surface, static_cast<int>(n * 13 % s.Width()), static_cast<int>(n * 7 % s.Height()));
  surface.UpdateWindow();
  if (inUpdate != nullptr) inUpdate->store(false);
  return true;
}

TEST(StressTest, RestartingManyTimesWhileUpdatesRunNeverHangs) {
  FakeViewerSource src;
  src.SetFormat(800, 600);
  src.SetStep([](FakeViewerSource& s, ViewerSurface& surface) {
    return BusyStep(s, surface, nullptr);
  });
  src.GiveCursorImage();
  RecordingOwner owner;
  ViewerWindow window(src);
  // The race detector's tree asks for fewer cycles (QC_STRESS_CYCLES): each
  // runs many times slower there.
  const char* cycles = getenv("QC_STRESS_CYCLES");
  const int kCycles = cycles != nullptr ? std::max(1, atoi(cycles)) : 150;
  for (int i = 0; i < kCycles; ++i) {
    const uint64_t before = src.Steps();
    ASSERT_TRUE(window.Start(&owner, 5982, i % 3 == 0));
    ASSERT_EQ(window.GlView() != nullptr, GlForced());  // QV_RENDERER=gl: the OpenGL view
    src.GiveCursorImage();
    // The window serves the update thread: it gets past the placement.
    ASSERT_TRUE(ProcessUntil([&] { return src.Steps() > before; }));
    // Serve the update thread for a while, doing what a user might.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(5 + i % 7);
    while (std::chrono::steady_clock::now() < until) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      if (i % 5 == 1) window.SetFullScreen(!window.IsFullScreen());
      if (i % 5 == 2) window.ScrollBy(3, 5);
      if (i % 5 == 3) { window.ShowViewer(false); window.ShowViewer(true); }
    }
    window.SetRestarting();
    window.Stop();
    EXPECT_TRUE(src.StepsDone());
  }
  EXPECT_EQ(src.Cycles(), kCycles);
  EXPECT_EQ(owner.fatals, 0);
  EXPECT_FALSE(window.isVisible());
}

TEST(StressTest, StopReleasesAnUpdateThreadWaitingForAPaint) {
  FakeViewerSource src;
  src.SetFormat(640, 480);
  std::atomic<bool> inUpdate{false};
  src.SetStep([&inUpdate](FakeViewerSource& s, ViewerSurface& surface) {
    return BusyStep(s, surface, &inUpdate);
  });
  RecordingOwner owner;
  ViewerWindow window(src);
  for (int i = 0; i < 25; ++i) {
    const uint64_t before = src.Steps();
    ASSERT_TRUE(window.Start(&owner, 5982, false));
    // Let the window be placed and a few updates go through.
    ASSERT_TRUE(ProcessUntil([&] { return window.isVisible() && src.Steps() > before + 2; }));
    // Now stop serving: the update thread ends up waiting in UpdateWindow,
    // and Stop is called from the thread that would have to paint.
    while (!inUpdate.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    window.SetRestarting();
    window.Stop();
    EXPECT_TRUE(src.StepsDone());
  }
  EXPECT_EQ(owner.fatals, 0);
}

}  // namespace
}  // namespace qc::test
