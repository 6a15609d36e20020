// SPDX-License-Identifier: GPL-3.0-or-later
// GF(2^8) for the parity code: division undoes multiplication, and the
// region operations give what byte-by-byte products give, at every
// alignment of source and destination and every length (the library works
// on aligned 16-byte blocks; the edges are done apart).
#include "common/galois_field.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace qc {
namespace {

TEST(GaloisFieldTest, ProductsAreInvertibleAndOneIsTheIdentity) {
  for (int a = 0; a < 256; ++a) {
    EXPECT_EQ(gf::Mul(static_cast<uint8_t>(a), 1), a);
    for (int b = 1; b < 256; ++b) {
      const uint8_t p = gf::Mul(static_cast<uint8_t>(a), static_cast<uint8_t>(b));
      ASSERT_EQ(gf::Div(p, static_cast<uint8_t>(b)), a) << a << " " << b;
      ASSERT_EQ(p == 0, a == 0);
    }
  }
  // Addition is XOR: a * (b ^ c) = a * b ^ a * c.
  EXPECT_EQ(gf::Mul(0x53, 0xCA ^ 0x11), gf::Mul(0x53, 0xCA) ^ gf::Mul(0x53, 0x11));
  EXPECT_EQ(gf::Div16(gf::Mul16(0x8E, 0xFFF6), 0x8E), 0xFFF6);
}

TEST(GaloisFieldTest, RegionsMatchByteProductsAtAnyAlignmentAndLength) {
  std::mt19937 rng(5);
  std::vector<uint8_t> src(6000), dest(6000), expect;
  for (int round = 0; round < 300; ++round) {
    const size_t from = rng() % 32, to = rng() % 32;
    const size_t n = round < 40 ? static_cast<size_t>(round) : rng() % 5900;
    const uint8_t c = static_cast<uint8_t>(rng());
    for (auto& b : src) b = static_cast<uint8_t>(rng());
    for (auto& b : dest) b = static_cast<uint8_t>(rng());
    expect = dest;
    for (size_t i = 0; i < n; ++i) expect[to + i] ^= gf::Mul(c, src[from + i]);
    gf::MulAdd(src.data() + from, dest.data() + to, c, n);
    ASSERT_EQ(dest, expect) << "from " << from << " to " << to << " n " << n << " c " << int(c);
    for (size_t i = 0; i < n; ++i) expect[to + i] = gf::Mul(c, expect[to + i]);
    gf::Scale(dest.data() + to, c, n);
    ASSERT_EQ(dest, expect) << "scale: to " << to << " n " << n << " c " << int(c);
  }
}

}  // namespace
}  // namespace qc
