// SPDX-License-Identifier: GPL-3.0-or-later
// The GDI screen and cursor sources under Wine, which reads a private Xvfb:
// wine_run.sh painted its root QC_XVFB_PAINT and moved the pointer to
// QC_XVFB_POINTER before starting this test.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sender/capture/cursor_shape.h"
#include "sender/capture/windows/gdi_cursor_source.h"
#include "sender/capture/windows/gdi_screen_source.h"

namespace qc {
namespace {

// The painted colour as a pixel with the format's masks (channels cut to
// their top bits, as the X server stores them).
uint32_t PaintedPixel(const ScreenFormat& format) {
  uint32_t rgb = std::strtoul(std::getenv("QC_XVFB_PAINT") + 1, nullptr, 16);
  uint32_t pixel = 0;
  int shift = 16;
  for (uint32_t mask : {format.redMask, format.greenMask, format.blueMask}) {
    uint32_t channel = rgb >> shift & 0xFF;
    int bits = std::popcount(mask);
    pixel |= (channel >> (8 - bits)) << std::countr_zero(mask);
    shift -= 8;
  }
  return pixel;
}

// How many pixels of rows first..end-1 of a frame hold value.
int CountPixels(const uint8_t* frame, int width, int bytes, int first, int end, uint32_t value) {
  int count = 0;
  for (size_t i = size_t(first) * width; i < size_t(end) * width; ++i) {
    uint32_t pixel = 0;
    std::memcpy(&pixel, frame + i * bytes, bytes);
    count += pixel == value;
  }
  return count;
}

TEST(GdiScreenSourceTest, OpensTheXvfbScreenAndGrabsOnlyTheRequestedRows) {
  int w = 0, h = 0, depth = 0;
  ASSERT_EQ(std::sscanf(std::getenv("QC_WINE_XVFB"), "%dx%dx%d", &w, &h, &depth), 3);
  GdiScreenSource source;
  ScreenFormat format;
  ASSERT_TRUE(source.Open(format));
  EXPECT_EQ(format.width, w);
  EXPECT_EQ(format.height, h);
  EXPECT_FALSE(format.partial);
  int bytes = depth == 16 ? 2 : 4;
  EXPECT_EQ(format.bitsPerPixel, bytes * 8);
  // 8-8-8, or 5-6-5 / 5-5-5; the painted pixels below check the split.
  uint32_t all = format.redMask | format.greenMask | format.blueMask;
  EXPECT_EQ(all, depth != 16 ? 0xFFFFFFu : format.redMask >> 15 ? 0xFFFFu : 0x7FFFu);
  EXPECT_EQ(format.blueMask, depth == 16 ? 0x1Fu : 0xFFu);
  const uint8_t* frame = source.CreateFrame();
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(source.GrabRows(h / 4, h / 2));
  EXPECT_EQ(CountPixels(frame, w, bytes, h / 4, h / 2, PaintedPixel(format)), w * (h / 2 - h / 4));
  EXPECT_EQ(CountPixels(frame, w, bytes, 0, h, 0), w * (h - h / 2 + h / 4));
  EXPECT_FALSE(source.DisplayChanged());
}

TEST(GdiScreenSourceTest, SharesAChosenRegionOnly) {
  GdiScreenSource::Options options;
  options.area.region = {10, 20, 31, 8};
  GdiScreenSource source(options);
  ScreenFormat format;
  ASSERT_TRUE(source.Open(format));
  EXPECT_TRUE(format.width == 31 && format.height == 8 && format.originY == 20 && format.partial);
  const uint8_t* frame = source.CreateFrame();
  ASSERT_TRUE(frame != nullptr && source.GrabRows(0, 8));
  int bytes = format.bitsPerPixel / 8;
  EXPECT_EQ(CountPixels(frame, 31, bytes, 0, 8, PaintedPixel(format)), 31 * 8);
}

TEST(GdiCursorSourceTest, FindsThePointerWhereItWasMovedAndReadsItsImage) {
  int x = 0, y = 0;
  ASSERT_EQ(std::sscanf(std::getenv("QC_XVFB_POINTER"), "%d %d", &x, &y), 2);
  // The cursor is the foreground thread's: bring a window of ours forward.
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE, x - 5, y - 5, 10, 10,
                                nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(window != nullptr && SetForegroundWindow(window));
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  GdiCursorSource cursor;
  CursorState state;
  ASSERT_TRUE(cursor.Query(state));
  EXPECT_TRUE(state.showing);
  EXPECT_EQ(state.x, x);
  EXPECT_EQ(state.y, y);
  CursorImage image;
  ASSERT_TRUE(cursor.ReadImage(image));
  EXPECT_EQ(image.handle, state.handle);
  auto opaque = std::count_if(image.pixels.begin(), image.pixels.end(),
                              [](uint32_t p) { return p >> 24 == 0xFF; });
  EXPECT_TRUE(opaque > 0 && opaque < image.width * image.height);
  std::vector<uint8_t> payload;
  EXPECT_TRUE(BuildCursorShapePayload(image, payload));
}

}  // namespace
}  // namespace qc
