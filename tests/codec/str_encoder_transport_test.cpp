// The encoder through the real transport, inside a private network
// namespace: a payload too large for one datagram once compressed arrives
// in pieces, every row, in order, with consecutive sequence numbers.
#include <gtest/gtest.h>

#include <random>

#include "common/byte_order.h"
#include "platform/udp_socket.h"
#include "receiver/viewer/str_decoder.h"
#include "sender/capture/sender_transport.h"
#include "sender/capture/str_encoder.h"
#include "tests/codec/codec_test_support.h"

namespace qc {
namespace {

using test::Bytes;

class NullOwner : public SenderOwner {
 public:
  void AdvanceIcon() override {}
  void FatalError() override { ++fatals; }
  int fatals = 0;
};

TEST(StrEncoderTransport, IncompressibleRowsArriveSplitInOrder) {
  constexpr uint16_t kPort = 46100;
  UdpSocket rx;
  ASSERT_TRUE(rx.Create());
  ASSERT_TRUE(rx.SetReuseAddress(true));
  ASSERT_TRUE(rx.Bind(kPort));
  ASSERT_TRUE(rx.JoinGroup(kGroupAddressHostOrder));
  ASSERT_TRUE(rx.SetReceiveBuffer(1 << 21));
  NullOwner owner;
  qcSender sender;
  ASSERT_TRUE(sender.Open(&owner, kGroupAddress, kPort));

  // 16-bit random pixels, W = 932: Raw color records of 1875 bytes, 32 to a
  // payload of exactly 60000 bytes that does not compress into a datagram.
  const int W = 932, H = 64, B = 2;
  std::mt19937 rng(4);
  Bytes frame = test::RandomFrame(rng, W, H, B);
  Bytes reference(frame.size(), 0x01);
  SenderSink sink(sender);
  StrEncoder enc;
  enc.Init(W, B, frame.data(), reference.data(), &sink);
  ASSERT_TRUE(enc.EncodeRows(0, H, PacketType::FullUpdate));
  EXPECT_GE(sender.Sequence(), 4u);

  Bytes fb(frame.size(), 0);
  StrDecoder dec;
  ASSERT_TRUE(dec.Init(fb.data(), B, W, H));
  int nextRow = 0;
  for (uint32_t seq = 0; seq < sender.Sequence(); ++seq) {
    Bytes d(70000);
    const long n = rx.ReceiveFor(d.data(), d.size(), 2000);
    ASSERT_GT(n, 8);
    ASSERT_LE(n, static_cast<long>(kMaxDatagram));
    d.resize(n);
    EXPECT_EQ(ReadU16(&d[0]), 0xFFFD);
    EXPECT_EQ(ReadU16(&d[2]), sender.ScreenId());
    EXPECT_EQ(ReadU32(&d[4]), seq);
    bool ok = false;
    Bytes payload = test::Inflate(Bytes(d.begin() + 8, d.end()), ok);
    ASSERT_TRUE(ok);
    int first = -1, last = -1;
    ASSERT_TRUE(dec.Decode(payload.data(), payload.size(), first, last));
    EXPECT_EQ(first, nextRow);
    nextRow = last + 1;
  }
  EXPECT_EQ(nextRow, H);
  EXPECT_EQ(fb, frame);
  EXPECT_EQ(owner.fatals, 0);
}

}  // namespace
}  // namespace qc
