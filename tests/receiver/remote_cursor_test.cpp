// SPDX-License-Identifier: GPL-3.0-or-later
// The remote cursor: shape payloads into drawable images, and the areas a
// move invalidates.
#include "receiver/viewer/remote_cursor.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "tests/receiver/receiver_test_util.h"

namespace qc {
namespace {

using Row = std::vector<uint8_t>;

// count rows, top-down: all `fill` except the ones named in `rows`.
std::vector<Row> Rows(int count, const Row& fill, const std::map<int, Row>& rows = {}) {
  std::vector<Row> out(count, fill);
  for (const auto& [y, row] : rows) out[y] = row;
  return out;
}

Row Colour32(uint32_t argb) {
  Row r(32 * 4);
  for (int x = 0; x < 32; ++x) WriteU32(r.data() + x * 4, argb);
  return r;
}

// Header, colour rows and mask rows, both stored bottom-up.
std::vector<uint8_t> Shape(const CursorShapeHeader& h, const std::vector<Row>& colour,
                           const std::vector<Row>& mask) {
  std::vector<uint8_t> p(kCursorShapeHeaderSize);
  BuildCursorShapeHeader(h, p.data());
  for (const auto* rows : {&colour, &mask})
    for (auto it = rows->rbegin(); it != rows->rend(); ++it) p.insert(p.end(), it->begin(), it->end());
  return p;
}

// Hot spot (1, 2); the mask holds AND above XOR.
CursorShapeHeader Mono(int w, int h) {
  return {1, 2, int16_t(w), int16_t(2 * h), 0, 0, 0, 0, 0, 0, 0, 0, 0xFFFF};
}

CursorShapeHeader Colour(int bpp, bool bitFields) {
  const uint32_t on = bitFields ? 0xFFFFFFFFu : 0;
  return {0, 0, 32, 32, 32, 32, uint16_t(bpp), 0, on & 0xFF0000, on & 0xFF00, on & 0xFF, 0, 0xFFFF};
}

const Row kOpaqueMask(4, 0x00), kClearMask(4, 0xFF);
// The AND half of a 32 x 32 monochrome mask: x < 16 opaque, x >= 16 clear.
const std::map<int, Row> kAndRows = [] {
  std::map<int, Row> rows;
  for (int y = 0; y < 32; ++y) rows[y] = {0x00, 0x00, 0xFF, 0xFF};
  return rows;
}();

Row Repeat(std::initializer_list<uint8_t> pixel, int count = 32) {
  Row r;
  for (int i = 0; i < count; ++i) r.insert(r.end(), pixel);
  return r;
}

TEST(CursorImage, PayloadsBecomePremultipliedImagesWithInversionsOrAreRefused) {
  const struct {
    const char* name;
    std::vector<uint8_t> payload;
    int width, height, hotX;
    std::map<int, uint32_t> argb;  // pixel index -> colour
    std::map<int, uint8_t> invert;  // empty map: no inversion at all
  } cases[] = {
      // AND 0 / XOR 0 black, 0 / 1 white, 1 / 0 transparent, 1 / 1 inverted.
      {"monochrome", Shape(Mono(32, 32), {}, Rows(64, {0x00, 0xFF, 0x00, 0xFF}, kAndRows)),
       32, 32, 1, {{0, 0xFF000000}, {8, 0xFFFFFFFF}, {16, 0}, {24, 0}},
       {{24, 1}, {16, 0}, {31 * 32 + 31, 1}}},
      // Rows are stored bottom-up: only the top AND row is transparent.
      {"monochrome bottom-up", Shape(Mono(32, 32), {}, Rows(64, kOpaqueMask, {{0, kClearMask}})),
       32, 32, 1, {{0, 0}, {32, 0xFF000000}, {31 * 32, 0xFF000000}}, {}},
      // Alpha in byte 3: premultiplied, the mask is not used.
      {"alpha", Shape(Colour(32, true),
                      Rows(32, Colour32(0x80FF0000), {{0, Colour32(0xFF00FF00)}, {1, Colour32(0)}}),
                      Rows(32, kOpaqueMask)),
       32, 32, 0, {{0, 0xFF00FF00}, {32, 0}, {64, 0x80800000}}, {}},
      // No alpha: the AND mask clears pixels; a masked colour inverts.
      {"masked colour", Shape(Colour(32, false), Rows(32, Colour32(0x00123456), {{3, Colour32(0)}}),
                              Rows(32, kOpaqueMask, {{2, kClearMask}, {3, kClearMask}})),
       32, 32, 0, {{0, 0xFF123456}, {64, 0}, {96, 0}}, {{64, 1}, {96, 0}}},
      {"masked colour, bit fields",
       Shape(Colour(32, true), Rows(32, Colour32(0x00123456)), Rows(32, kOpaqueMask, {{2, kClearMask}})),
       32, 32, 0, {{0, 0xFF123456}, {64, 0}}, {{64, 1}}},
      {"16 bits, 5-5-5", Shape(Colour(16, false), Rows(32, Repeat({0x00, 0x7C})), Rows(32, kOpaqueMask)),
       32, 32, 0, {{5, 0xFFFF0000}}, {}},
      {"24 bits", Shape(Colour(24, false), Rows(32, Repeat({0x30, 0x20, 0x10})), Rows(32, kOpaqueMask)),
       32, 32, 0, {{7, 0xFF102030}}, {}},
      // Width 20: mask rows padded to 4 bytes on the wire.
      {"narrow", Shape(Mono(20, 4), {}, Rows(8, kOpaqueMask, {{0, {0xFF, 0xFF, 0xF0, 0x00}}})),
       20, 4, 1, {{19, 0}, {20, 0xFF000000}}, {}},
      {"no bitmap", Shape(CursorShapeHeader{}, {}, {}), 0, 0, 0, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoteCursorImage img;
    img.width = 5;  // replaced
    ASSERT_TRUE(BuildCursorImage(c.payload.data(), c.payload.size(), img));
    EXPECT_EQ(img.width, c.width);
    EXPECT_EQ(img.height, c.height);
    EXPECT_EQ(img.hotX, c.hotX);
    ASSERT_EQ(img.argb.size(), static_cast<size_t>(c.width) * c.height);
    for (const auto& [i, argb] : c.argb) EXPECT_EQ(img.argb[i], argb) << i;
    EXPECT_EQ(img.invert.empty(), c.invert.empty());
    for (const auto& [i, inv] : c.invert) EXPECT_EQ(img.invert.at(i), inv) << i;
  }
  // Malformed payloads are refused.
  CursorShapeHeader eightBits;  // no palette on the wire, and no mask
  eightBits.colorWidth = eightBits.colorHeight = 32;
  eightBits.colorBitsPerPixel = 8;
  CursorShapeHeader negative = Mono(32, 32);
  negative.maskWidth = -32;
  auto shortMask = Shape(Mono(32, 32), {}, {});
  shortMask.resize(shortMask.size() + 100);  // announces 256 bytes
  const std::vector<uint8_t> payloads[] = {
      std::vector<uint8_t>(20, 0),
      shortMask,
      Shape(eightBits, Rows(32, Row(32, 0)), {}),
      Shape(negative, {}, Rows(75, Row(4, 0))),
  };
  for (const auto& p : payloads) {
    RemoteCursorImage img;
    EXPECT_FALSE(BuildCursorImage(p.data(), p.size(), img)) << p.size();
  }
}

TEST(RemoteCursor, MovesInvalidateOldAndNewAreasAndPaintRecordsThePlace) {
  RemoteCursor cursor;
  test::RecordingSurface surface;
  // No shape yet: two 32 x 32 areas, nothing to draw.
  cursor.SetPosition(10, 10);
  cursor.Update(false, surface);
  EXPECT_EQ(surface.TakeRects(), (std::vector<Rect>{{0, 0, 32, 32}, {10, 10, 42, 42}}));
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
  EXPECT_EQ(surface.TakeRects(), (std::vector<Rect>{{10, 10, 42, 42}, {200, 150, 232, 182}}));
  std::lock_guard<std::mutex> lock(cursor.Lock());
  CursorDraw d = TakeCursorForPaint(cursor.State(), 5, 7);
  EXPECT_EQ(d.originX, 195);
  EXPECT_EQ(d.originY, 143);
  // Unchanged since: paint draws at the last place.
  EXPECT_EQ(TakeCursorForPaint(cursor.State(), 0, 0).originX, 200);
}

}  // namespace
}  // namespace qc
