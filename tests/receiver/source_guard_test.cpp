// SPDX-License-Identifier: GPL-3.0-or-later
// qvViewer on real sockets (private network namespace): a transmission is
// tied to the address and port of its init message. A second sender on the
// same host and group (another port) forges a disconnection, an init and
// updates under the live identifier; none of it reaches the picture, and
// the receiver follows the second sender only after the first one ended.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "tests/receiver/receiver_test_util.h"
#include "tests/support/group_socket.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 6200;
constexpr int kW = 16, kH = 8;

bool Eventually(const std::function<bool()>& done, int ms = 3000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// The first pixel of the framebuffer (32 bits).
uint32_t FirstPixel(const qvViewer& viewer) {
  const FramebufferView fb = viewer.FramebufferInfo();
  return fb.pixels != nullptr ? ReadU32(fb.pixels) : 0xDEADBEEF;
}

TEST(SourceGuard, ForgedDatagramsFromAnotherSourceAreDroppedAndANewSenderFollowsOnlyAfterTheEnd) {
  test::AddTestSourceAddress();
  test::GroupSocket sender, forger;
  ASSERT_TRUE(sender.Ok() && forger.Ok());
  test::RecordingOwner owner;
  qvViewer viewer;
  ASSERT_TRUE(viewer.Init(&owner, nullptr, kPort));

  const std::vector<uint8_t> grey = test::MakeFrame(kW, kH, 32, 1);
  std::vector<uint8_t> white(grey.size(), 0xFF);
  for (size_t i = 3; i < white.size(); i += 4) white[i] = 0;
  ASSERT_TRUE(Eventually([&] {
    sender.Send(kPort, test::InitDatagram(0x1234, kW, kH, 32));
    return viewer.IsReceiving();
  }));
  EXPECT_EQ(viewer.TransmissionSource().port, sender.Raw().LocalPort());
  EXPECT_EQ(viewer.TransmissionSource().address, test::kTestSourceAddress);
  sender.Send(kPort, test::Compressed(PacketType::FullUpdate, 0x1234, 0,
                                      test::EncodeRows(grey, kW, 32, 0, kH)));
  ASSERT_TRUE(Eventually([&] { return viewer.Stats().updatesApplied == 1; }));
  const uint32_t real = FirstPixel(viewer);

  // The forger knows the identifier and the numbers: its disconnection,
  // init, update and keep-alives are dropped, and the sender's silence is
  // not covered by them.
  forger.Send(kPort, test::Disconnection(0x1234));
  forger.Send(kPort, test::InitDatagram(0x1234, kW, kH, 32));
  forger.Send(kPort, test::Compressed(PacketType::Update, 0x1234, 1,
                                      test::EncodeRows(white, kW, 32, 0, kH)));
  ASSERT_TRUE(Eventually([&] { return viewer.Stats().foreign == 3; }));
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(kTransmissionSilenceMs + 500);
  while (std::chrono::steady_clock::now() < until && owner.restarts == 0) {
    forger.Send(kPort, test::KeepAlive(0x1234));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(viewer.Stats().updatesApplied, 1u);
  EXPECT_EQ(FirstPixel(viewer), real);
  // Silence from the real sender ends the transmission, whatever the
  // forger sent meanwhile.
  EXPECT_EQ(owner.restarts, 1);

  // After the end (here: the silence; a disconnection of the real sender
  // does the same) the next init fixes a new source.
  viewer.Stop();
  ASSERT_TRUE(viewer.Init(&owner, nullptr, kPort));
  ASSERT_TRUE(Eventually([&] {
    forger.Send(kPort, test::InitDatagram(0x4321, kW, kH, 32));
    return viewer.IsReceiving();
  }));
  EXPECT_EQ(viewer.TransmissionSource().port, forger.Raw().LocalPort());
  // Now the first sender is the stranger; the follower's disconnection ends it.
  sender.Send(kPort, test::Disconnection(0x4321));
  ASSERT_TRUE(Eventually([&] { return viewer.Stats().foreign >= 1; }));
  EXPECT_EQ(owner.restarts, 1);
  forger.Send(kPort, test::Disconnection(0x4321));
  ASSERT_TRUE(Eventually([&] { return owner.restarts == 2; }));
  viewer.Stop();
}

}  // namespace
}  // namespace qc
