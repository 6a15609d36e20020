#include "common/strip_format.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace qc {
namespace {

TEST(StripGeometry, DerivesLengthsFromWidthAndPixelSize) {
  const StripGeometry a = StripGeometry::Make(64, 2);
  EXPECT_EQ(a.rowBytes, 128);
  EXPECT_EQ(a.substringBytes, 16);
  EXPECT_EQ(a.pixels, 8);
  EXPECT_EQ(a.tailBytes, 0);

  // A 1366-pixel screen: P = 170, palette data covers 680 of 683 bytes.
  const StripGeometry b = StripGeometry::Make(1366, 4);
  EXPECT_EQ(b.rowBytes, 5464);
  EXPECT_EQ(b.substringBytes, 683);
  EXPECT_EQ(b.pixels, 170);
  EXPECT_EQ(b.tailBytes, 0);
  EXPECT_EQ(b.oneBitBytes, 22);
  EXPECT_EQ(b.twoBitBytes, 43);
  EXPECT_EQ(b.fourBitBytes, 85);
  EXPECT_EQ(b.fiveBitWords, 57);
  EXPECT_EQ(b.fiveBitBytes, 114);
  EXPECT_EQ(b.rawWordBytes, 340);
  EXPECT_EQ(b.RawBodyBytes(), 340);

  // The same width at 16 bits leaves 4 bytes of each row uncovered.
  const StripGeometry c = StripGeometry::Make(1366, 2);
  EXPECT_EQ(c.substringBytes, 341);
  EXPECT_EQ(c.tailBytes, 4);
  EXPECT_EQ(c.RawBodyBytes(), 341);
}

TEST(StripTags, BodyLengthFollowsFromTheTag) {
  const StripGeometry g = StripGeometry::Make(1366, 4);  // P = 170
  EXPECT_EQ(g.BodyBytes(0x40), 0);
  EXPECT_EQ(g.BodyBytes(0x41), 0);
  EXPECT_EQ(g.BodyBytes(0x7F), 0);  // other bits of a Copy tag are ignored
  EXPECT_EQ(g.BodyBytes(0x01), 4);
  EXPECT_EQ(g.BodyBytes(0x02), 8 + 22);
  EXPECT_EQ(g.BodyBytes(0x03), 12 + 43);
  EXPECT_EQ(g.BodyBytes(0x04), 16 + 43);
  EXPECT_EQ(g.BodyBytes(0x05), 20 + 85);
  EXPECT_EQ(g.BodyBytes(0x10), 64 + 85);
  EXPECT_EQ(g.BodyBytes(0x11), 68 + 114);
  EXPECT_EQ(g.BodyBytes(0x20), 128 + 114);
  EXPECT_EQ(g.BodyBytes(0x21), 340);
  EXPECT_EQ(g.BodyBytes(0x82), 8 + 22);  // bit 7 is ignored
  EXPECT_EQ(g.BodyBytes(0x00), -1);
  EXPECT_EQ(g.BodyBytes(0x80), -1);
  for (int t = 0x22; t <= 0x3F; ++t) EXPECT_EQ(g.BodyBytes(static_cast<uint8_t>(t)), -1) << t;
}

TEST(RawColourWord, BothDirections) {
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

TEST(IndexPacking, WorkedExamples) {
  // Indices 17, 3 and 31 make the 17-32 color word DF 88; one-bit indices
  // start at bit 7.
  const uint8_t five[3] = {17, 3, 31}, one[8] = {0, 0, 1, 0, 0, 0, 0, 1};
  uint8_t out[2] = {};
  EXPECT_EQ(PackIndices<5>(five, 3, out), 2);
  EXPECT_EQ(out[0], 0xDF);
  EXPECT_EQ(out[1], 0x88);
  EXPECT_EQ(PackIndices<1>(one, 8, out), 1);
  EXPECT_EQ(out[0], 0x21);
}

TEST(IndexPacking, PartialLastByteOrWordKeepsLowPositionsZero) {
  // P = 170: 2 color has 22 bytes, the last holding 2 pixels; 17-32 color
  // has 57 words, the last holding 2 pixels.
  std::vector<uint8_t> ones(170, 1), big(170, 31), out(200, 0xEE);
  EXPECT_EQ(PackIndices<1>(ones.data(), 170, out.data()), 22);
  EXPECT_EQ(out[20], 0xFF);
  EXPECT_EQ(out[21], 0xC0);
  EXPECT_EQ(PackIndices<2>(std::vector<uint8_t>(170, 3).data(), 170, out.data()), 43);
  EXPECT_EQ(out[42], 0xF0);
  EXPECT_EQ(PackIndices<4>(std::vector<uint8_t>(171, 15).data(), 171, out.data()), 86);
  EXPECT_EQ(out[85], 0xF0);
  EXPECT_EQ(PackIndices<5>(big.data(), 170, out.data()), 114);
  EXPECT_EQ(out[112] | out[113] << 8, 0xFFC0);  // 31 << 11 | 31 << 6
  EXPECT_EQ(PackIndices<5>(big.data(), 169, out.data()), 114);
  EXPECT_EQ(out[112] | out[113] << 8, 0xF800);
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

TEST(IndexPacking, UnpackReadsBackEveryPackedIndex) {
  std::mt19937 rng(7);
  for (int p = 0; p <= 512; ++p) {
    CheckRoundTrip<1>(rng, p);
    CheckRoundTrip<2>(rng, p);
    CheckRoundTrip<4>(rng, p);
    CheckRoundTrip<5>(rng, p);
  }
}

}  // namespace
}  // namespace qc
