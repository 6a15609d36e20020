// SPDX-License-Identifier: GPL-3.0-or-later
// qcSender on a private network: datagram layout, numbering, byte count and
// refusal of what does not fit (the encoder's split of a refused payload is
// in str_encoder_test).
#include "sender/capture/sender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "bench/codec/bench_frames.h"
#include "common/log_file.h"
#include "sender/capture/str_encoder.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/fake_sources.h"
#include "tests/support/group_socket.h"

namespace qc {
namespace {

using test::Bytes;
constexpr uint16_t kPort = 46000;

class SenderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(group_.Ok());
    ASSERT_TRUE(sender_.Open(&owner_, kGroupAddress, kPort));
  }
  // The next datagram and its compressed header.
  Bytes Next(CompressedHeader* header = nullptr) {
    auto d = group_.Next();
    EXPECT_TRUE(d.has_value());
    if (!d) return {};
    if (header != nullptr) {
      EXPECT_TRUE(ParseCompressedHeader(d->data(), d->size(), *header));
    }
    return *d;
  }
  SendResult Send(const Bytes& payload, PacketType type = PacketType::Update) {
    return sender_.SendPayload(payload.data(), payload.size(), type);
  }

  test::GroupSocket group_{kPort};
  test::CountingSenderOwner owner_;
  qcSender sender_;
};

TEST_F(SenderTest, CompressedDatagramInflatesToThePayload) {
  Bytes payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 / 13);
  ASSERT_EQ(Send(payload), SendResult::Sent);
  CompressedHeader h;
  Bytes d = Next(&h);
  ASSERT_GE(d.size(), kCompressedHeaderSize);
  EXPECT_EQ(h.type, 0xFFFC);
  EXPECT_EQ(h.screenId, sender_.ScreenId());
  EXPECT_EQ(h.sequence, 0u);
  // zlib header, no final block: the stream ends with the full-flush marker.
  EXPECT_EQ(d[8], 0x78);
  EXPECT_EQ(Bytes(d.end() - 4, d.end()), (Bytes{0, 0, 0xFF, 0xFF}));
  // As a receiver inflates: a fresh stream, one call returning Z_OK.
  bool ok = false;
  EXPECT_EQ(test::Inflate(Bytes(d.begin() + 8, d.end()), ok), payload);
  EXPECT_TRUE(ok);
}

TEST_F(SenderTest, SequenceNumbersCountCompressedSendsOnlyBytesCountAll) {
  const Bytes payload(10, 1);
  uint8_t keepAlive[kKeepAliveSize];
  BuildKeepAlive(sender_.ScreenId(), keepAlive);
  ASSERT_EQ(Send(payload, PacketType::FullUpdate), SendResult::Sent);
  ASSERT_TRUE(sender_.SendRaw(keepAlive, sizeof keepAlive));
  ASSERT_EQ(Send(payload, PacketType::CursorShape), SendResult::Sent);
  CompressedHeader h0, h1;
  Bytes first = Next(&h0), raw = Next(), second = Next(&h1);
  EXPECT_EQ(h0.sequence, 0u);
  EXPECT_EQ(raw, Bytes(keepAlive, keepAlive + sizeof keepAlive));
  EXPECT_EQ(h1.type, 0xFFF9);
  EXPECT_EQ(h1.sequence, 1u);
  // The byte counter includes the headers and the raw datagrams.
  EXPECT_EQ(sender_.TotalBytesSent(), first.size() + raw.size() + second.size());

  ASSERT_TRUE(sender_.ResetStream());
  EXPECT_FALSE(sender_.SentSinceTick());
  for (uint32_t seq : {0u, 1u}) {
    ASSERT_EQ(Send(payload), SendResult::Sent);
    Next(&h0);
    EXPECT_EQ(h0.sequence, seq);
  }
  EXPECT_TRUE(sender_.SentSinceTick());
  sender_.ClearSentSinceTick();
  EXPECT_FALSE(sender_.SentSinceTick());
  EXPECT_EQ(owner_.fatals, 0);
}

TEST_F(SenderTest, IncompressiblePayloadIsRefusedNotCut) {
  Bytes payload(kMaxPayload);
  std::mt19937 rng(7);
  for (auto& b : payload) b = static_cast<uint8_t>(rng());
  EXPECT_EQ(Send(payload), SendResult::TooLarge);
  EXPECT_EQ(sender_.Sequence(), 0u);
  EXPECT_EQ(sender_.TotalBytesSent(), 0u);
  EXPECT_EQ(owner_.fatals, 0);
  EXPECT_FALSE(group_.Next(200).has_value()) << "nothing may go out";

  // Half of it fits, and the transport carries on with sequence number 0.
  ASSERT_EQ(Send(Bytes(payload.begin(), payload.begin() + 30000)), SendResult::Sent);
  CompressedHeader h;
  EXPECT_LE(Next(&h).size(), kMaxDatagram);
  EXPECT_EQ(h.sequence, 0u);
}

// Batched payloads up to kSurelyFits bytes are never refused, even when they
// do not compress at all, at any level.
TEST_F(SenderTest, BatchedIncompressiblePayloadsThatSurelyFitGoOutWhole) {
  Bytes payload(qcSender::kSurelyFits);
  std::mt19937 rng(11);
  for (auto& b : payload) b = static_cast<uint8_t>(rng());
  for (int level : {1, 6, 9}) {
    sender_.SetLevel(level);
    sender_.BeginBatch();
    ASSERT_EQ(Send(payload, PacketType::FullUpdate), SendResult::Sent) << level;
    sender_.EndBatch();
    bool ok = false;
    Bytes d = Next();
    EXPECT_LE(d.size(), kMaxDatagram);
    EXPECT_EQ(test::Inflate(Bytes(d.begin() + kCompressedHeaderSize, d.end()), ok), payload);
    EXPECT_TRUE(ok) << level;
  }
}

// A full-screen update inflates to the same payloads, numbered in order,
// whatever the level and whether its datagrams were deflated in parallel;
// a reset stream deflates a payload to the same bytes as a new one.
TEST_F(SenderTest, FullScreenPayloadsAreTheSameAtEveryLevelSerialOrParallel) {
  constexpr int kW = 640, kH = 360;
  for (auto content : {bench::Content::Text, bench::Content::Desktop, bench::Content::Photo}) {
    SCOPED_TRACE(bench::ContentName(content));
    const Bytes frame = bench::MakeFrame(content, kW, kH, 4);
    std::vector<Bytes> serial9;
    for (auto [level, batch] : {std::pair{9, false}, {6, true}, {1, true}, {6, false}}) {
      sender_.SetLevel(level);
      ASSERT_TRUE(sender_.ResetStream());
      Bytes reference(frame.size(), 0x01);
      StrEncoder encoder;
      encoder.Init(kW, 4, frame.data(), reference.data(), &sender_);
      std::vector<Bytes> payloads, bodies;
      for (int q = 0; q < 4; ++q) {
        if (batch) sender_.BeginBatch();
        encoder.EncodeRows(q * kH / 4, (q + 1) * kH / 4, PacketType::FullUpdate);
        if (batch) sender_.EndBatch();
        for (const Bytes& d : group_.Drain(100)) {
          CompressedHeader h;
          ASSERT_TRUE(ParseCompressedHeader(d.data(), d.size(), h));
          EXPECT_EQ(h.sequence, payloads.size());
          bool ok = false;
          bodies.emplace_back(d.begin() + kCompressedHeaderSize, d.end());
          payloads.push_back(test::Inflate(bodies.back(), ok));
          EXPECT_TRUE(ok);
        }
      }
      EXPECT_EQ(reference, frame);
      if (serial9.empty()) {
        serial9 = payloads;
        ASSERT_GE(payloads.size(), 2u);
        // The second datagram came from a reset stream: deflating its
        // payload in a new stream at that level gives the same bytes.
        if (content != bench::Content::Text) continue;
        ASSERT_TRUE(sender_.ResetStream());
        ASSERT_EQ(Send(payloads[1]), SendResult::Sent);
        Bytes again = Next();
        EXPECT_EQ(Bytes(again.begin() + kCompressedHeaderSize, again.end()), bodies[1]);
      } else {
        EXPECT_EQ(payloads, serial9) << level << (batch ? " parallel" : " serial");
      }
    }
  }
}

// Sends after Close fail quietly; every Open makes a new identifier.
TEST_F(SenderTest, ClosedSendsFailAndEveryOpenMakesANewIdentifierAndRestartsNumbering) {
  const Bytes payload(4, 0);
  ASSERT_EQ(Send(payload), SendResult::Sent);
  Next();
  Log().Enable(true);
  sender_.Close();
  EXPECT_EQ(Send(payload), SendResult::Failed);
  EXPECT_FALSE(sender_.SendRaw(payload.data(), payload.size()));
  Log().Enable(false);
  EXPECT_EQ(owner_.fatals, 0);
  std::vector<uint16_t> ids{sender_.ScreenId()};
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    ASSERT_TRUE(sender_.Open(&owner_, kGroupAddress, kPort));
    EXPECT_EQ(sender_.Sequence(), 0u);
    EXPECT_EQ(sender_.TotalBytesSent(), 0u);
    ids.push_back(sender_.ScreenId());
  }
  // Identifiers mix a tick count and a random value; four in a row being all
  // equal would mean the rule is not applied.
  std::sort(ids.begin(), ids.end());
  EXPECT_NE(ids.front(), ids.back());
  ASSERT_EQ(Send(payload), SendResult::Sent);
  CompressedHeader h;
  Next(&h);
  EXPECT_EQ(h.screenId, sender_.ScreenId());
  EXPECT_EQ(h.sequence, 0u);
  // The identifier is the low 16 bits of the XOR of its parts.
  EXPECT_EQ(qcSender::MakeScreenId(0x0100007F, 0x1234, 0x5678, 0xABCD0000),
            0x007F ^ 0x1234 ^ 0x5678);
  EXPECT_EQ(qcSender::MakeScreenId(0, 0, 0, 0x12345678), 0x5678);
}

// A port change made while transmitting is applied at Stop by reopening the
// transport (new socket, identifier and deflate stream). Stop must first wait
// for the engine's running step, which may be inside a deflate on that
// stream; the sanitizers see it if not, and a datagram then fails to inflate.
TEST(SenderUnderEngine, ReopeningAtEveryStopNeverMeetsARunningStep) {
  // A screen that changes at every grab, so every step deflates.
  struct Changing : test::FakeScreenSource {
    Changing() : FakeScreenSource(1024, 256, 32) {}
    bool GrabRows(int first, int end) override {
      Fill(0, 0, 1024, 256, ++frames * 0x010203u);
      return FakeScreenSource::GrabRows(first, end);
    }
    uint32_t frames = 0;
  };
  constexpr uint16_t kReopenPort = kPort + 20;
  test::GroupSocket group(kReopenPort);
  test::CountingSenderOwner senderOwner;
  qcSender sender;
  ASSERT_TRUE(group.Ok() && sender.Open(&senderOwner, kGroupAddress, kReopenPort));
  test::FakeCaptureOwner owner(&sender);
  qcCapture capture(std::make_unique<Changing>(), nullptr);
  ASSERT_TRUE(capture.Init(&owner));
  for (int i = 0; i < 60; ++i) {
    capture.SetPolling(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    capture.SetPolling(false);
    capture.SendDisconnection();
    ASSERT_TRUE(sender.Open(&senderOwner, kGroupAddress, kReopenPort));
  }
  int compressed = 0;
  for (const Bytes& d : group.Drain()) {
    CompressedHeader h;
    if (!ParseCompressedHeader(d.data(), d.size(), h)) continue;
    bool ok = false;
    test::Inflate(Bytes(d.begin() + kCompressedHeaderSize, d.end()), ok);
    EXPECT_TRUE(ok) << "datagram " << compressed << " of screen " << h.screenId;
    ++compressed;
  }
  EXPECT_GT(compressed, 0);  // steps ran (how many depends on the machine's speed)
}

}  // namespace
}  // namespace qc
