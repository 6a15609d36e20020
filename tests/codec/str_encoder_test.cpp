// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/str_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "receiver/viewer/str_decoder.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/temp_dir.h"

namespace qc {
namespace {

using test::Bytes;

// A frame and its reference with pixel access, for hand-made scenes.
struct Scene {
  Scene(int w, int h, int b)
      : W(w), H(h), B(b), frame(size_t(w) * h * b), reference(frame.size()) {}
  void Set(Bytes& f, int x, int y, uint32_t v) {
    std::memcpy(f.data() + (size_t(y) * W + x) * B, &v, B);
  }
  void Pixel(int x, int y, uint32_t v) { Set(frame, x, y, v); }
  // Substring k of row y: pixels k*P .. k*P+P-1 (W a multiple of 8).
  void Substring(int y, int k, const std::vector<uint32_t>& pixels) {
    for (size_t j = 0; j < pixels.size(); ++j) Pixel(k * (W / 8) + int(j), y, pixels[j]);
  }
  void ReferenceIsFrame() { reference = frame; }

  int W, H, B;
  Bytes frame, reference;
};

Bytes Encode(Scene& s, int first, int end, test::RecordingTransport& sink, bool* result = nullptr) {
  StrEncoder enc;
  enc.Init(s.W, s.B, s.frame.data(), s.reference.data(), &sink);
  bool r = enc.EncodeRows(first, end, PacketType::Update);
  if (result) *result = r;
  return sink.Joined();
}

TEST(StrEncoderFormat, WorkedExampleTenByteRecord) {
  // 16-bit, W = 64 (P = 8, S = 16). Row 5: substring 0 is A A B A A A A B,
  // substring 3 equals substring 3 of row 4 and not substring 2 of row 5.
  Scene s(64, 6, 2);
  const uint32_t A = 0x001F, Bc = 0xFFFF;
  s.Substring(4, 3, {1, 2, 3, 4, 5, 6, 7, 8});
  s.Substring(5, 3, {1, 2, 3, 4, 5, 6, 7, 8});
  s.Substring(5, 0, {A, A, Bc, A, A, A, A, Bc});
  s.ReferenceIsFrame();
  s.Set(s.reference, 0, 5, 0x1234);   // substring 0 of row 5 differs
  s.Set(s.reference, 26, 5, 0x4321);  // substring 3 of row 5 differs
  s.Set(s.reference, 26, 4, 0x4321);  // and substring 3 of row 4, sent before it
  test::RecordingTransport sink;
  bool result = false;
  Bytes out = Encode(s, 0, 6, sink, &result);
  EXPECT_TRUE(result);
  // Row 4: substring 3 alone, eight colours; then the ten-byte record.
  ASSERT_EQ(out.size(), 3u + 1 + 16 + 4 + 10);  // 4-bit indices
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0x10, 0x04, 0x00, 0x08}));
  EXPECT_EQ(Bytes(out.end() - 10, out.end()),
            (Bytes{0x90, 0x05, 0x00, 0x02, 0x1F, 0x00, 0xFF, 0xFF, 0x21, 0x41}));
  EXPECT_EQ(s.reference, s.frame);  // what was sent is in the reference
  EXPECT_EQ(sink.Payloads().size(), 1u);
}

TEST(StrEncoderFormat, SingleColourFullScreen) {
  for (int B : {2, 4}) {
    Scene s(64, 4, B);
    const uint32_t c = B == 4 ? 0x00AABBCC : 0xBBCC;
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 64; ++x) s.Pixel(x, y, c);
    std::fill(s.reference.begin(), s.reference.end(), 0x01);  // full-screen update
    test::RecordingTransport sink;
    Bytes out = Encode(s, 0, 4, sink);
    Bytes expected = {0xFF, 0, 0};
    for (int k = 0; k < 8; ++k) {
      expected.push_back(0x01);
      for (int i = 0; i < B; ++i) expected.push_back(uint8_t(c >> (8 * i)));
    }
    for (int y = 1; y < 4; ++y) {
      expected.insert(expected.end(), {0xFF, uint8_t(y), 0});
      expected.insert(expected.end(), 8, 0x40);
    }
    EXPECT_EQ(out, expected) << "B " << B;
  }
}

TEST(StrEncoderFormat, ThirtyTwoColoursArePaletteThirtyThreeAreRaw) {
  Scene s(512, 1, 4);  // P = 64
  std::vector<uint32_t> c32, c33;
  for (int j = 0; j < 64; ++j) {
    c32.push_back(0x00010203u * uint32_t(j % 32 + 1));
    c33.push_back(0x00030201u * uint32_t(j % 33 + 1));
  }
  s.Substring(0, 0, c32);
  s.Substring(0, 1, c33);
  s.ReferenceIsFrame();
  s.Set(s.reference, 0, 0, 0xDEAD);
  s.Set(s.reference, 64, 0, 0xDEAD);
  test::RecordingTransport sink;
  Bytes out = Encode(s, 0, 1, sink);
  ASSERT_EQ(out.size(), 3u + (1 + 32 * 4 + 2 * 22) + (1 + 2 * 64));
  EXPECT_EQ(out[0], 0xC0);
  EXPECT_EQ(out[3], 0x20);  // 17-32 color with 32 entries
  for (int i = 0; i < 32; ++i) EXPECT_EQ(ReadU32(&out[4 + 4 * i]), c32[i]);
  // Indices 0..31 then again: word 0 holds 0, 1, 2.
  EXPECT_EQ(ReadU16(&out[4 + 128]), (0 << 11) | (1 << 6) | 2);
  // Word 10 holds pixels 30, 31, 32 -> indices 30, 31, 0.
  EXPECT_EQ(ReadU16(&out[4 + 128 + 20]), (30 << 11) | (31 << 6) | 0);
  // Word 21 holds pixel 63 alone (index 31), low positions 0.
  EXPECT_EQ(ReadU16(&out[4 + 128 + 42]), 31 << 11);
  const size_t raw = 4 + 128 + 44;
  EXPECT_EQ(out[raw], 0x21);
  for (int j = 0; j < 64; ++j) EXPECT_EQ(ReadU16(&out[raw + 1 + 2 * j]), RawWordFromPixel(c33[j]));
}

TEST(StrEncoderFormat, Width1366HasPartialIndexBytesAndWords) {
  // B = 4, W = 1366: S = 683, P = 170.
  Scene s(1366, 1, 4);
  const int P = 170;
  // Substrings start 683 bytes apart, so their pixels are placed through
  // the substring offsets: 2, 20, 4 and 3 colours in substrings 0..3.
  Bytes& f = s.frame;
  std::fill(f.begin(), f.end(), 0);
  for (int j = 0; j < P; ++j) {
    uint32_t v0 = j % 2 ? 0xFF : 0x11, v1 = 0x100 * (j % 20) + 5, v2 = 0x10000 * (j % 4) + 7,
             v3 = 0x10000 * (j % 3) + 7;
    std::memcpy(&f[0 * 683 + 4 * j], &v0, 4);
    std::memcpy(&f[1 * 683 + 4 * j], &v1, 4);
    std::memcpy(&f[2 * 683 + 4 * j], &v2, 4);
    std::memcpy(&f[3 * 683 + 4 * j], &v3, 4);
  }
  std::fill(s.reference.begin(), s.reference.end(), 0);
  test::RecordingTransport sink;
  Bytes out = Encode(s, 0, 1, sink);
  size_t at = 3;
  EXPECT_EQ(out[0], 0xF0);
  ASSERT_EQ(out[at], 0x02);
  at += 1 + 8;
  EXPECT_EQ(out[at], 0x55);       // pixels 0..7: 0 1 0 1 ...
  EXPECT_EQ(out[at + 21], 0x40);  // byte 21 holds pixels 168, 169 only
  at += 22;
  ASSERT_EQ(out[at], 20);
  at += 1 + 80;
  EXPECT_EQ(ReadU16(&out[at + 2 * 56]), (8 << 11) | (9 << 6));  // pixels 168, 169
  at += 114;
  ASSERT_EQ(out[at], 4);
  at += 1 + 16;
  EXPECT_EQ(out[at], 0x1B);       // indices 0 1 2 3
  EXPECT_EQ(out[at + 42], 0x10);  // pixels 168, 169: indices 0, 1
  at += 43;
  ASSERT_EQ(out[at], 3);
  at += 1 + 12 + 43;
  EXPECT_EQ(at, out.size());
}

TEST(StrEncoderCopy, RulesForThePrecedingBytesTheRowAboveAndRowZero) {
  Scene s(64, 2, 2);
  auto pattern = [](int seed) {
    std::vector<uint32_t> p;
    for (int j = 0; j < 8; ++j) p.push_back(uint32_t(seed * 16 + j));
    return p;
  };
  const auto q = pattern(9), x = pattern(10), y = pattern(11);
  for (int k = 0; k < 8; ++k) s.Substring(0, k, k == 5 ? q : pattern(k));
  // Row 1: p7 p7 p2 p3 q q x y
  const std::vector<std::vector<uint32_t>> row1 = {pattern(7), pattern(7), pattern(2), pattern(3),
                                                   q,          q,          x,          y};
  for (int k = 0; k < 8; ++k) s.Substring(1, k, row1[k]);
  std::fill(s.reference.begin(), s.reference.end(), 0x01);
  test::RecordingTransport sink;
  const Bytes out = Encode(s, 0, 2, sink);
  // Row 0: eight substrings of 8 distinct colours (5-16 color). Row 1:
  // substring 0 = the end of row 0, substring 1 = substring 0 of this row,
  // 2 and 3 = those of row 0; q is neither, then equals both, where the
  // preceding bytes win.
  const StripGeometry g = StripGeometry::Make(64, 2);
  std::vector<int> tags;
  for (size_t at = 0; at + 3 <= out.size();) {
    EXPECT_EQ(out[at], 0xFF);  // both rows changed everywhere
    EXPECT_EQ(ReadU16(&out[at + 1]), tags.size() / 8);
    at += 3;
    for (int k = 0; k < 8 && at < out.size(); ++k) {
      tags.push_back(out[at]);
      at += 1 + g.BodyBytes(out[at]);
    }
  }
  std::vector<int> expected(8, 8);
  expected.insert(expected.end(), {0x40, 0x40, 0x41, 0x41, 8, 0x40, 8, 8});
  EXPECT_EQ(tags, expected);
  // Row 0 never holds a Copy, even when it repeats.
  Scene z(64, 2, 4);
  for (int k = 0; k < 8; ++k) z.Substring(0, k, {1, 2, 3, 4, 1, 2, 3, 4});
  z.reference = z.frame;
  for (int k = 0; k < 8; ++k) z.Set(z.reference, k * 8, 0, 0xEE);  // all changed
  test::RecordingTransport zeroSink;
  const Bytes zero = Encode(z, 0, 2, zeroSink);
  ASSERT_EQ(zero.size(), 3u + 8 * (1 + 16 + 2));
  for (int k = 0; k < 8; ++k) EXPECT_EQ(zero[3 + k * 19], 4);
  // The first row of a later band copies nothing: the row above and the
  // unchanged substrings beside it came in other datagrams.
  Scene t(64, 2, 4);
  for (int y = 0; y < 2; ++y)
    for (int k = 0; k < 8; ++k) t.Substring(y, k, {1, 2, 3, 4, 1, 2, 3, 4});
  t.reference = t.frame;
  t.Set(t.reference, 8, 1, 0xEE);  // substring 1 of row 1 changed
  test::RecordingTransport sink2;
  Bytes out2 = Encode(t, 1, 2, sink2);
  ASSERT_EQ(out2.size(), 3u + 1 + 16 + 2);
  EXPECT_EQ(out2[0], 0x40);
  EXPECT_EQ(out2[3], 4);  // four colours, not a Copy
}

TEST(StrEncoderRows, NothingToSendReturnsFalse) {
  Scene s(64, 4, 2);
  s.Pixel(3, 2, 77);
  test::RecordingTransport sink;
  bool empty = true, reversed = true, unchanged = true;
  Encode(s, 3, 3, sink, &empty);
  Encode(s, 3, 1, sink, &reversed);
  s.ReferenceIsFrame();
  Encode(s, 0, 4, sink, &unchanged);
  EXPECT_FALSE(empty || reversed || unchanged) << empty << reversed << unchanged;
  EXPECT_EQ(sink.calls, 0u);
}

// The quiet area (the sender's tray icon): its changes are sent like any
// other, but only changes outside it count, to the pixel, also within a
// substring it shares with other pixels.
TEST(StrEncoderRows, OnlyChangesBeyondTheQuietAreaCount) {
  // 32-bit, W = 64 (P = 8): the area covers pixels 10..13 of rows 2..3,
  // inside substring 1 (pixels 8..15).
  Scene s(64, 6, 4);
  s.ReferenceIsFrame();
  struct Case {
    int x, y;
    bool beyond;
  } cases[] = {{10, 2, false}, {13, 3, false},  // inside
               {9, 2, true},   {14, 3, true},   // same substring, beside it
               {30, 2, true},  {11, 4, true}};  // another substring, another row
  for (const Case& c : cases) {
    Scene t = s;
    t.Pixel(c.x, c.y, 0x00ABCDEF);
    test::RecordingTransport sink;
    StrEncoder enc;
    enc.Init(t.W, t.B, t.frame.data(), t.reference.data(), &sink);
    enc.SetQuietArea(ScreenRect{10, 2, 4, 2});
    EXPECT_TRUE(enc.EncodeRows(0, 6, PacketType::Update)) << c.x << "," << c.y;
    EXPECT_EQ(enc.SentBeyondQuietArea(), c.beyond) << c.x << "," << c.y;
    EXPECT_FALSE(enc.EncodeRows(0, 6, PacketType::Update));  // sent: nothing left
    EXPECT_FALSE(enc.SentBeyondQuietArea());
  }
  // Without an area every change counts.
  Scene t = s;
  t.Pixel(11, 2, 1);
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(t.W, t.B, t.frame.data(), t.reference.data(), &sink);
  enc.EncodeRows(0, 6, PacketType::Update);
  EXPECT_TRUE(enc.SentBeyondQuietArea());
}

TEST(StrEncoderRows, PayloadsAreCutBefore60000BytesAndTheLastOneGivesTheResult) {
  // Random 32-bit rows of 4096 pixels: every substring is Raw color and a
  // record takes 3 + 8 x (1 + 1024) = 8203 bytes; 7 fit in a payload.
  std::mt19937 rng(5);
  const int W = 4096, H = 40, B = 4;
  const Bytes frame = test::RandomFrame(rng, W, H, B);
  using R = SendResult;
  const R S = R::Sent, F = R::Failed;
  for (const auto& script : {std::vector<R>{}, {S, S, S, S, S, F}, {F, F, S, F, F, S}}) {
    Bytes ref(frame.size(), 1);
    test::RecordingTransport sink;
    sink.script = script;
    StrEncoder enc;
    enc.Init(W, B, frame.data(), ref.data(), &sink);
    EXPECT_EQ(enc.EncodeRows(0, H, PacketType::FullUpdate), script.empty() || script.back() == S);
    // A failed payload is not sent again: its rows are in the reference.
    EXPECT_EQ(ref, frame);
    ASSERT_EQ(sink.Payloads().size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(sink.Payloads()[i].size(), (i < 5 ? 7u : 5u) * 8203);
    int row = 0;
    for (auto& p : sink.Payloads()) {
      for (size_t at = 0; at < p.size(); at += 8203) EXPECT_EQ(ReadU16(&p[at + 1]), row++);
    }
  }
}

TEST(StrEncoderRows, UncoveredTailIsSentOnceThenComparesEqual) {
  // 16-bit, W = 1366: R = 2732 = 8 x 341 + 4; the last 4 bytes of a row
  // belong to no substring.
  const int W = 1366, H = 3, B = 2;
  Bytes frame(size_t(W) * H * B, 0), ref(frame.size(), 0);
  frame[size_t(W) * B * 1 + 2730] = 0x5A;  // row 1, in the tail only
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(W, B, frame.data(), ref.data(), &sink);
  // First pass: exactly the plain procedure's output, one empty record.
  EXPECT_TRUE(enc.EncodeRows(0, H, PacketType::Update));
  ASSERT_EQ(sink.Payloads().size(), 1u);
  EXPECT_EQ(sink.Payloads()[0], (Bytes{0x00, 0x01, 0x00}));
  // The tail is now in the reference: the row compares equal.
  EXPECT_EQ(ref, frame);
  EXPECT_FALSE(enc.EncodeRows(0, H, PacketType::Update));
  EXPECT_EQ(sink.Payloads().size(), 1u);
  // A real change of that row and its tail sends the substring only.
  frame[size_t(W) * B * 1 + 10] = 0x77;
  frame[size_t(W) * B * 1 + 2731] = 0x66;
  EXPECT_TRUE(enc.EncodeRows(0, H, PacketType::Update));
  ASSERT_EQ(sink.Payloads().size(), 2u);
  EXPECT_EQ(sink.Payloads()[1][0], 0x80);
  EXPECT_EQ(ref, frame);
}

// The real transport's refusal of an incompressible payload is in
// sender_test; here the split it causes goes several levels deep. Every
// piece must decode alone, although the record after a cut may repeat the
// row before it (every other row here repeats the one above).
TEST(StrEncoderSplit, SplitsRecursivelyIntoPiecesThatEachDecodeAlone) {
  std::mt19937 rng(17);
  const int W = 640, H = 200, B = 2;
  const size_t R = size_t(W) * B;
  Bytes frame = test::StructuredFrame(rng, W, H, B);
  for (int y = 1; y < H; y += 2) std::memcpy(&frame[y * R], &frame[(y - 1) * R], R);
  test::RecordingTransport whole, pieces;
  pieces.tooLargeAbove = 1300;  // above one record (at most 3 + 8 x (1 + 160)): splits several deep
  for (test::RecordingTransport* sink : {&whole, &pieces}) {
    Bytes ref(frame.size(), 1);
    StrEncoder enc;
    enc.Init(W, B, frame.data(), ref.data(), sink);
    EXPECT_TRUE(enc.EncodeRows(0, H, PacketType::Update));
  }
  EXPECT_GT(pieces.tooLarge, 0u);
  EXPECT_GT(pieces.Payloads().size(), 2 * whole.Payloads().size());
  int next = 0;
  for (const Bytes& p : pieces.Payloads()) {
    EXPECT_LE(p.size(), 1300u);
    Bytes fb(frame.size(), 0);
    StrDecoder dec;
    ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
    int first = -1, last = -1;
    ASSERT_TRUE(dec.Decode(p.data(), p.size(), first, last));
    ASSERT_EQ(first, next);
    for (; next <= last; ++next) ASSERT_EQ(std::memcmp(&fb[next * R], &frame[next * R], R), 0);
  }
  EXPECT_EQ(next, H);
}

// What the test log received from offset `from` on, without the time
// stamps ("HH:MM:SS ") that begin its lines.
std::string LogSince(size_t from) {
  const std::string text = test::ReadFile(test::LogPath());
  std::string out;
  for (size_t at = std::min(from, text.size()), next; at < text.size(); at = next) {
    next = std::min(text.find('\n', at), text.size() - 1) + 1;
    out.append(text, std::min(at + 9, next), next - std::min(at + 9, next));
  }
  return out;
}

TEST(StrEncoderStatistics, DestructorWritesTheTableAndZeroForKindsNeverSeen) {
  Log().Enable(true);
  const size_t before = LogSince(0).size();
  {
    // Nothing encoded: no statistics.
    Scene s(64, 3, 2);
    test::RecordingTransport sink;
    Encode(s, 0, 3, sink);
  }
  EXPECT_EQ(LogSince(before), "");
  {
    // One colour, three rows, full-screen: 8 x 1 color (3 bytes each) and
    // 16 Copy; one payload of 27 + 11 + 11 bytes, 8 + 49 bytes sent.
    Scene s(64, 3, 2);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 64; ++x) s.Pixel(x, y, 0x1234);
    std::fill(s.reference.begin(), s.reference.end(), 0x01);
    test::RecordingTransport sink;
    Encode(s, 0, 3, sink);
    EXPECT_EQ(sink.TotalBytesSent(), 57u);
  }
  Log().Enable(false);
  EXPECT_EQ(LogSince(before),
            "StrEncoder: Encoder statistics:\r\n"
            "  Copy        substring:       16       16 -     6.25%\r\n"
            "  1 color     substring:        8       24 -    18.75%\r\n"
            "  2 color     substring:        0        0 -     0.00%\r\n"
            "  3-4 color   substring:        0        0 -     0.00%\r\n"
            "  5-16 color  substring:        0        0 -     0.00%\r\n"
            "  17-32 color substring:        0        0 -     0.00%\r\n"
            "  Raw color   substring:        0        0 -     0.00%\r\n"
            "  TOTAL:\r\n"
            "  Raw          -      384\r\n"
            "  Encoded      -       40\r\n"
            "  Zlib'ed      -       57\r\n"
            "  Encoded eff. -    10.42%\r\n"
            "  Total eff.   -    14.84%\r\n");
}

TEST(StrEncoderStatistics, CountsKindsAndTheirBytes) {
  Scene s(512, 1, 4);  // P = 64
  // Substrings 0..5 hold 1, 2, 3, 9, 20 and 40 colours; 6 and 7 stay zero.
  const int colours[] = {1, 2, 3, 9, 20, 40};
  for (int k = 0; k < 6; ++k)
    for (int j = 0; j < 64; ++j) s.Pixel(k * 64 + j, 0, uint32_t(j % colours[k] + (k == 0) * 5));
  std::fill(s.reference.begin(), s.reference.end(), 0x01);
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(512, 4, s.frame.data(), s.reference.data(), &sink);
  enc.EncodeRows(0, 1, PacketType::Update);
  std::vector<uint32_t> counts, bytes;
  for (int k = 0; k < StrEncoder::kKindCount; ++k) {
    counts.push_back(enc.KindCount(StrEncoder::Kind(k)));
    bytes.push_back(enc.KindBytes(StrEncoder::Kind(k)));
  }
  // 1 color: substring 0, then 6 and 7 (zeros); then 2, 3-4, 5-16, 17-32,
  // Raw color, Copy.
  EXPECT_EQ(counts, (std::vector<uint32_t>{3, 1, 1, 1, 1, 1, 0}));
  EXPECT_EQ(bytes, (std::vector<uint32_t>{15, 1 + 8 + 8, 1 + 12 + 16, 1 + 36 + 32, 1 + 80 + 44,
                                          1 + 128, 0}));
}

}  // namespace
}  // namespace qc
