// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/str_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "common/byte_order.h"
#include "tests/codec/codec_test_support.h"

namespace qc {
namespace {

using test::Bytes;

// A framebuffer between two guard zones that must stay untouched.
class GuardedFramebuffer {
 public:
  static constexpr size_t kGuard = 16384;
  static constexpr uint8_t kGuardByte = 0xA5;

  GuardedFramebuffer(int width, int height, int bytesPerPixel)
      : size_(size_t(width) * height * bytesPerPixel), storage_(size_ + 2 * kGuard, kGuardByte) {
    std::fill(storage_.begin() + kGuard, storage_.begin() + kGuard + size_, 0);
  }
  uint8_t* data() { return storage_.data() + kGuard; }
  Bytes Pixels() const {
    return Bytes(storage_.begin() + kGuard, storage_.begin() + kGuard + size_);
  }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (storage_[i] != kGuardByte || storage_[kGuard + size_ + i] != kGuardByte) return false;
    }
    return true;
  }

 private:
  size_t size_;
  Bytes storage_;
};

// Decodes from an exactly sized heap copy, so that a read past the payload
// is caught by the address sanitizer.
bool DecodeExact(StrDecoder& dec, const Bytes& payload, int& first, int& last) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[payload.size() + (payload.empty() ? 1 : 0)]);
  if (!payload.empty()) std::memcpy(copy.get(), payload.data(), payload.size());
  return dec.Decode(copy.get(), payload.size(), first, last);
}

// Raw color and 17-32 color words and the partial index bytes of P = 170
// are pinned byte for byte in str_encoder_test and strip_format_test; their
// decoding is checked by codec_roundtrip_test at those widths.
TEST(StrDecoderFormat, RefusedGeometriesTheWorkedExampleAndEmptyRecords) {
  // Geometries it cannot serve are refused; unbound, it decodes nothing.
  Bytes wide(4096 * 4 * 2);
  StrDecoder probe;
  for (auto [b, w, h] : {std::tuple{4, 0, 2}, {4, 4097, 2}, {3, 64, 2}, {1, 64, 2}, {2, 64, 0}}) {
    EXPECT_FALSE(probe.Init(wide.data(), b, w, h)) << b << " " << w << "x" << h;
  }
  EXPECT_FALSE(probe.Init(nullptr, 2, 64, 2));
  int f = 0, l = 0;
  const uint8_t record[3] = {0, 0, 0};
  EXPECT_FALSE(probe.Decode(record, 3, f, l));  // not bound to a framebuffer
  EXPECT_TRUE(probe.Init(wide.data(), 4, 4096, 2));
  EXPECT_TRUE(probe.Init(wide.data(), 2, 1, 2));
  EXPECT_TRUE(probe.Decode(record, 3, f, l));
  const int W = 64, H = 6, B = 2;
  GuardedFramebuffer fb(W, H, B);
  // Row 4, substring 3 holds 1..8; it is what row 5 copies.
  for (int j = 0; j < 8; ++j) WriteU16(fb.data() + 4 * 128 + 48 + 2 * j, uint16_t(j + 1));
  StrDecoder dec;
  ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
  int first = -5, last = -5;
  ASSERT_TRUE(
      DecodeExact(dec, {0x90, 0x05, 0x00, 0x02, 0x1F, 0x00, 0xFF, 0xFF, 0x21, 0x41}, first, last));
  EXPECT_EQ(std::make_pair(first, last), std::make_pair(5, 5));
  const uint16_t A = 0x001F, Bc = 0xFFFF;
  const uint16_t expected[8] = {A, A, Bc, A, A, A, A, Bc};
  Bytes out = fb.Pixels();
  for (int j = 0; j < 8; ++j) EXPECT_EQ(ReadU16(&out[5 * 128 + 2 * j]), expected[j]);
  for (int j = 0; j < 8; ++j) EXPECT_EQ(ReadU16(&out[5 * 128 + 48 + 2 * j]), j + 1);
  // Everything else of row 5 is untouched.
  for (int i = 16; i < 48; ++i) EXPECT_EQ(out[5 * 128 + i], 0);
  // Empty records set the rows and write nothing.
  ASSERT_TRUE(DecodeExact(dec, {0x00, 2, 0, 0x00, 3, 0, 0x00, 4, 0}, first, last));
  EXPECT_EQ(std::make_pair(first, last), std::make_pair(2, 4));
  EXPECT_EQ(fb.Pixels(), out);
  EXPECT_TRUE(fb.GuardsIntact());
}

// ---- Hostile payloads ------------------------------------------------------

class StrDecoderHostile : public testing::Test {
 protected:
  static constexpr int W = 64, H = 4, B = 2;  // S = 16, P = 8
  void SetUp() override { ASSERT_TRUE(dec_.Init(fb_.data(), B, W, H)); }
  // Decodes; expects rejection and an untouched framebuffer.
  void ExpectRejected(const Bytes& p, const char* what) {
    const Bytes before = fb_.Pixels();
    int first = 0, last = 0;
    EXPECT_FALSE(DecodeExact(dec_, p, first, last)) << what;
    EXPECT_EQ(first, -1) << what;
    EXPECT_EQ(last, -1) << what;
    EXPECT_EQ(fb_.Pixels(), before) << what;
    EXPECT_TRUE(fb_.GuardsIntact()) << what;
  }
  GuardedFramebuffer fb_{W, H, B};
  StrDecoder dec_;
};

TEST_F(StrDecoderHostile, ShortRecordsBadRowsCopiesInRowZeroAndBadTags) {
  const std::pair<Bytes, const char*> cases[] = {
      {{}, "empty"},
      {{0x00}, "one byte"},
      {{0x00, 0x01}, "two bytes"},
      {{0x00, 0xFF, 0xFF}, "row -1"},
      {{0x00, 0x00, 0x80}, "row -32768"},
      {{0x80, H, 0, 0x01, 1, 2}, "row H"},
      {{0x80, 0xFF, 0x7F, 0x01, 1, 2}, "row 32767"},
      {{0x80, 0, 0, 0x40}, "0x40 in substring 0 of row 0"},
      {{0x80, 0, 0, 0x41}, "0x41 in row 0"},
      {{0x40, 0, 0, 0x40}, "0x40 in substring 1 of row 0"},
      {{0x01, 0, 0, 0xFF}, "other Copy bits in row 0"},
      {{0x80, 1, 0, 0x00}, "0 colours"},
      {{0x80, 1, 0, 0x80}, "0 colours, bit 7"},
  };
  for (const auto& [p, what] : cases) ExpectRejected(p, what);
  for (int t = 0x22; t <= 0x3F; ++t) {
    Bytes p = {0x80, 1, 0, uint8_t(t)};
    p.resize(200, 0);
    ExpectRejected(p, "34..63 colours");
  }
}

TEST_F(StrDecoderHostile, IndexBeyondThePalette) {
  ExpectRejected({0x80, 1, 0, 0x03, 1, 0, 2, 0, 3, 0, 0x03, 0x00}, "index 3 of 3 colours");
  Bytes five = {0x80, 1, 0, 0x05, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0x01, 0x23, 0x4F, 0x00};
  ExpectRejected(five, "index 15 of 5 colours");
  Bytes eight = {0x80, 1, 0, 0x08};
  for (int i = 0; i < 8; ++i) eight.insert(eight.end(), {uint8_t(i), 0});
  eight.insert(eight.end(), {0x01, 0x23, 0x45, 0x68});
  ExpectRejected(eight, "index 8 of 8 colours");
  eight.back() = 0x67;
  int ok1, ok2;
  EXPECT_TRUE(DecodeExact(dec_, eight, ok1, ok2));
  Bytes seventeen = {0x80, 1, 0, 0x11};
  for (int i = 0; i < 17; ++i) seventeen.insert(seventeen.end(), {uint8_t(i), 0});
  Bytes words(6, 0);
  words[4] = 0x00;
  words[5] = 17 << 3;  // word 2, bits 15-11: pixel 6 takes index 17
  seventeen.insert(seventeen.end(), words.begin(), words.end());
  ExpectRejected(seventeen, "index 17 of 17 colours");
  // The unused low positions of a partly filled word are not indices.
  words[5] = 16 << 3;
  words[4] = 0x1F;  // pixel 8 does not exist (P = 8): ignored
  seventeen.resize(seventeen.size() - 6);
  seventeen.insert(seventeen.end(), words.begin(), words.end());
  int first, last;
  EXPECT_TRUE(DecodeExact(dec_, seventeen, first, last));
}

TEST_F(StrDecoderHostile, BadRecordStopsAndKeepsTheRowsBefore) {
  // Row 1 one colour, row 2 one colour, then row 3 whose second entry has
  // a bad tag: rows 1 and 2 stay, row 3 is not touched at all.
  Bytes p = {0x80, 1,    0,    0x01, 0x34, 0x12, 0x80, 2,    0,   0x01,
             0x78, 0x56, 0xC0, 3,    0,    0x01, 0x11, 0x11, 0x2F};
  int first = 0, last = 0;
  EXPECT_FALSE(DecodeExact(dec_, p, first, last));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 2);
  Bytes out = fb_.Pixels();
  for (int j = 0; j < 8; ++j) {
    EXPECT_EQ(ReadU16(&out[128 + 2 * j]), 0x1234);
    EXPECT_EQ(ReadU16(&out[256 + 2 * j]), 0x5678);
    EXPECT_EQ(ReadU16(&out[384 + 2 * j]), 0);
  }
  EXPECT_TRUE(fb_.GuardsIntact());
}

TEST_F(StrDecoderHostile, EveryTruncationOfAValidPayload) {
  std::mt19937 rng(8);
  for (int round = 0; round < 20; ++round) {
    Bytes p = test::RandomValidPayload(rng, W, H, B, 4);
    // Record boundaries, from the lengths of the valid payload.
    const StripGeometry g = StripGeometry::Make(W, B);
    std::vector<size_t> ends;
    for (size_t at = 0; at < p.size();) {
      size_t pos = at + 3;
      for (int k = 0; k < 8; ++k)
        if (p[at] & (0x80 >> k)) pos += 1 + g.BodyBytes(p[pos]);
      ends.push_back(pos);
      at = pos;
    }
    for (size_t n = 1; n < p.size(); ++n) {
      Bytes cut(p.begin(), p.begin() + n);
      int first, last;
      const bool ok = DecodeExact(dec_, cut, first, last);
      EXPECT_EQ(ok, std::find(ends.begin(), ends.end(), n) != ends.end()) << n;
      ASSERT_TRUE(fb_.GuardsIntact());
    }
  }
}

// Runs many random and mutated payloads against several geometries; the
// decoder must reject or apply each without touching anything outside the
// framebuffer or reading past the payload (the sanitizer build checks the
// reads).
TEST(StrDecoderFuzz, RandomAndMutatedPayloads) {
  std::mt19937 rng(20261206);
  struct Geo {
    int w, h, b;
  };
  const Geo geos[] = {{8, 3, 2},    {64, 8, 4},   {100, 5, 2}, {1366, 4, 2},
                      {1366, 4, 4}, {4096, 3, 4}, {3, 2, 4}};
  int accepted = 0, rejected = 0;
  for (const Geo& geo : geos) {
    GuardedFramebuffer fb(geo.w, geo.h, geo.b);
    StrDecoder dec;
    ASSERT_TRUE(dec.Init(fb.data(), geo.b, geo.w, geo.h));
    for (int i = 0; i < 3000; ++i) {
      Bytes p;
      const int how = static_cast<int>(rng() % 6);
      if (how == 0) {
        p.resize(rng() % 64);
        for (auto& b : p) b = uint8_t(rng());
      } else {
        p = test::RandomValidPayload(rng, geo.w, geo.h, geo.b, 1 + static_cast<int>(rng() % 4));
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !p.empty(); ++e) {
          const size_t at = rng() % p.size();
          switch (rng() % 5) {
            case 0: p[at] ^= uint8_t(1u << (rng() % 8)); break;
            case 1: p[at] = uint8_t(rng()); break;
            case 2: p.resize(at); break;
            case 3: p.insert(p.begin() + at, uint8_t(rng())); break;
            default: p.erase(p.begin() + at); break;
          }
        }
      }
      const Bytes before = fb.Pixels();
      int first = 0, last = 0;
      const bool ok = DecodeExact(dec, p, first, last);
      ASSERT_TRUE(fb.GuardsIntact());
      ASSERT_GE(last, first);
      ASSERT_LT(last, geo.h);
      if (ok) {
        ++accepted;
      } else {
        ++rejected;
        // A rejected payload keeps the rows before the bad record only.
        if (first < 0) {
          ASSERT_EQ(fb.Pixels(), before) << testing::PrintToString(p);
        }
      }
    }
  }
  // Both outcomes occur, so the mutations reach the decoding paths.
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(rejected, 1000);
}

}  // namespace
}  // namespace qc
