#include "sender/capture/sender_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "platform/udp_socket.h"
#include "tests/codec/codec_test_support.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 46000;

class CountingOwner : public SenderOwner {
 public:
  void AdvanceIcon() override { ++advances; }
  void FatalError() override { ++fatals; }
  int advances = 0;
  int fatals = 0;
};

class TransportTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rx_.Create());
    ASSERT_TRUE(rx_.SetReuseAddress(true));
    ASSERT_TRUE(rx_.Bind(kPort));
    ASSERT_TRUE(rx_.JoinGroup(kGroupAddressHostOrder));
    ASSERT_TRUE(rx_.SetReceiveBuffer(1 << 20));
    ASSERT_TRUE(sender_.Open(&owner_, kGroupAddress, kPort));
  }

  std::vector<uint8_t> Next() {
    std::vector<uint8_t> buf(70000);
    long n = rx_.ReceiveFor(buf.data(), buf.size(), 2000);
    EXPECT_GT(n, 0);
    buf.resize(n > 0 ? n : 0);
    return buf;
  }

  UdpSocket rx_;
  CountingOwner owner_;
  qcSender sender_;
};

TEST_F(TransportTest, CompressedDatagramInflatesToThePayload) {
  std::vector<uint8_t> payload(5000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 / 13);
  ASSERT_EQ(sender_.SendCompressed(payload.data(), payload.size(), PacketType::Update),
            SendResult::Sent);
  auto d = Next();
  ASSERT_GE(d.size(), 8u);
  EXPECT_EQ(ReadU16(d.data()), 0xFFFC);
  EXPECT_EQ(ReadU16(d.data() + 2), sender_.ScreenId());
  EXPECT_EQ(ReadU32(d.data() + 4), 0u);
  // zlib header, no final block: the stream ends with the full-flush marker.
  EXPECT_EQ(d[8], 0x78);
  EXPECT_EQ((std::vector<uint8_t>(d.end() - 4, d.end())), (std::vector<uint8_t>{0, 0, 0xFF, 0xFF}));
  // As a receiver inflates: a fresh stream, one call returning Z_OK.
  bool ok = false;
  EXPECT_EQ(test::Inflate(std::vector<uint8_t>(d.begin() + 8, d.end()), ok), payload);
  EXPECT_TRUE(ok);
}

TEST_F(TransportTest, SequenceNumbersCountCompressedSendsOnlyBytesCountAll) {
  uint8_t payload[10] = {1};
  uint8_t keepAlive[4];
  BuildKeepAlive(sender_.ScreenId(), keepAlive);
  ASSERT_EQ(sender_.SendCompressed(payload, 10, PacketType::FullUpdate), SendResult::Sent);
  ASSERT_TRUE(sender_.SendRaw(keepAlive, 4));
  ASSERT_EQ(sender_.SendCompressed(payload, 10, PacketType::CursorShape), SendResult::Sent);
  auto first = Next();
  EXPECT_EQ(ReadU32(first.data() + 4), 0u);
  auto raw = Next();
  EXPECT_EQ(raw, std::vector<uint8_t>(keepAlive, keepAlive + 4));
  auto second = Next();
  EXPECT_EQ(ReadU16(second.data()), 0xFFF9);
  EXPECT_EQ(ReadU32(second.data() + 4), 1u);
  // The byte counter includes the headers and the raw datagrams.
  EXPECT_EQ(sender_.TotalBytesSent(), first.size() + raw.size() + second.size());

  ASSERT_TRUE(sender_.ResetStream());
  EXPECT_FALSE(sender_.SentSinceTick());
  ASSERT_EQ(sender_.SendCompressed(payload, 10, PacketType::Update), SendResult::Sent);
  ASSERT_EQ(sender_.SendCompressed(payload, 10, PacketType::Update), SendResult::Sent);
  EXPECT_EQ(ReadU32(Next().data() + 4), 0u);
  EXPECT_EQ(ReadU32(Next().data() + 4), 1u);
  EXPECT_TRUE(sender_.TakeSentSinceTick());
  EXPECT_FALSE(sender_.TakeSentSinceTick());
  EXPECT_EQ(owner_.advances, 5);
  EXPECT_EQ(owner_.fatals, 0);
}

TEST_F(TransportTest, IncompressiblePayloadIsRefusedNotCut) {
  std::vector<uint8_t> payload(kMaxPayload);
  std::mt19937 rng(7);
  for (auto& b : payload) b = static_cast<uint8_t>(rng());
  EXPECT_EQ(sender_.SendCompressed(payload.data(), payload.size(), PacketType::Update),
            SendResult::TooLarge);
  EXPECT_EQ(sender_.Sequence(), 0u);
  EXPECT_EQ(sender_.TotalBytesSent(), 0u);
  EXPECT_EQ(owner_.fatals, 0);
  uint8_t buf[16];
  EXPECT_EQ(rx_.ReceiveFor(buf, sizeof buf, 200), -2) << "nothing may go out";

  // Half of it fits, and the transport carries on with sequence number 0.
  ASSERT_EQ(sender_.SendCompressed(payload.data(), 30000, PacketType::Update), SendResult::Sent);
  auto d = Next();
  EXPECT_LE(d.size(), kMaxDatagram);
  EXPECT_EQ(ReadU32(d.data() + 4), 0u);
}

TEST_F(TransportTest, SendsAfterCloseFailQuietly) {
  Log().Enable(true);
  sender_.Close();
  uint8_t payload[4] = {};
  EXPECT_EQ(sender_.SendCompressed(payload, 4, PacketType::Update), SendResult::Failed);
  EXPECT_FALSE(sender_.SendRaw(payload, 4));
  Log().Enable(false);
  EXPECT_EQ(owner_.advances, 0);
  EXPECT_EQ(owner_.fatals, 0);
}

TEST_F(TransportTest, EveryOpenMakesANewIdentifierAndRestartsNumbering) {
  uint8_t payload[4] = {};
  ASSERT_EQ(sender_.SendCompressed(payload, 4, PacketType::Update), SendResult::Sent);
  Next();
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
  ASSERT_EQ(sender_.SendCompressed(payload, 4, PacketType::Update), SendResult::Sent);
  auto d = Next();
  EXPECT_EQ(ReadU16(d.data() + 2), sender_.ScreenId());
  EXPECT_EQ(ReadU32(d.data() + 4), 0u);
}

TEST(ScreenId, IsTheLow16BitsOfTheXor) {
  EXPECT_EQ(qcSender::MakeScreenId(0x0100007F, 0x1234, 0x5678, 0xABCD0000), 0x007F ^ 0x1234 ^ 0x5678);
  EXPECT_EQ(qcSender::MakeScreenId(0, 0, 0, 0x12345678), 0x5678);
}

}  // namespace
}  // namespace qc
