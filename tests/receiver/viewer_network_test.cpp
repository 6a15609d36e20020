// The headless viewer on a private loopback network, fed by a synthetic
// sender through the real transport.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/udp_socket.h"
#include "receiver/viewer/viewer.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/receiver/synthetic_sender.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47010;
constexpr int kW = 512, kH = 192;

// Polls until the condition holds; false after the limit (a hung receiver,
// not a slow one: the limit is generous).
bool WaitUntil(const std::function<bool()>& condition, int limitMs = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool PictureIs(const qvViewer& viewer, const std::vector<uint8_t>& frame) {
  FramebufferView v = viewer.FramebufferInfo();
  if (v.pixels == nullptr) return false;
  size_t size = static_cast<size_t>(v.bytesPerRow) * v.height;
  return size == frame.size() && memcmp(v.pixels, frame.data(), size) == 0;
}

class ViewerNetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    log_.Mark();
    ASSERT_TRUE(sender_.Open(kPort));
    sender_.SetFrame(test::MakeFrame(kW, kH, 32, 1));
  }
  void TearDown() override { viewer_.Stop(); }
  void StartShowing() {
    ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
    ASSERT_TRUE(sender_.SendFullScreen());
    ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  }
  // Sends bytes to the group outside the sender's numbering.
  bool SendRaw(const uint8_t* d, size_t n) {
    SocketAddress group;
    return (raw_.IsOpen() || raw_.Create()) && SocketAddress::FromDotted(kGroupAddress, kPort, group) &&
           raw_.SendTo(d, n, group);
  }

  test::LogReader log_;
  test::RecordingOwner owner_;
  test::RecordingSurface surface_;
  qvViewer viewer_;
  test::SyntheticSender sender_{kW, kH, 32};
  UdpSocket raw_;
};

TEST_F(ViewerNetworkTest, WaitsForTheInitMessageThenRebuildsThePicture) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  EXPECT_EQ(surface_.started, 1);
  // Before any init message: dropped, never stored.
  ASSERT_TRUE(sender_.SendRows(0, 10, PacketType::Update));
  sender_.SendCursorPosition(3, 3);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(viewer_.IsReceiving());
  EXPECT_EQ(viewer_.Stats().stored, 0u);

  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  EXPECT_TRUE(viewer_.IsReceiving());
  EXPECT_EQ(surface_.placed, 1);
  EXPECT_EQ(owner_.receivingIcons, 1);
  InitMessage t = viewer_.Transmission();
  EXPECT_EQ(t.screenId, sender_.Id());
  EXPECT_EQ(t.width, kW);
  char line[128];
  snprintf(line, sizeof line, "qvViewer: Received server init message, screen %dx%d, id %d\r\n",
           kW, kH, static_cast<int>(static_cast<int16_t>(sender_.Id())));
  EXPECT_EQ(log_.Count(line), 1);

  // Incremental updates follow.
  sender_.SetFrame(test::MakeFrame(kW, kH, 32, 2));
  ASSERT_TRUE(sender_.SendRows(0, kH, PacketType::Update));
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(viewer_.Stats().lost, 0u);
}

TEST_F(ViewerNetworkTest, StopBeforeAnyInitMessageEndsBothThreads) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  viewer_.Stop();
  EXPECT_EQ(log_.Count("qvViewer: Exiting read thread (error 0x"), 1);
  EXPECT_EQ(log_.Count("qvViewer: Update thread finished\r\n"), 1);
  EXPECT_EQ(log_.Count("qvViewer: Quillview stopped\r\n"), 1);
  EXPECT_EQ(surface_.placed, 0);
  EXPECT_FALSE(viewer_.IsRunning());
  // Stopping twice, and initialising again, work.
  viewer_.Stop();
  ASSERT_NO_FATAL_FAILURE(StartShowing());
}

TEST_F(ViewerNetworkTest, OverlongAndHostileDatagramsLeaveTheReceiverWorking) {
  ASSERT_NO_FATAL_FAILURE(StartShowing());
  // Longer than any receiver accepts: a receive failure, logged once.
  std::vector<uint8_t> big(60001, 0);
  WriteU16(big.data(), 0xFFFC);
  WriteU16(big.data() + 2, sender_.Id());
  ASSERT_TRUE(SendRaw(big.data(), big.size()));
  // Empty, short and forged datagrams of the transmission.
  ASSERT_TRUE(SendRaw(big.data(), 0));
  ASSERT_TRUE(SendRaw(big.data(), 3));
  std::vector<uint8_t> forged = {0xFC, 0xFF, 0, 0, 0, 0, 0, 0, 0x78, 0x01, 0xFF, 0xFF};
  WriteU16(forged.data() + 2, sender_.Id());
  WriteU32(forged.data() + 4, sender_.Transport().Sequence());
  ASSERT_TRUE(SendRaw(forged.data(), forged.size()));
  ASSERT_TRUE(WaitUntil([&] { return viewer_.Stats().rejected >= 2u && owner_.requests >= 1; }));
  EXPECT_EQ(log_.Count("qvViewer: Socket failure, network may be down\r\n"), 1);
  EXPECT_EQ(owner_.fatals, 0);
  EXPECT_EQ(owner_.requests, 1);  // the forged datagram, answered once
  // Still following the sender.
  sender_.SetFrame(test::MakeFrame(kW, kH, 32, 8));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
}

TEST_F(ViewerNetworkTest, TwoViewersOnOneHostShareThePort) {
  qvViewer second;
  test::RecordingOwner owner2;
  NullSurface null;
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(second.Init(&owner2, &null, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(second, sender_.Frame()); }));
  second.Stop();
}

}  // namespace
}  // namespace qc
