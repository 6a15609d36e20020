#include "receiver/viewer/remote_cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "tests/receiver/receiver_test_util.h"

namespace qc {
namespace {

// Payload builder: header, colour rows (given top-down, stored bottom-up)
// and mask rows (top-down, stored bottom-up).
std::vector<uint8_t> Shape(CursorShapeHeader h, const std::vector<std::vector<uint8_t>>& colourRows,
                           const std::vector<std::vector<uint8_t>>& maskRows) {
  std::vector<uint8_t> p(kCursorShapeHeaderSize);
  BuildCursorShapeHeader(h, p.data());
  for (auto it = colourRows.rbegin(); it != colourRows.rend(); ++it) p.insert(p.end(), it->begin(), it->end());
  for (auto it = maskRows.rbegin(); it != maskRows.rend(); ++it) p.insert(p.end(), it->begin(), it->end());
  return p;
}

CursorShapeHeader MonoHeader(int w, int h) {
  CursorShapeHeader hd;
  hd.hotX = 1;
  hd.hotY = 2;
  hd.maskWidth = static_cast<int16_t>(w);
  hd.maskHeight = static_cast<int16_t>(2 * h);
  hd.maskPalette0 = 0x00000000;
  hd.maskPalette1BG = 0xFFFF;
  return hd;
}

TEST(CursorImage, MonochromeAndXorGiveBlackWhiteTransparentAndInvert) {
  // 32 x 32: AND above XOR. Row 0: AND 0 / XOR 0 (black) for x < 8,
  // AND 0 / XOR 1 (white) for 8..15, AND 1 / XOR 0 (transparent) for
  // 16..23, AND 1 / XOR 1 (invert) for 24..31.
  std::vector<std::vector<uint8_t>> rows(64, std::vector<uint8_t>(4, 0xFF));
  for (int y = 0; y < 32; ++y) rows[y] = {0x00, 0x00, 0xFF, 0xFF};       // AND
  for (int y = 32; y < 64; ++y) rows[y] = {0x00, 0xFF, 0x00, 0xFF};      // XOR
  auto payload = Shape(MonoHeader(32, 32), {}, rows);
  RemoteCursorImage img;
  ASSERT_TRUE(BuildCursorImage(payload.data(), payload.size(), img));
  EXPECT_EQ(img.width, 32);
  EXPECT_EQ(img.height, 32);
  EXPECT_EQ(img.hotX, 1);
  EXPECT_EQ(img.hotY, 2);
  EXPECT_EQ(img.argb[0], 0xFF000000u);
  EXPECT_EQ(img.argb[8], 0xFFFFFFFFu);
  EXPECT_EQ(img.argb[16], 0u);
  EXPECT_EQ(img.argb[24], 0u);
  ASSERT_EQ(img.invert.size(), 32u * 32u);
  EXPECT_EQ(img.invert[24], 1);
  EXPECT_EQ(img.invert[16], 0);
  EXPECT_EQ(img.invert[31 * 32 + 31], 1);

  // Rows are stored bottom-up: only the top AND row transparent.
  rows.assign(64, std::vector<uint8_t>(4, 0x00));
  rows[0] = {0xFF, 0xFF, 0xFF, 0xFF};
  payload = Shape(MonoHeader(32, 32), {}, rows);
  ASSERT_TRUE(BuildCursorImage(payload.data(), payload.size(), img));
  EXPECT_EQ(img.argb[0], 0u);
  EXPECT_EQ(img.argb[32], 0xFF000000u);
  EXPECT_EQ(img.argb[31 * 32], 0xFF000000u);
}

// A 32 x 32 colour cursor with its AND mask; bit fields 8-8-8 when asked.
CursorShapeHeader ColourHeader(int bpp, bool bitFields) {
  CursorShapeHeader h;
  h.maskWidth = h.maskHeight = h.colorWidth = h.colorHeight = 32;
  h.colorBitsPerPixel = static_cast<uint16_t>(bpp);
  if (bitFields) {
    h.colorRedMask = 0xFF0000;
    h.colorGreenMask = 0xFF00;
    h.colorBlueMask = 0xFF;
  }
  h.maskPalette1BG = 0xFFFF;
  return h;
}

std::vector<uint8_t> ColourRow32(int w, uint32_t argb) {
  std::vector<uint8_t> r(static_cast<size_t>(w) * 4);
  for (int x = 0; x < w; ++x) WriteU32(r.data() + x * 4, argb);
  return r;
}

TEST(CursorImage, ColourWithAlphaIsPremultipliedAndIgnoresTheMask) {
  CursorShapeHeader h = ColourHeader(32, true);
  std::vector<std::vector<uint8_t>> colour(32, ColourRow32(32, 0x80FF0000));  // half red
  colour[0] = ColourRow32(32, 0xFF00FF00);                                    // opaque green
  colour[1] = ColourRow32(32, 0x00000000);
  std::vector<std::vector<uint8_t>> mask(32, std::vector<uint8_t>(4, 0x00));
  auto payload = Shape(h, colour, mask);
  RemoteCursorImage img;
  ASSERT_TRUE(BuildCursorImage(payload.data(), payload.size(), img));
  EXPECT_EQ(img.argb[0], 0xFF00FF00u);
  EXPECT_EQ(img.argb[32], 0u);
  EXPECT_EQ(img.argb[2 * 32], 0x80800000u);
  EXPECT_TRUE(img.invert.empty());
}

TEST(CursorImage, ColourWithoutAlphaUsesTheAndMaskWithOrWithoutBitFields) {
  for (bool bitFields : {false, true}) {
    CursorShapeHeader h = ColourHeader(32, bitFields);
    std::vector<std::vector<uint8_t>> colour(32, ColourRow32(32, 0x00123456));
    colour[3] = ColourRow32(32, 0);
    std::vector<std::vector<uint8_t>> mask(32, std::vector<uint8_t>(4, 0x00));
    mask[2] = {0xFF, 0xFF, 0xFF, 0xFF};  // transparent, colour not black: inverts
    mask[3] = {0xFF, 0xFF, 0xFF, 0xFF};  // transparent, black colour: clear
    auto payload = Shape(h, colour, mask);
    RemoteCursorImage img;
    ASSERT_TRUE(BuildCursorImage(payload.data(), payload.size(), img)) << bitFields;
    EXPECT_EQ(img.argb[0], 0xFF123456u);
    EXPECT_EQ(img.argb[2 * 32], 0u);
    EXPECT_EQ(img.argb[3 * 32], 0u);
    ASSERT_FALSE(img.invert.empty());
    EXPECT_EQ(img.invert[2 * 32], 1);
    EXPECT_EQ(img.invert[3 * 32], 0);
  }
}

TEST(CursorImage, SixteenAndTwentyFourBitColour) {
  CursorShapeHeader h = ColourHeader(16, false);  // standard 5-5-5
  std::vector<uint8_t> row16(64);
  for (int x = 0; x < 32; ++x) WriteU16(row16.data() + 2 * x, 0x7C00);  // red
  std::vector<std::vector<uint8_t>> mask(32, std::vector<uint8_t>(4, 0x00));
  auto p16 = Shape(h, std::vector<std::vector<uint8_t>>(32, row16), mask);
  RemoteCursorImage img;
  ASSERT_TRUE(BuildCursorImage(p16.data(), p16.size(), img));
  EXPECT_EQ(img.argb[5], 0xFFFF0000u);

  h.colorBitsPerPixel = 24;
  std::vector<uint8_t> row24(96);
  for (int x = 0; x < 32; ++x) {
    row24[3 * x] = 0x30;      // blue
    row24[3 * x + 1] = 0x20;  // green
    row24[3 * x + 2] = 0x10;  // red
  }
  auto p24 = Shape(h, std::vector<std::vector<uint8_t>>(32, row24), mask);
  ASSERT_TRUE(BuildCursorImage(p24.data(), p24.size(), img));
  EXPECT_EQ(img.argb[7], 0xFF102030u);
}

TEST(CursorImage, NarrowCursorWithPaddedMaskRows) {
  // Width 20: rows of the mask are padded to 4 bytes on the wire.
  CursorShapeHeader h = MonoHeader(20, 4);
  std::vector<std::vector<uint8_t>> rows(8, std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00});
  rows[0] = {0xFF, 0xFF, 0xF0, 0x00};  // top AND row transparent
  auto payload = Shape(h, {}, rows);
  RemoteCursorImage img;
  ASSERT_TRUE(BuildCursorImage(payload.data(), payload.size(), img));
  EXPECT_EQ(img.width, 20);
  EXPECT_EQ(img.height, 4);
  EXPECT_EQ(img.argb[19], 0u);
  EXPECT_EQ(img.argb[20], 0xFF000000u);
}

TEST(CursorImage, NoBitmapGivesAnEmptyImage) {
  CursorShapeHeader h;
  std::vector<uint8_t> p(kCursorShapeHeaderSize);
  BuildCursorShapeHeader(h, p.data());
  RemoteCursorImage img;
  img.width = 5;
  ASSERT_TRUE(BuildCursorImage(p.data(), p.size(), img));
  EXPECT_EQ(img.width, 0);
  EXPECT_TRUE(img.argb.empty());
}

TEST(CursorImage, MalformedPayloadsAreRefused) {
  RemoteCursorImage img;
  std::vector<uint8_t> shortOne(20, 0);
  EXPECT_FALSE(BuildCursorImage(shortOne.data(), shortOne.size(), img));
  // Announces a 32 x 64 mask (256 bytes) but carries 100.
  auto p = Shape(MonoHeader(32, 32), {}, {});
  p.resize(p.size() + 100);
  EXPECT_FALSE(BuildCursorImage(p.data(), p.size(), img));
  // Colour of 8 bits per pixel (no palette on the wire) and no mask.
  CursorShapeHeader h;
  h.colorWidth = 32;
  h.colorHeight = 32;
  h.colorBitsPerPixel = 8;
  std::vector<uint8_t> q(kCursorShapeHeaderSize + 1024);
  BuildCursorShapeHeader(h, q.data());
  EXPECT_FALSE(BuildCursorImage(q.data(), q.size(), img));
  // Negative sizes.
  CursorShapeHeader n = MonoHeader(32, 32);
  n.maskWidth = -32;
  std::vector<uint8_t> r(kCursorShapeHeaderSize + 300);
  BuildCursorShapeHeader(n, r.data());
  EXPECT_FALSE(BuildCursorImage(r.data(), r.size(), img));
}

TEST(RemoteCursor, MovesInvalidateOldAndNewAreasAndPaintRecordsThePlace) {
  RemoteCursor cursor;
  test::RecordingSurface surface;
  // No shape yet: two 32 x 32 areas, nothing to draw.
  cursor.SetPosition(10, 10);
  cursor.Update(false, surface);
  auto first = surface.TakeRects();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0], (Rect{0, 0, 32, 32}));
  EXPECT_EQ(first[1], (Rect{10, 10, 42, 42}));
  {
    std::lock_guard<std::mutex> lock(cursor.Lock());
    EXPECT_FALSE(cursor.State().hasImage);
    CursorDraw d = TakeCursorForPaint(cursor.State(), 0, 0);
    EXPECT_EQ(d.originX, 10);
    EXPECT_EQ(d.width, 32);
    EXPECT_FALSE(cursor.State().changed);
  }
  cursor.SetPosition(200, 150);
  cursor.Update(false, surface);
  auto second = surface.TakeRects();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0], (Rect{10, 10, 42, 42}));
  EXPECT_EQ(second[1], (Rect{200, 150, 232, 182}));
  std::lock_guard<std::mutex> lock(cursor.Lock());
  CursorDraw d = TakeCursorForPaint(cursor.State(), 5, 7);
  EXPECT_EQ(d.originX, 195);
  EXPECT_EQ(d.originY, 143);
  // Unchanged since: paint draws at the last place.
  CursorDraw again = TakeCursorForPaint(cursor.State(), 0, 0);
  EXPECT_EQ(again.originX, 200);
}

}  // namespace
}  // namespace qc
