// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/strip_format.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace qc {
namespace {

TEST(StripFormat, LengthsFollowFromWidthPixelSizeAndTagAndRawWordsGoBothWays) {
  // A 1366-pixel screen: P = 170, palette data covers 680 of 683 bytes; at
  // 16 bits 4 bytes of each row belong to no substring.
  const struct { int w, b, row, substring, pixels, tail; } sizes[] = {
      {64, 2, 128, 16, 8, 0}, {1366, 4, 5464, 683, 170, 0}, {1366, 2, 2732, 341, 170, 4}};
  for (const auto& c : sizes) {
    const StripGeometry g = StripGeometry::Make(c.w, c.b);
    EXPECT_EQ(std::vector<int>({g.rowBytes, g.substringBytes, g.pixels, g.tailBytes}),
              std::vector<int>({c.row, c.substring, c.pixels, c.tail})) << c.w << "x" << c.b;
  }
  EXPECT_EQ(StripGeometry::Make(1366, 2).RawBodyBytes(), 341);
  // Body lengths at P = 170; bit 7 and the other bits of a Copy tag are
  // ignored; 0 and 34..63 colours are no tag.
  const StripGeometry g = StripGeometry::Make(1366, 4);
  const std::pair<uint8_t, int> tags[] = {
      {0x40, 0}, {0x41, 0}, {0x7F, 0}, {0x01, 4}, {0x02, 8 + 22}, {0x03, 12 + 43}, {0x04, 16 + 43},
      {0x05, 20 + 85}, {0x10, 64 + 85}, {0x11, 68 + 114}, {0x20, 128 + 114}, {0x21, 340},
      {0x82, 8 + 22}, {0x00, -1}, {0x80, -1}};
  for (const auto& [tag, bytes] : tags) EXPECT_EQ(g.BodyBytes(tag), bytes) << int(tag);
  for (int t = 0x22; t <= 0x3F; ++t) EXPECT_EQ(g.BodyBytes(static_cast<uint8_t>(t)), -1) << t;
  // Pixel bytes 12 34 56 00 make the word with bytes 8A 11, which a reader
  // rebuilds as 10 30 50 00; bit 5 is always 0 and byte 3 is not carried.
  EXPECT_EQ(RawWordFromPixel(0x00563412), 0x118A);
  EXPECT_EQ(PixelFromRawWord(0x118A), 0x00503010u);
  EXPECT_EQ(RawWordFromPixel(0xFFFFFFFF) & 0x20, 0);
  EXPECT_EQ(RawWordFromPixel(0xFF000000), 0);
  for (uint32_t v : {0x00000000u, 0x00FFFFFFu, 0x00F8F8F8u, 0x12345678u, 0x00070707u}) {
    EXPECT_EQ(PixelFromRawWord(RawWordFromPixel(v)), v & 0x00F8F8F8u) << std::hex << v;
  }
}

template <int Bits>
void CheckRoundTrip(std::mt19937& rng, int pixels) {
  const int limit = Bits == 5 ? 32 : 1 << Bits;
  std::vector<uint8_t> index(pixels), packed(1100, 0), back(pixels, 0xFF);
  for (auto& i : index) i = static_cast<uint8_t>(rng() % limit);
  const int len = PackIndices<Bits>(index.data(), pixels, packed.data());
  const int expected = Bits == 5 ? 2 * ((pixels + 2) / 3) : (pixels * Bits + 7) / 8;
  ASSERT_EQ(len, expected) << "bits " << Bits << " pixels " << pixels;
  int calls = 0;
  UnpackIndices<Bits>(packed.data(), pixels, [&](int j, unsigned v) {
    ASSERT_EQ(j, calls);
    back[j] = static_cast<uint8_t>(v);
    ++calls;
  });
  EXPECT_EQ(calls, pixels);
  EXPECT_EQ(back, index) << "bits " << Bits << " pixels " << pixels;
}

TEST(IndexPacking, UnpackReadsBackEveryIndexAndPartialBytesKeepLowPositionsZero) {
  std::mt19937 rng(7);
  for (int p = 0; p <= 512; ++p) {
    CheckRoundTrip<1>(rng, p);
    CheckRoundTrip<2>(rng, p);
    CheckRoundTrip<4>(rng, p);
    CheckRoundTrip<5>(rng, p);
  }
  // Partial last bytes and words keep their low positions zero (the 1-, 2-
  // and 5-bit ones of P = 170 are in str_encoder_test).
  std::vector<uint8_t> out(200, 0xEE);
  EXPECT_EQ(PackIndices<4>(std::vector<uint8_t>(171, 15).data(), 171, out.data()), 86);
  EXPECT_EQ(out[85], 0xF0);
  EXPECT_EQ(PackIndices<5>(std::vector<uint8_t>(169, 31).data(), 169, out.data()), 114);
  EXPECT_EQ(out[112] | out[113] << 8, 0xF800);
}

}  // namespace
}  // namespace qc
