// SPDX-License-Identifier: GPL-3.0-or-later
// Frames through StrEncoder and StrDecoder: the receiver's framebuffer must
// end up holding what the sender's frame holds, in every byte the format
// carries.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "receiver/viewer/str_decoder.h"
#include "sender/capture/str_encoder.h"
#include "tests/codec/codec_test_support.h"

namespace qc {
namespace {

using test::Bytes;

// One sender, one receiver: a full-screen update in four quarters, then
// passes over changed frames, each payload decoded as it is sent.
void RoundTrip(int W, int H, int B, bool structured, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes frame = structured ? test::StructuredFrame(rng, W, H, B) : test::RandomFrame(rng, W, H, B);
  Bytes reference(frame.size(), 0x01);  // full-screen update
  Bytes fb(frame.size(), 0);
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(W, B, frame.data(), reference.data(), &sink);
  StrDecoder dec;
  ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
  const StripGeometry g = StripGeometry::Make(W, B);
  for (int pass = 0; pass < 6; ++pass) {
    for (int q = 0; q < 4; ++q) {
      sink.Take();
      enc.EncodeRows(q * H / 4, (q + 1) * H / 4,
                     pass == 0 ? PacketType::FullUpdate : PacketType::Update);
      for (const Bytes& p : sink.Payloads()) {
        int first = -1, last = -1;
        ASSERT_TRUE(dec.Decode(p.data(), p.size(), first, last));
      }
    }
    // When R is not a multiple of 8, a Copy 0x40 in substring 0 takes the
    // last S bytes of the row above, which include bytes the format never
    // carries; only content without such copies can match there.
    if (g.tailBytes == 0 || !structured) {
      ASSERT_TRUE(test::CarriedBytesMatch(frame.data(), fb.data(), W, H, B))
          << "W " << W << " B " << B << " pass " << pass;
    }
    if (B == 2 && W % 8 == 0) {
      ASSERT_EQ(fb, frame) << "W " << W << " pass " << pass;
    }
    test::Scribble(rng, frame, W, H, B);
  }
  // Structured frames wide enough for 33 colours a substring exercise every
  // kind of entry.
  for (int kind = 0; structured && W >= 1000 && kind < StrEncoder::kKindCount; ++kind) {
    EXPECT_GT(enc.KindCount(StrEncoder::Kind(kind)), 0u) << "W " << W << " kind " << kind;
  }
}

// 16-bit is exact, 32-bit loses only Raw color low bits; widths that are
// multiples of 8 and widths that are not.
TEST(CodecRoundTrip, StructuredAndRandomFramesAtManyWidths) {
  for (int B : {2, 4}) {
    for (int W : {8, 9, 64, 100, 1000, 1366, 1367, 1920, 1921, 4096}) {
      RoundTrip(W, W % 8 ? 32 : 48, B, true, 100 + W * B);
      RoundTrip(W, 16, B, false, 200 + W * B);
    }
  }
}

// A receiver that lost a payload decodes the following ones, then gets the
// lost rows again (a repair re-sends just those rows): its picture must be
// whole. That holds only if no payload copies bytes that came in another
// one; here every row repeats the one above, so each band is tempted to.
TEST(CodecRoundTrip, ARepairOfTheLostPayloadMendsEveryRowAfterIt) {
  const int W = 1920, H = 48, B = 2;
  std::mt19937 rng(5);
  Bytes frame = test::StructuredFrame(rng, W, H, B);
  Bytes reference(frame.size(), 0x01), fb(frame.size(), 0);
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(W, B, frame.data(), reference.data(), &sink);
  StrDecoder dec;
  ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
  auto deliver = [&](bool lost) {
    for (const Bytes& p : sink.Payloads()) {
      int first = -1, last = -1;
      if (!lost) {
        ASSERT_TRUE(dec.Decode(p.data(), p.size(), first, last));
      }
    }
    sink.Take();
  };
  enc.EncodeRows(0, H, PacketType::FullUpdate);
  deliver(false);
  ASSERT_EQ(fb, frame);

  const Bytes fresh = test::StructuredFrame(rng, W, 1, B);
  for (int y = 0; y < H; ++y) std::memcpy(&frame[size_t(y) * W * B], fresh.data(), fresh.size());
  enc.EncodeRows(0, H / 2, PacketType::Update);
  deliver(true);
  enc.EncodeRows(H / 2, H, PacketType::Update);
  deliver(false);
  // The repair: the lost band's rows, whole, as they are now.
  for (int y = 0; y < H / 2; ++y)
    for (int i = 0; i < W * B; ++i) reference[size_t(y) * W * B + i] ^= 0xFF;
  enc.EncodeRows(0, H / 2, PacketType::Update);
  deliver(false);
  EXPECT_EQ(fb, frame);
}

TEST(CodecRoundTrip, PaletteContentIsExactAtThirtyTwoBits) {
  // Frames of at most 32 colours per substring never use Raw color.
  const int W = 1920, H = 32, B = 4;
  std::mt19937 rng(77);
  Bytes frame(size_t(W) * H * B);
  for (size_t i = 0; i < frame.size(); i += 4) {
    const uint32_t v = 0x01000000u * (rng() % 2) + 0x00102030u * (rng() % 16);
    std::memcpy(&frame[i], &v, 4);
  }
  Bytes reference(frame.size(), 0x01), fb(frame.size(), 0);
  test::RecordingTransport sink;
  StrEncoder enc;
  enc.Init(W, B, frame.data(), reference.data(), &sink);
  enc.EncodeRows(0, H, PacketType::FullUpdate);
  EXPECT_EQ(enc.KindCount(StrEncoder::kRawColour), 0u);
  StrDecoder dec;
  ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
  const Bytes records = sink.Joined();  // whole records back to back: one payload
  int first, last;
  ASSERT_TRUE(dec.Decode(records.data(), records.size(), first, last));
  EXPECT_EQ(fb, frame);
}

}  // namespace
}  // namespace qc
