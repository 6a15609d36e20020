#include "common/protocol.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"

namespace qc {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ByteOrder, FieldsAreLittleEndian) {
  uint8_t b[4];
  WriteU32(b, 0x12345678);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(ReadU32(b), 0x12345678u);
  WriteI16(b, -2);
  EXPECT_EQ(Bytes(b, b + 2), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(ReadI16(b), -2);
  EXPECT_EQ(ReadU16(b), 0xFFFE);
}

TEST(Protocol, InitMessageLayout) {
  InitMessage m;
  m.screenId = 0xBEEF;
  m.width = 1920;
  m.height = 1080;
  m.bitsPerPixel = 32;
  m.redMask = 0xFF0000;
  m.greenMask = 0x00FF00;
  m.blueMask = 0x0000FF;
  uint8_t out[kInitSize];
  BuildInit(m, out);
  Bytes expected{0xFF, 0xFF, 0xEF, 0xBE, 0x80, 0x07, 0x38, 0x04, 0x20, 0x00, 0x00, 0x00,
                 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(out, out + kInitSize), expected);

  InitMessage back;
  ASSERT_TRUE(ParseInit(out, kInitSize, back));
  uint8_t again[kInitSize];
  BuildInit(back, again);  // every field parsed back
  EXPECT_EQ(Bytes(again, again + kInitSize), expected);
  EXPECT_FALSE(ParseInit(out, kInitSize - 1, back));
  out[0] = 0xFE;
  EXPECT_FALSE(ParseInit(out, kInitSize, back));
}

TEST(Protocol, UsableInitMessages) {
  const struct {
    uint16_t width, height, bits;
    bool usable;
  } cases[] = {{4096, 1, 16, true}, {4096, 1, 32, true}, {4096, 1, 0, false},
               {4096, 1, 8, false}, {4096, 1, 15, false}, {4096, 1, 24, false},
               {4096, 1, 33, false}, {4097, 1, 16, false}, {0, 1, 16, false},
               {8, 0, 16, false}};
  for (const auto& c : cases) {
    InitMessage m;
    m.width = c.width;
    m.height = c.height;
    m.bitsPerPixel = c.bits;
    EXPECT_EQ(IsUsableInit(m), c.usable) << c.width << "x" << c.height << "x" << c.bits;
  }
}

TEST(Protocol, SmallDatagramLayouts) {
  uint8_t d[4];
  BuildDisconnection(0x1234, d);
  EXPECT_EQ(Bytes(d, d + 4), (Bytes{0xFE, 0xFF, 0x34, 0x12}));
  BuildKeepAlive(0x1234, d);
  EXPECT_EQ(Bytes(d, d + 4), (Bytes{0xF7, 0xFF, 0x34, 0x12}));
  uint8_t r[2];
  BuildUpdateRequest(r);
  EXPECT_EQ(Bytes(r, r + 2), (Bytes{0xF8, 0xFF}));
  EXPECT_TRUE(IsUpdateRequest(r, 2));
  EXPECT_FALSE(IsUpdateRequest(r, 1));
  EXPECT_FALSE(IsUpdateRequest(d, 4));

  uint8_t c[kCursorPositionSize];
  BuildCursorPosition(CursorPosition{0x0102, -5, 300}, c);
  EXPECT_EQ(Bytes(c, c + 8), (Bytes{0xFA, 0xFF, 0x02, 0x01, 0xFB, 0xFF, 0x2C, 0x01}));
  CursorPosition p;
  ASSERT_TRUE(ParseCursorPosition(c, 8, p));
  EXPECT_EQ(p.x, -5);
  EXPECT_EQ(p.y, 300);
  EXPECT_FALSE(ParseCursorPosition(c, 7, p));
}

TEST(Protocol, CompressedHeader) {
  uint8_t h[kCompressedHeaderSize];
  BuildCompressedHeader(CompressedHeader{0xFFFC, 0xABCD, 0x01020304}, h);
  EXPECT_EQ(Bytes(h, h + 8), (Bytes{0xFC, 0xFF, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01}));
  CompressedHeader back;
  ASSERT_TRUE(ParseCompressedHeader(h, 8, back));
  EXPECT_EQ(back.sequence, 0x01020304u);
  EXPECT_FALSE(ParseCompressedHeader(h, 7, back));
  for (uint16_t t : {0xFFFD, 0xFFFC, 0xFFF9}) {
    WriteU16(h, t);
    EXPECT_TRUE(ParseCompressedHeader(h, 8, back)) << std::hex << t;
  }
  for (uint16_t t : {0xFFFF, 0xFFFE, 0xFFFB, 0xFFFA, 0xFFF8, 0xFFF7, 0x0000}) {
    WriteU16(h, t);
    EXPECT_FALSE(ParseCompressedHeader(h, 8, back)) << std::hex << t;
  }
}

TEST(Protocol, PeekRefusesShortDatagrams) {
  uint8_t d[4] = {0xFF, 0xFF, 0x01, 0x00};
  EXPECT_FALSE(PeekType(d, 1).has_value());
  EXPECT_EQ(PeekType(d, 2).value(), 0xFFFF);
  EXPECT_FALSE(PeekScreenId(d, 3).has_value());
  EXPECT_EQ(PeekScreenId(d, 4).value(), 1);
}

TEST(Protocol, CursorShapeHeaderLayout) {
  CursorShapeHeader h;
  h.hotX = 3;
  h.hotY = -1;
  h.maskWidth = 32;
  h.maskHeight = 32;
  h.colorWidth = 32;
  h.colorHeight = 32;
  h.colorBitsPerPixel = 32;
  h.colorRedMask = 0xFF0000;
  h.maskPalette0 = 0x00000000;
  h.maskPalette1BG = 0xFFFF;
  uint8_t out[kCursorShapeHeaderSize];
  BuildCursorShapeHeader(h, out);
  EXPECT_EQ(ReadI16(out + 0), 3);
  EXPECT_EQ(ReadI16(out + 2), -1);
  EXPECT_EQ(ReadU16(out + 12), 32);
  EXPECT_EQ(ReadU16(out + 14), 0);
  EXPECT_EQ(ReadU32(out + 16), 0xFF0000u);
  EXPECT_EQ(ReadU16(out + 32), 0xFFFF);
  EXPECT_EQ(h.ColorSize(), 32u * 32 * 4);
  EXPECT_EQ(h.MaskSize(), 128u);

  std::vector<uint8_t> payload(kCursorShapeHeaderSize + h.ColorSize() + h.MaskSize());
  std::copy(out, out + kCursorShapeHeaderSize, payload.begin());
  CursorShapeHeader back;
  EXPECT_TRUE(ParseCursorShapeHeader(payload.data(), payload.size(), back));
  EXPECT_EQ(back.hotY, -1);
  // A payload shorter than the bitmaps it announces is malformed.
  EXPECT_FALSE(ParseCursorShapeHeader(payload.data(), payload.size() - 1, back));
  EXPECT_FALSE(ParseCursorShapeHeader(payload.data(), kCursorShapeHeaderSize - 1, back));
}

TEST(Protocol, CursorShapeWithoutBitmaps) {
  uint8_t out[kCursorShapeHeaderSize] = {};
  CursorShapeHeader back;
  ASSERT_TRUE(ParseCursorShapeHeader(out, sizeof out, back));
  EXPECT_EQ(back.ColorSize(), 0u);
  EXPECT_EQ(back.MaskSize(), 0u);
  // Negative sizes from the network describe no bitmap rather than a huge one.
  WriteI16(out + 8, -32);
  WriteI16(out + 10, 32);
  WriteU16(out + 12, 32);
  ASSERT_TRUE(ParseCursorShapeHeader(out, sizeof out, back));
  EXPECT_EQ(back.ColorSize(), 0u);
}

}  // namespace
}  // namespace qc
