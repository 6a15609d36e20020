// SPDX-License-Identifier: GPL-3.0-or-later
// Signed transmissions on real sockets (private network namespace): a
// signing qcSender and receivers with the sender's key, another key, and
// none; then the datagrams heard on the wire, fed to a receiver's intake
// with forgeries, alterations and replays among them.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "common/transmission_signing.h"
#include "receiver/viewer/signed_intake.h"
#include "sender/capture/sender.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/support/fake_sources.h"
#include "tests/support/group_socket.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 6300;
constexpr int kW = 16, kH = 8;
using Bytes = std::vector<uint8_t>;

bool Eventually(const std::function<bool()>& done, int ms = 3000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

PrivateKey NewKey() {
  PrivateKey key;
  EXPECT_TRUE(GenerateKeyPair(key));
  return key;
}

// A signing sender's transmission: init, a full-screen update of `frame`.
void Transmit(qcSender& sender, const Bytes& frame) {
  Bytes init = test::InitDatagram(sender.ScreenId(), kW, kH, 32);
  ASSERT_TRUE(sender.ResetStream());
  ASSERT_TRUE(sender.SendRaw(init.data(), init.size()));
  const Bytes rows = test::EncodeRows(frame, kW, 32, 0, kH);
  ASSERT_EQ(sender.SendPayload(rows.data(), rows.size(), PacketType::FullUpdate), SendResult::Sent);
}

bool Shows(const qvViewer& viewer, const Bytes& frame) {
  const FramebufferView fb = viewer.FramebufferInfo();
  return fb.pixels != nullptr && std::equal(frame.begin(), frame.end(), fb.pixels);
}

TEST(SignedTransmission, OnlyReceiversWithTheKeyShowItAndReceiversWithoutAKeySeeItUnchanged) {
  const PrivateKey key = NewKey(), other = NewKey();
  test::CountingSenderOwner senderOwner;
  qcSender sender;
  ASSERT_TRUE(sender.EnableSigning(key));
  test::RecordingOwner trusting, wrongKey, plain;
  qvViewer withKey, withOtherKey, withoutKey;
  ASSERT_TRUE(withKey.TrustSender(&key.publicKey));
  ASSERT_TRUE(withOtherKey.TrustSender(&other.publicKey));
  ASSERT_TRUE(withKey.Init(&trusting, nullptr, kPort));
  ASSERT_TRUE(withOtherKey.Init(&wrongKey, nullptr, kPort));
  ASSERT_TRUE(withoutKey.Init(&plain, nullptr, kPort));
  ASSERT_TRUE(sender.Open(&senderOwner, kGroupAddress, kPort));

  const Bytes frame = test::MakeFrame(kW, kH, 32, 5);
  ASSERT_TRUE(Eventually([&] {
    Transmit(sender, frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return Shows(withKey, frame) && Shows(withoutKey, frame);
  }));
  EXPECT_FALSE(withOtherKey.IsReceiving());
  EXPECT_GT(withOtherKey.SigningCounters().forged, 0u);
  EXPECT_GT(withKey.SigningCounters().lists, 0u);
  EXPECT_EQ(withKey.SigningCounters().forged, 0u);

  // An unsigned sender: the receiver with a key keeps waiting.
  sender.Close();
  withKey.Stop();
  ASSERT_TRUE(withKey.Init(&trusting, nullptr, kPort));
  qcSender unsignedSender;
  ASSERT_TRUE(unsignedSender.Open(&senderOwner, kGroupAddress, kPort));
  for (int i = 0; i < 5; ++i) {
    Transmit(unsignedSender, frame);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(withKey.IsReceiving());
  EXPECT_GE(withKey.SigningCounters().unsigned_, 10u);
  withKey.Stop();
  withOtherKey.Stop();
  withoutKey.Stop();
}

// What a receiver's intake makes of the wire: the genuine datagrams are
// taken once; flipped bits, a list of another key, a replay, an unsigned
// datagram, a datagram listed too long ago and a recording of an earlier
// transmission are not.
TEST(SignedTransmission, ForgedAlteredReplayedAndUnsignedDatagramsAreDropped) {
  const PrivateKey key = NewKey(), other = NewKey();
  test::GroupSocket wire(kPort);
  ASSERT_TRUE(wire.Ok());
  test::CountingSenderOwner senderOwner;
  auto record = [&](const PrivateKey& k) {
    qcSender sender;
    EXPECT_TRUE(sender.EnableSigning(k));
    EXPECT_TRUE(sender.Open(&senderOwner, kGroupAddress, kPort));
    Transmit(sender, test::MakeFrame(kW, kH, 32, 9));
    sender.Close();  // flushes
    return wire.Drain(300);
  };
  const auto earlier = record(key);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const auto sent = record(key);
  const auto foreign = record(other);
  // Two copies of one list, then the init and the update.
  ASSERT_EQ(sent.size(), 4u);
  ASSERT_EQ(PeekType(sent[0].data(), sent[0].size()), kSignatureListType);
  EXPECT_EQ(sent[0], sent[1]);

  using V = SignedIntake::Verdict;
  SignedIntake intake;
  ASSERT_TRUE(intake.Trust(key.publicKey));
  uint32_t now = 1000;
  auto check = [&](const Bytes& d) { return intake.Check(d.data(), d.size(), now, WallMs()); };
  Bytes flipped = sent[3];
  flipped[flipped.size() / 2] ^= 0x01;
  Bytes flippedList = sent[0];
  flippedList[kSignatureListHeaderSize] ^= 0x80;
  Bytes unsignedUpdate = sent[3];
  unsignedUpdate[4] ^= 0x01;  // another sequence number: a datagram nobody listed

  EXPECT_EQ(check(foreign[0]), V::List);  // another key's list names nothing
  EXPECT_EQ(check(foreign[2]), V::Drop);
  EXPECT_EQ(check(flippedList), V::List);  // a bad signature registers nothing
  EXPECT_EQ(check(sent[2]), V::Drop);
  EXPECT_EQ(intake.Counters().forged, 2u);
  EXPECT_EQ(check(sent[0]), V::List);
  EXPECT_EQ(check(sent[1]), V::List);  // the copy, not verified again
  EXPECT_EQ(intake.Counters().lists, 1u);
  EXPECT_EQ(check(flipped), V::Drop);
  EXPECT_EQ(check(unsignedUpdate), V::Drop);
  EXPECT_EQ(check(sent[2]), V::Take);
  intake.FixTransmission();
  EXPECT_EQ(check(sent[3]), V::Take);
  EXPECT_EQ(check(sent[3]), V::Drop);  // a replay: its entry is used
  EXPECT_EQ(check(sent[2]), V::Drop);
  // The recording of the transmission before: its list is older.
  EXPECT_EQ(check(earlier[0]), V::List);
  EXPECT_EQ(check(earlier[2]), V::Drop);
  EXPECT_EQ(intake.Counters().replayed, 1u);

  // A fresh intake that has seen the later transmission refuses the
  // earlier one even before a transmission is fixed; entries expire.
  SignedIntake fresh;
  ASSERT_TRUE(fresh.Trust(key.publicKey));
  auto checkFresh = [&](const Bytes& d) { return fresh.Check(d.data(), d.size(), now, WallMs()); };
  EXPECT_EQ(checkFresh(sent[0]), V::List);
  EXPECT_EQ(checkFresh(earlier[0]), V::List);
  EXPECT_EQ(fresh.Counters().replayed, 1u);
  EXPECT_EQ(checkFresh(earlier[2]), V::Drop);
  now += SignedIntake::kEntryLifetimeMs;
  EXPECT_EQ(checkFresh(sent[2]), V::Drop);
}

}  // namespace
}  // namespace qc
