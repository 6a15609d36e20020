// Several receivers on a bridged LAN of network namespaces follow one
// sender; one link drops 5% of what it carries, and the receiver behind it
// repairs its picture through update requests. A second sender on the same
// group disturbs nobody.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "platform/udp_socket.h"
#include "receiver/viewer/viewer.h"
#include "tests/receiver/netns_lan.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/receiver/synthetic_sender.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47100;
constexpr int kW = 640, kH = 480;
constexpr int kReceivers = 3;
constexpr int kLossy = 2;  // receiver index with the lossy link

bool PictureIs(const qvViewer& viewer, const std::vector<uint8_t>& frame) {
  FramebufferView v = viewer.FramebufferInfo();
  if (v.pixels == nullptr) return false;
  size_t size = static_cast<size_t>(v.bytesPerRow) * v.height;
  return size == frame.size() && memcmp(v.pixels, frame.data(), size) == 0;
}

// The receiver's side of update requests: a service socket in its host.
class ServiceOwner : public test::RecordingOwner {
 public:
  bool Open() {
    return socket_.Create() && socket_.Bind(0) && socket_.SetMulticastTtl(kSendingTtl) &&
           SocketAddress::FromDotted(kGroupAddress, kPort + 1, destination_);
  }
  void SendUpdateRequest() override {
    test::RecordingOwner::SendUpdateRequest();
    uint8_t d[kUpdateRequestSize];
    BuildUpdateRequest(d);
    socket_.SendTo(d, sizeof d, destination_);
  }

 private:
  UdpSocket socket_;
  SocketAddress destination_;
};

// Sends a probe the sequence check sees: a cursor shape, as the sender does
// after every full-screen update.
bool SendCursorShape(test::SyntheticSender& s) {
  CursorShapeHeader h;
  h.maskWidth = 32;
  h.maskHeight = 64;
  h.maskPalette1BG = 0xFFFF;
  std::vector<uint8_t> shape(kCursorShapeHeaderSize + 256, 0);
  BuildCursorShapeHeader(h, shape.data());
  return s.Transport().SendCompressed(shape.data(), shape.size(), PacketType::CursorShape) ==
         SendResult::Sent;
}

TEST(ViewerLan, ReceiversConvergeAndALossyLinkIsRepaired) {
  test::NetnsLan lan(kReceivers + 2);  // host 0 sender, 1..3 receivers, 4 intruder
  ASSERT_TRUE(lan.Ok());
  ASSERT_TRUE(lan.AddLoss(1 + kLossy, 0.05));

  test::SyntheticSender sender(kW, kH, 32);
  test::SyntheticSender intruder(kW, kH, 32);
  UdpSocket listen;
  ASSERT_TRUE(lan.In(0, [&] {
    ASSERT_TRUE(sender.Open(kPort));
    ASSERT_TRUE(listen.Create());
    ASSERT_TRUE(listen.SetReuseAddress(true));
    ASSERT_TRUE(listen.Bind(kPort + 1));
    ASSERT_TRUE(listen.JoinGroup(kGroupAddressHostOrder));
  }));
  // Identifiers come from the clock, among others: make sure they differ.
  ASSERT_TRUE(lan.In(kReceivers + 1, [&] {
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ASSERT_TRUE(intruder.Open(kPort));
    } while (intruder.Id() == sender.Id());
  }));
  intruder.SetFrame(test::MakeFrame(kW, kH, 32, 77));

  std::unique_ptr<qvViewer> viewers[kReceivers];
  std::unique_ptr<ServiceOwner> owners[kReceivers];
  NullSurface surface;
  for (int i = 0; i < kReceivers; ++i) {
    viewers[i] = std::make_unique<qvViewer>();
    owners[i] = std::make_unique<ServiceOwner>();
    ASSERT_TRUE(lan.In(1 + i, [&] {
      ASSERT_TRUE(owners[i]->Open());
      ASSERT_TRUE(viewers[i]->Init(owners[i].get(), &surface, kPort));
    }));
  }

  // The sender's listen thread: any update request marks a refresh.
  std::atomic<bool> refresh{false}, quit{false};
  std::atomic<int> requestsSeen{0};
  std::thread listener([&] {
    uint8_t buf[64];
    while (!quit) {
      long n = listen.ReceiveFor(buf, sizeof buf, 50);
      if (n > 0 && IsUpdateRequest(buf, static_cast<size_t>(n))) {
        ++requestsSeen;
        refresh = true;
      }
    }
  });

  auto fullScreen = [&] {
    ASSERT_TRUE(sender.SendFullScreen());
    ASSERT_TRUE(SendCursorShape(sender));
  };

  sender.SetFrame(test::MakeFrame(kW, kH, 32, 1));
  // Everyone takes this sender's transmission first (the first init message
  // on the group wins; a lost one comes again with the next full screen).
  auto following = [&] {
    for (int i = 0; i < kReceivers; ++i) {
      if (!viewers[i]->IsReceiving()) return false;
    }
    return true;
  };
  for (int i = 0; i < 100 && !following(); ++i) {
    fullScreen();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(following());
  for (int i = 0; i < kReceivers; ++i) {
    ASSERT_EQ(viewers[i]->Transmission().screenId, sender.Id());
  }
  for (int round = 0; round < 40; ++round) {
    sender.SetFrame(test::MakeFrame(kW, kH, 32, 100 + round));
    int band = (round * 37) % (kH - 60);
    ASSERT_TRUE(sender.SendRows(band, band + 60, PacketType::Update));
    if (round % 10 == 5) {
      ASSERT_TRUE(intruder.SendFullScreen());
    }
    if (refresh.exchange(false)) fullScreen();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Until everyone shows the sender's picture: answer requests with
  // full-screen updates; probe the numbering so trailing losses show.
  auto converged = [&] {
    for (int i = 0; i < kReceivers; ++i) {
      if (!PictureIs(*viewers[i], sender.Frame())) return false;
    }
    return true;
  };
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool all = false;
  while (!(all = converged()) && std::chrono::steady_clock::now() < end) {
    bool waiting = false;
    for (int i = 0; i < kReceivers; ++i) waiting = waiting || !viewers[i]->IsReceiving();
    if (refresh.exchange(false) || waiting) {
      fullScreen();
    } else {
      ASSERT_TRUE(SendCursorShape(sender));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  quit = true;
  listener.join();

  EXPECT_TRUE(all);
  for (int i = 0; i < kReceivers; ++i) {
    EXPECT_TRUE(PictureIs(*viewers[i], sender.Frame())) << "receiver " << i;
    EXPECT_EQ(viewers[i]->Transmission().screenId, sender.Id());
    EXPECT_EQ(owners[i]->fatals, 0);
    EXPECT_GT(viewers[i]->Stats().ignored, 0u) << "the intruder's datagrams reach everyone";
  }
  ViewerStats lossy = viewers[kLossy]->Stats();
  EXPECT_GT(lossy.lost, 0u);
  EXPECT_GT(owners[kLossy]->requests, 0);
  EXPECT_GT(requestsSeen, 0);
  for (int i = 0; i < kReceivers; ++i) viewers[i]->Stop();
}

}  // namespace
}  // namespace qc
