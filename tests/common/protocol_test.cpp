// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/protocol.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "common/byte_order.h"

namespace qc {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N, typename Build>
Bytes Built(Build build) {
  Bytes d(N);
  build(d.data());
  return d;
}

// A 1920x1080 32-bit screen 0xBEEF with the masks FF0000, FF00, FF.
const Bytes kInitBytes{0xFF, 0xFF, 0xEF, 0xBE, 0x80, 0x07, 0x38, 0x04, 0x20, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00};

TEST(Protocol, DatagramAndCursorHeaderLayoutsAreLittleEndian) {
  const InitMessage init{.screenId = 0xBEEF, .width = 1920, .height = 1080, .bitsPerPixel = 32,
                         .redMask = 0xFF0000, .greenMask = 0x00FF00, .blueMask = 0x0000FF};
  const std::pair<Bytes, Bytes> layouts[] = {
      {Built<kInitSize>([&](uint8_t* d) { BuildInit(init, d); }), kInitBytes},
      {Built<4>([](uint8_t* d) { BuildDisconnection(0x1234, d); }), {0xFE, 0xFF, 0x34, 0x12}},
      {Built<kKeepAliveSize>([](uint8_t* d) { BuildKeepAlive(0x1234, d); }),
       {0xF7, 0xFF, 0x34, 0x12}},
      {Built<kUpdateRequestSize>(BuildUpdateRequest), {0xF8, 0xFF}},
      {Built<kRepairRequestSize>([](uint8_t* d) { BuildRepairRequest({0x1234, 7, 0x0102}, d); }),
       {0xF8, 0xFF, 0x34, 0x12, 0x07, 0, 0, 0, 0x02, 0x01, 0, 0}},
      {Built<kCursorPositionSize>([](uint8_t* d) { BuildCursorPosition({0x0102, -5, 300}, d); }),
       {0xFA, 0xFF, 0x02, 0x01, 0xFB, 0xFF, 0x2C, 0x01}},
      {Built<kCompressedHeaderSize>(
           [](uint8_t* d) { BuildCompressedHeader({0xFFFC, 0xABCD, 0x01020304}, d); }),
       {0xFC, 0xFF, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01}},
  };
  for (const auto& [built, expected] : layouts) EXPECT_EQ(built, expected);
  // The cursor shape payload's header.
  const CursorShapeHeader h{3, -1, 32, 32, 32, 32, 32, 0, 0xFF0000, 0, 0, 0, 0xFFFF};
  Bytes payload(kCursorShapeHeaderSize + 32 * 32 * 4 + 128);
  BuildCursorShapeHeader(h, payload.data());
  const uint8_t* out = payload.data();
  EXPECT_EQ(ReadI16(out + 0), 3);
  EXPECT_EQ(ReadI16(out + 2), -1);
  EXPECT_EQ(ReadU16(out + 12), 32);
  EXPECT_EQ(ReadU16(out + 14), 0);
  EXPECT_EQ(ReadU32(out + 16), 0xFF0000u);
  EXPECT_EQ(ReadU16(out + 32), 0xFFFF);
  CursorShapeHeader back;
  ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), payload.size(), back));
  EXPECT_EQ(back.hotY, -1);
  EXPECT_EQ(back.ColorSize(), 32u * 32 * 4);
  EXPECT_EQ(back.MaskSize(), 128u);
  // A payload shorter than the bitmaps it announces is malformed.
  EXPECT_FALSE(ParseCursorShapeHeader(payload.data(), payload.size() - 1, back));
  EXPECT_FALSE(ParseCursorShapeHeader(payload.data(), kCursorShapeHeaderSize - 1, back));
  // No bitmaps; negative sizes from the network describe none rather than a
  // huge one.
  std::fill(payload.begin(), payload.end(), 0);
  ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), kCursorShapeHeaderSize, back));
  EXPECT_EQ(back.ColorSize() + back.MaskSize(), 0u);
  WriteI16(payload.data() + 8, -32);
  WriteI16(payload.data() + 10, 32);
  WriteU16(payload.data() + 12, 32);
  ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), kCursorShapeHeaderSize, back));
  EXPECT_EQ(back.ColorSize(), 0u);
}

TEST(Protocol, ParsersReadEveryFieldRefuseShortOrForeignDatagramsAndJudgeInits) {
  Bytes d = kInitBytes;
  InitMessage init;
  ASSERT_TRUE(ParseInit(d.data(), kInitSize, init));
  EXPECT_EQ(Built<kInitSize>([&](uint8_t* out) { BuildInit(init, out); }), d);
  EXPECT_FALSE(ParseInit(d.data(), kInitSize - 1, init));
  d[0] = 0xFE;
  EXPECT_FALSE(ParseInit(d.data(), kInitSize, init));

  const Bytes c = {0xFA, 0xFF, 0x02, 0x01, 0xFB, 0xFF, 0x2C, 0x01};
  CursorPosition p;
  ASSERT_TRUE(ParseCursorPosition(c.data(), 8, p));
  EXPECT_EQ(std::make_pair(p.x, p.y), std::make_pair(int16_t(-5), int16_t(300)));
  EXPECT_FALSE(ParseCursorPosition(c.data(), 7, p));
  EXPECT_TRUE(IsUpdateRequest(Bytes{0xF8, 0xFF}.data(), 2));
  EXPECT_FALSE(IsUpdateRequest(Bytes{0xF8, 0xFF}.data(), 1));
  EXPECT_FALSE(IsUpdateRequest(c.data(), 4));
  // Repair requests: every sender still reads one as an update request;
  // a short, long, reversed or too wide one is not a repair.
  Bytes r = Built<kRepairRequestSize>([](uint8_t* d) { BuildRepairRequest({9, 40, 41}, d); });
  RepairRequest rr;
  EXPECT_TRUE(IsUpdateRequest(r.data(), r.size()));
  ASSERT_TRUE(ParseRepairRequest(r.data(), r.size(), rr));
  EXPECT_EQ(std::make_tuple(rr.screenId, rr.first, rr.last), std::make_tuple(9, 40u, 41u));
  EXPECT_FALSE(ParseRepairRequest(r.data(), r.size() - 1, rr));
  r.push_back(0);
  EXPECT_FALSE(ParseRepairRequest(r.data(), r.size(), rr));
  for (auto [first, last, ok] : {std::tuple{5u, 4u, false}, {0u, kMaxRepairSpan - 1, true},
                                  {0u, kMaxRepairSpan, false}, {0xFFFFFFF0u, 3u, false}}) {
    BuildRepairRequest({9, first, last}, r.data());
    EXPECT_EQ(ParseRepairRequest(r.data(), kRepairRequestSize, rr), ok) << first << " " << last;
  }
  EXPECT_FALSE(PeekType(c.data(), 1).has_value());
  EXPECT_EQ(PeekType(c.data(), 2).value(), 0xFFFA);
  EXPECT_FALSE(PeekScreenId(c.data(), 3).has_value());
  EXPECT_EQ(PeekScreenId(c.data(), 4).value(), 0x0102);

  Bytes h = {0xFC, 0xFF, 0xCD, 0xAB, 0x04, 0x03, 0x02, 0x01};
  CompressedHeader back;
  ASSERT_TRUE(ParseCompressedHeader(h.data(), 8, back));
  EXPECT_EQ(back.sequence, 0x01020304u);
  EXPECT_FALSE(ParseCompressedHeader(h.data(), 7, back));
  for (uint16_t t : {0xFFFD, 0xFFFC, 0xFFF9, 0xFFFF, 0xFFFE, 0xFFFB, 0xFFFA, 0xFFF8, 0xFFF7, 0}) {
    WriteU16(h.data(), t);
    const bool compressed = t == 0xFFFD || t == 0xFFFC || t == 0xFFF9;
    EXPECT_EQ(ParseCompressedHeader(h.data(), 8, back), compressed) << std::hex << t;
  }
  // Init messages a receiver can use.
  const struct {
    uint16_t width, height, bits;
    bool usable;
  } cases[] = {{4096, 1, 16, true}, {4096, 1, 32, true}, {4096, 1, 0, false},
               {4096, 1, 8, false}, {4096, 1, 15, false}, {4096, 1, 24, false},
               {4096, 1, 33, false}, {4097, 1, 16, false}, {0, 1, 16, false},
               {8, 0, 16, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsUsableInit({0, c.width, c.height, c.bits}), c.usable)
        << c.width << "x" << c.height << "x" << c.bits;
  }
}

}  // namespace
}  // namespace qc
