// The headless viewer on a private loopback network, fed by a synthetic
// sender through the real transport.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
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

// Restarts the viewer on its own thread when asked, as the tray does.
class Restarter {
 public:
  Restarter(qvViewer& viewer, test::RecordingOwner& owner, ViewerSurface* surface, uint16_t port)
      : thread_([this, &viewer, &owner, surface, port] {
          std::unique_lock<std::mutex> lock(mutex_);
          for (;;) {
            cv_.wait(lock, [this] { return pending_ > 0 || quit_; });
            if (quit_) return;
            --pending_;
            lock.unlock();
            viewer.Stop();
            viewer.Init(&owner, surface, port);
            ++done_;
            lock.lock();
          }
        }) {
    owner.onRestart = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      ++pending_;
      cv_.notify_one();
    };
  }
  ~Restarter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }
  int Done() const { return done_; }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int pending_ = 0;
  bool quit_ = false;
  std::atomic<int> done_{0};
  std::thread thread_;
};

class ViewerNetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    log_.Mark();
    ASSERT_TRUE(sender_.Open(kPort));
    sender_.SetFrame(test::MakeFrame(kW, kH, 32, 1));
  }
  void TearDown() override { viewer_.Stop(); }

  test::LogReader log_;
  test::RecordingOwner owner_;
  test::RecordingSurface surface_;
  qvViewer viewer_;
  test::SyntheticSender sender_{kW, kH, 32};
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

TEST_F(ViewerNetworkTest, ASecondSenderDoesNotDisturbThePicture) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));

  test::SyntheticSender intruder(kW, kH, 32);
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(intruder.Open(kPort));
  } while (intruder.Id() == sender_.Id());
  intruder.SetFrame(test::MakeFrame(kW, kH, 32, 99));
  ASSERT_TRUE(intruder.SendFullScreen());
  ASSERT_TRUE(intruder.SendDisconnection());
  ASSERT_TRUE(WaitUntil([&] { return viewer_.Stats().ignored >= 6u; }));
  EXPECT_TRUE(PictureIs(viewer_, sender_.Frame()));
  EXPECT_EQ(owner_.restarts, 0);
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_GE(log_.Count("qvViewer: Ignoring packet "), 6);
}

TEST_F(ViewerNetworkTest, DisconnectionRestartsTheViewerWhichFollowsTheNextSender) {
  Restarter restarter(viewer_, owner_, &surface_, kPort);
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  ASSERT_TRUE(sender_.SendDisconnection());
  ASSERT_TRUE(WaitUntil([&] { return restarter.Done() == 1; }));
  EXPECT_EQ(owner_.restarts, 1);
  EXPECT_FALSE(viewer_.IsReceiving());
  EXPECT_EQ(viewer_.FramebufferInfo().pixels, nullptr);
  EXPECT_GE(surface_.stopping, 1);

  // A new sender (new identifier, other size) starts a new transmission.
  test::SyntheticSender next(256, 64, 16);
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(next.Open(kPort));
  } while (next.Id() == sender_.Id());
  next.SetFrame(test::MakeFrame(256, 64, 16, 5));
  ASSERT_TRUE(next.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, next.Frame()); }));
  EXPECT_EQ(viewer_.Transmission().screenId, next.Id());
  EXPECT_EQ(viewer_.FramebufferInfo().bitsPerPixel, 16);
  EXPECT_EQ(surface_.placed, 2);
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
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
}

TEST_F(ViewerNetworkTest, LossIsAnsweredByAnUpdateRequestAndRepaired) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  // The sender "loses" a datagram: its number is used but never sent.
  sender_.SetFrame(test::MakeFrame(kW, kH, 32, 3));
  ASSERT_TRUE(sender_.SendRows(0, 40, PacketType::Update));
  // Rows 40..79 go out under a number that never arrives: the next
  // datagram (rows 80..119) carries the number after it.
  qcSender& t = sender_.Transport();
  std::vector<uint8_t> d = test::Compressed(PacketType::Update, sender_.Id(), t.Sequence() + 1,
                                            test::EncodeRows(sender_.Frame(), kW, 32, 80, 120));
  UdpSocket raw;
  ASSERT_TRUE(raw.Create());
  SocketAddress group;
  ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, kPort, group));
  ASSERT_TRUE(raw.SendTo(d.data(), d.size(), group));
  ASSERT_TRUE(WaitUntil([&] { return owner_.requests >= 1; }));
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(viewer_.Stats().lost, 1u);
  // Rows 40..79 were never received; the full-screen update repairs them.
  EXPECT_FALSE(PictureIs(viewer_, sender_.Frame()));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  EXPECT_EQ(owner_.requests, 1);
}

TEST_F(ViewerNetworkTest, OverlongAndHostileDatagramsLeaveTheReceiverWorking) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  UdpSocket raw;
  ASSERT_TRUE(raw.Create());
  SocketAddress group;
  ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, kPort, group));
  // Longer than any receiver accepts: a receive failure, logged once.
  std::vector<uint8_t> big(60001, 0);
  WriteU16(big.data(), 0xFFFC);
  WriteU16(big.data() + 2, sender_.Id());
  ASSERT_TRUE(raw.SendTo(big.data(), big.size(), group));
  // Empty, short and forged datagrams of the transmission.
  ASSERT_TRUE(raw.SendTo(big.data(), 0, group));
  ASSERT_TRUE(raw.SendTo(big.data(), 3, group));
  std::vector<uint8_t> forged = {0xFC, 0xFF, 0, 0, 0, 0, 0, 0, 0x78, 0x01, 0xFF, 0xFF};
  WriteU16(forged.data() + 2, sender_.Id());
  WriteU32(forged.data() + 4, sender_.Transport().Sequence());
  ASSERT_TRUE(raw.SendTo(forged.data(), forged.size(), group));
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

TEST_F(ViewerNetworkTest, CursorDatagramsReachTheCursorState) {
  ASSERT_TRUE(viewer_.Init(&owner_, &surface_, kPort));
  ASSERT_TRUE(sender_.SendFullScreen());
  ASSERT_TRUE(WaitUntil([&] { return PictureIs(viewer_, sender_.Frame()); }));
  CursorShapeHeader h;
  h.hotX = 2;
  h.hotY = 3;
  h.maskWidth = 32;
  h.maskHeight = 64;
  h.maskPalette1BG = 0xFFFF;
  std::vector<uint8_t> shape(kCursorShapeHeaderSize + 256, 0);
  BuildCursorShapeHeader(h, shape.data());
  ASSERT_EQ(sender_.Transport().SendCompressed(shape.data(), shape.size(), PacketType::CursorShape),
            SendResult::Sent);
  ASSERT_TRUE(sender_.SendCursorPosition(300, 100));
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard<std::mutex> lock(viewer_.CursorLock());
    return viewer_.CursorState().hasImage && viewer_.CursorState().x == 300;
  }));
  std::lock_guard<std::mutex> lock(viewer_.CursorLock());
  EXPECT_EQ(viewer_.CursorState().hotX, 2);
  EXPECT_EQ(viewer_.CursorState().height, 32);
  EXPECT_EQ(owner_.requests, 0);
}

}  // namespace
}  // namespace qc
