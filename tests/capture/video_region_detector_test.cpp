// SPDX-License-Identifier: GPL-3.0-or-later
// The video region detector on recorded change patterns: frames drawn as the
// screen would show them, grabbed whole at 30 frames per second.
#include "sender/capture/video_region_detector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace qc {
namespace {

constexpr int kW = 640;
constexpr int kH = 360;
constexpr int kFrameMs = 33;

struct Screen {
  std::vector<uint32_t> px = std::vector<uint32_t>(kW * kH, 0x303030);
  void Fill(int x, int y, int w, int h, uint32_t c) {
    for (int r = y; r < y + h; ++r)
      for (int q = x; q < x + w; ++q)
        if (r >= 0 && r < kH && q >= 0 && q < kW) px[r * kW + q] = c;
  }
  // Photographic content: smooth colour ramps with a texture that moves
  // with the frame number, as a slow pan over a photograph does.
  void Photo(int x, int y, int w, int h, int frame) {
    for (int r = 0; r < h; ++r)
      for (int q = 0; q < w; ++q) {
        const uint32_t u = static_cast<uint32_t>(q + frame * 3), v = static_cast<uint32_t>(r + frame);
        const uint32_t red = (u * 7 + v * 3) & 0xFF, green = (u * 5 ^ v * 11) & 0xFF,
                       blue = (u * v / 7 + frame) & 0xFF;
        if (y + r < kH && x + q < kW) px[(y + r) * kW + x + q] = red << 16 | green << 8 | blue;
      }
  }
  // A line of text: glyph-like two-colour patterns.
  void Text(int x, int y, int w, int seed) {
    for (int r = 0; r < 12; ++r)
      for (int q = 0; q < w; ++q) {
        const bool ink = ((q / 2 + seed) * 2654435761u >> (r % 7 + 3)) & 1;
        if (y + r >= 0 && y + r < kH) px[(y + r) * kW + x + q] = ink ? 0xE0E0E0 : 0x101010;
      }
  }
  const uint8_t* Bytes() const { return reinterpret_cast<const uint8_t*>(px.data()); }
};

struct Recording {
  VideoRegionDetector detector;
  Screen screen;
  int64_t now = 1000;
  bool everRegion = false;
  Recording() { detector.Reset(kW, kH, 4, kW * 4); }
  // Draws `frames` frames with draw(frame) and grabs each whole.
  void Frames(int frames, const std::function<void(int)>& draw) {
    for (int f = 0; f < frames; ++f) {
      draw(f);
      detector.Observe(now, screen.Bytes(), 0, kH);
      everRegion |= !detector.Region().Empty();
      now += kFrameMs;
    }
  }
  void Idle(int ms) {
    for (int t = 0; t < ms; t += kFrameMs) {
      now += kFrameMs;
      detector.Tick(now);
    }
  }
};

bool Contains(const VideoRect& outer, int x, int y, int w, int h) {
  return outer.x <= x && outer.y <= y && outer.x + outer.width >= x + w - 1 &&
         outer.y + outer.height >= y + h - 1;
}

TEST(VideoRegionDetector, VideoBecomesARegionFollowsItsWindowAndEndsWhenItStops) {
  Recording run;
  // Half a second of video is not yet a video.
  run.Frames(15, [&](int f) { run.screen.Photo(96, 80, 256, 160, f); });
  EXPECT_TRUE(run.detector.Region().Empty());
  run.Frames(30, [&](int f) { run.screen.Photo(96, 80, 256, 160, 15 + f); });
  const VideoRect found = run.detector.Region();
  ASSERT_FALSE(found.Empty());
  EXPECT_TRUE(Contains(found, 96, 80, 256, 160));
  EXPECT_LE(found.width, 256 + 2 * VideoRegionDetector::kTile);
  EXPECT_LE(found.height, 160 + 2 * VideoRegionDetector::kTile);
  EXPECT_EQ(found.width % 2, 0);
  EXPECT_EQ(found.height % 2, 0);

  // A still band at the picture's edge (a dark part of the scene) for two
  // seconds: the region keeps its size, its encoder runs on.
  run.Frames(60, [&](int f) {
    run.screen.Photo(96, 80, 256 - 80, 160, 45 + f);
    EXPECT_EQ(run.detector.Region(), found) << "frame " << f;
  });

  // The player window is dragged 150 pixels to the right while it plays,
  // then plays on there: the region follows without ending.
  int x = 96;
  run.Frames(30, [&](int f) {
    run.screen.Fill(x, 80, 256, 160, 0x303030);
    x += 5;
    run.screen.Photo(x, 80, 256, 160, 105 + f);
    EXPECT_FALSE(run.detector.Region().Empty()) << "frame " << f;
  });
  run.Frames(100, [&](int f) { run.screen.Photo(x, 80, 256, 160, 135 + f); });
  EXPECT_TRUE(Contains(run.detector.Region(), x, 80, 256, 160))
      << run.detector.Region().x << "," << run.detector.Region().y << " "
      << run.detector.Region().width << "x" << run.detector.Region().height << " x=" << x;
  EXPECT_LT(run.detector.Region().x, x);
  EXPECT_GT(run.detector.Region().x, 96 + VideoRegionDetector::kTile);

  // The video stops: the region ends within half a second.
  run.Idle(400);
  EXPECT_TRUE(run.detector.Region().Empty());
}

TEST(VideoRegionDetector, OnlyTheVideoBecomesARegion) {
  {
    SCOPED_TRACE("fast scrolling text");
    Recording run;
    run.Frames(90, [&](int f) {
      for (int line = 0; line < 20; ++line) run.screen.Text(40, 20 + line * 16, 500, line + f * 3);
    });
    EXPECT_FALSE(run.everRegion);
  }
  {
    SCOPED_TRACE("a dragged window");
    Recording run;
    int x = 0;
    run.Frames(90, [&](int) {
      run.screen.Fill(x, 60, 300, 200, 0x303030);
      x += 3;
      run.screen.Fill(x, 60, 300, 200, 0xD8D8D8);
      run.screen.Fill(x, 60, 300, 24, 0x2050A0);
      run.screen.Text(x + 10, 100, 200, 7);
    });
    EXPECT_FALSE(run.everRegion);
  }
  {
    SCOPED_TRACE("a blinking cursor in a text");
    Recording run;
    for (int line = 0; line < 20; ++line) run.screen.Text(40, 20 + line * 16, 500, line);
    run.Frames(120, [&](int f) {
      run.screen.Fill(300, 100, 2, 14, (f / 15) % 2 ? 0xFFFFFF : 0x101010);
    });
    EXPECT_FALSE(run.everRegion);
  }
  {
    SCOPED_TRACE("a progress bar");
    Recording run;
    run.Frames(120, [&](int f) {
      run.screen.Fill(100, 200, 2 * f, 20, 0x30A030);
      run.screen.Text(100, 230, 120, f / 10);  // its percentage
    });
    EXPECT_FALSE(run.everRegion);
  }
  {
    SCOPED_TRACE("a video, for comparison");
    Recording run;
    run.Frames(60, [&](int f) { run.screen.Photo(200, 100, 200, 120, f); });
    EXPECT_TRUE(run.everRegion);
  }
}

TEST(VideoRegionDetector, ModeOnTakesFastChangesWithoutPhotographicContent) {
  Recording run;
  run.detector.SetMode(VideoRegionDetector::Mode::On);
  // A flat colour that changes every frame (an animation, a colour cycle).
  run.Frames(60, [&](int f) {
    run.screen.Fill(200, 100, 200, 120, 0x102030u + static_cast<uint32_t>(f) * 0x050709u);
  });
  EXPECT_FALSE(run.detector.Region().Empty());
}

}  // namespace
}  // namespace qc
