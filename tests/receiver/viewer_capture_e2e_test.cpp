// End to end: the sender's capture engine grabs a private Xvfb screen and
// sends it through the real transport; headless viewers rebuild it. On
// loopback (32 and 16 bits, incremental updates, cursor, disconnection and
// restart) and on a bridged LAN of namespaces with 5% loss on one link and
// a second sender on the group.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "platform/udp_socket.h"
#include "platform/x11_cursor_source.h"
#include "platform/x11_screen_source.h"
#include "receiver/viewer/viewer.h"
#include "sender/capture/capture.h"
#include "sender/capture/sender_transport.h"
#include "tests/support/xvfb_server.h"
#include "tests/receiver/netns_lan.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/receiver/synthetic_sender.h"
#include "tests/support/fake_sources.h"
#include "tests/support/root_painter.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47300;


// The viewer shows the screen: 16-bit pixels exactly; 32-bit pixels exactly
// or reduced to 5 bits per intensity (Raw color substrings); byte 3 aside.
bool Shows(const qvViewer& viewer, const std::vector<uint8_t>& screen, int bytes) {
  FramebufferView v = viewer.FramebufferInfo();
  if (v.pixels == nullptr) return false;
  size_t size = size_t(v.bytesPerRow) * v.height;
  if (size != screen.size()) return false;
  for (size_t i = 0; i < size; ++i) {
    uint8_t s = screen[i], r = v.pixels[i];
    if (bytes == 2) {
      if (s != r) return false;
    } else if (i % 4 != 3 && s != r && (s & 0xF8) != r) {
      return false;
    }
  }
  return true;
}

class NoSenderOwner : public SenderOwner {
 public:
  void AdvanceIcon() override {}
  void FatalError() override {}
};

struct Engine {
  Engine(const std::string& display) {
    auto cursor = X11CursorSource::Create(display);
    X11ScreenSource::Options options;
    options.display = display;
    capture = std::make_unique<qcCapture>(std::make_unique<X11ScreenSource>(options),
                                          std::move(cursor));
  }
  bool Open() { return sender.Open(&senderOwner, kGroupAddress, kPort); }
  bool Start() {
    owner = std::make_unique<test::FakeCaptureOwner>(&sender);
    if (!capture->Init(owner.get())) return false;
    capture->SetPolling(true);
    return true;
  }
  bool Steps(int n) {
    for (int i = 0; i < n; ++i) {
      uint64_t done = capture->StepsDone();
      capture->OnPollTimer();
      if (!capture->WaitForSteps(done + 1, 30000)) return false;
    }
    return true;
  }
  // Polls until the condition holds (at most `limit` polls, then a while
  // for the receivers to catch up).
  bool StepUntil(const std::function<bool()>& condition, int limit = 200) {
    for (int i = 0; i < limit; ++i) {
      if (condition()) return true;
      if (!Steps(1)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
  }

  NoSenderOwner senderOwner;
  qcSender sender;
  std::unique_ptr<test::FakeCaptureOwner> owner;
  std::unique_ptr<qcCapture> capture;
};

void RunLoopback(const char* geometry) {
  test::XvfbServer server(geometry);
  ASSERT_TRUE(server.Ready()) << server.Display();
  test::RootPainter screen(server.Display());
  screen.Scene(1);

  test::RecordingOwner owner;
  test::RecordingSurface surface;
  qvViewer viewer;
  ASSERT_TRUE(viewer.Init(&owner, &surface, kPort));

  Engine engine(server.Display());
  ASSERT_TRUE(engine.Open());
  ASSERT_TRUE(engine.Start());
  std::vector<uint8_t> picture = screen.Read();
  ASSERT_TRUE(engine.StepUntil([&] { return Shows(viewer, picture, screen.BytesPerPixel()); }));
  EXPECT_EQ(viewer.Transmission().screenId, engine.sender.ScreenId());
  EXPECT_EQ(viewer.FramebufferInfo().bitsPerPixel, screen.BytesPerPixel() * 8);
  EXPECT_EQ(surface.placed, 1);

  // Incremental updates follow the screen.
  uint32_t applied = viewer.Stats().updatesApplied;
  screen.Fill(100, 100, 300, 50, 0x00FF00 & (screen.BytesPerPixel() == 4 ? 0xFFFFFF : 0xFFFF));
  screen.Noise(500, 300, 64, 64, 9);
  screen.Sync();
  picture = screen.Read();
  ASSERT_TRUE(engine.StepUntil([&] { return Shows(viewer, picture, screen.BytesPerPixel()); }));
  EXPECT_GT(viewer.Stats().updatesApplied, applied);
  EXPECT_EQ(viewer.Stats().lost, 0u);
  EXPECT_EQ(owner.requests, 0);

  // The cursor follows the pointer.
  screen.MovePointer(321, 123);
  ASSERT_TRUE(engine.StepUntil([&] {
    std::lock_guard<std::mutex> lock(viewer.CursorLock());
    const RemoteCursorState& c = viewer.CursorState();
    return c.hasImage && c.x == 321 && c.y == 123;
  }));

  // Disconnection: the viewer is restarted, waits, and follows the next
  // init message of the same sender.
  engine.capture->SetPolling(false);
  engine.capture->SendDisconnection();
  for (int i = 0; i < 2000 && owner.restarts == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(owner.restarts, 1);
  viewer.Stop();
  ASSERT_TRUE(viewer.Init(&owner, &surface, kPort));
  EXPECT_FALSE(viewer.IsReceiving());
  screen.Scene(2);
  picture = screen.Read();
  engine.capture->SetPolling(true);
  engine.capture->RequestRefresh();
  engine.capture->OnFullUpdateTimer();
  ASSERT_TRUE(engine.StepUntil([&] { return Shows(viewer, picture, screen.BytesPerPixel()); }));
  EXPECT_EQ(surface.placed, 2);
  EXPECT_EQ(owner.fatals, 0);
  engine.capture.reset();
  viewer.Stop();
}

TEST(ViewerCaptureEndToEnd, ThirtyTwoBitScreenOnLoopback) { RunLoopback("1024x768x24"); }

TEST(ViewerCaptureEndToEnd, SixteenBitScreenOnLoopback) { RunLoopback("640x480x16"); }

TEST(ViewerCaptureEndToEnd, BridgedReceiversConvergeDespiteLossAndASecondSender) {
  test::XvfbServer server("800x600x24");
  ASSERT_TRUE(server.Ready()) << server.Display();
  test::RootPainter screen(server.Display());
  screen.Scene(3);

  test::NetnsLan lan(4);  // 0 capture engine, 1-2 receivers, 3 second sender
  ASSERT_TRUE(lan.Ok());
  ASSERT_TRUE(lan.AddLoss(2, 0.05));

  Engine engine(server.Display());
  UdpSocket listen;
  ASSERT_TRUE(lan.In(0, [&] {
    ASSERT_TRUE(engine.Open());
    ASSERT_TRUE(listen.Create());
    ASSERT_TRUE(listen.Bind(kPort + 1));
    ASSERT_TRUE(listen.JoinGroup(kGroupAddressHostOrder));
  }));
  test::SyntheticSender intruder(800, 600, 32);
  ASSERT_TRUE(lan.In(3, [&] {
    do {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ASSERT_TRUE(intruder.Open(kPort));
    } while (intruder.Id() == engine.sender.ScreenId());
  }));
  intruder.SetFrame(test::MakeFrame(800, 600, 32, 5));

  struct Receiver {
    qvViewer viewer;
    test::RecordingOwner owner;
    UdpSocket service;
    SocketAddress destination;
  };
  Receiver receivers[2];
  NullSurface surface;
  for (int i = 0; i < 2; ++i) {
    Receiver& r = receivers[i];
    r.owner.onRequest = [&r] {
      uint8_t d[kUpdateRequestSize];
      BuildUpdateRequest(d);
      r.service.SendTo(d, sizeof d, r.destination);
    };
    ASSERT_TRUE(lan.In(1 + i, [&] {
      ASSERT_TRUE(r.service.Create());
      ASSERT_TRUE(r.service.Bind(0));
      ASSERT_TRUE(r.service.SetMulticastTtl(kSendingTtl));
      ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, kPort + 1, r.destination));
      ASSERT_TRUE(r.viewer.Init(&r.owner, &surface, kPort));
    }));
  }

  // The sender's listen thread: update requests mark a refresh.
  std::atomic<bool> quit{false};
  std::atomic<int> requests{0};
  std::thread listener([&] {
    uint8_t buf[16];
    while (!quit) {
      long n = listen.ReceiveFor(buf, sizeof buf, 50);
      if (n > 0 && IsUpdateRequest(buf, size_t(n))) {
        ++requests;
        engine.capture->RequestRefresh();
      }
    }
  });

  ASSERT_TRUE(engine.Start());
  // Both receivers take the engine's transmission first (the first init
  // message on the group wins; a lost one is sent again with the next
  // full-screen update).
  auto following = [&] {
    for (auto& r : receivers) {
      if (!r.viewer.IsReceiving()) return false;
    }
    return true;
  };
  for (int i = 0; i < 100 && !following(); ++i) {
    engine.capture->RequestRefresh();
    engine.capture->OnFullUpdateTimer();
    ASSERT_TRUE(engine.Steps(4));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(following());
  for (auto& r : receivers) ASSERT_EQ(r.viewer.Transmission().screenId, engine.sender.ScreenId());
  std::mt19937 random(7);
  // The screen changes while the receivers follow it.
  // Enough sequenced datagrams that the lossy link drops some of them.
  for (int round = 0; round < 80; ++round) {
    screen.Fill(random() % 700, random() % 500, 100, 100, random() & 0xFFFFFF);
    screen.Noise(random() % 700, random() % 520, 100, 80, round);
    screen.Sync();
    ASSERT_TRUE(engine.Steps(2));
    if (round % 20 == 4) {
      ASSERT_TRUE(intruder.SendFullScreen());
    }
    if (round % 16 == 15) engine.capture->OnFullUpdateTimer();  // the 15-second tick
  }
  // Then until both show the screen: small changes keep the numbering
  // moving so that every loss is noticed; the 15-second tick lets the
  // requested full-screen update through.
  bool converged = false;
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
  for (int round = 0; !converged && std::chrono::steady_clock::now() < end; ++round) {
    screen.Fill(0, 0, 8, 8, round & 0xFF);
    screen.Sync();
    ASSERT_TRUE(engine.Steps(4));
    engine.capture->OnFullUpdateTimer();
    std::vector<uint8_t> picture = screen.Read();
    for (int wait = 0; wait < 20 && !converged; ++wait) {
      converged = Shows(receivers[0].viewer, picture, 4) && Shows(receivers[1].viewer, picture, 4);
      if (!converged) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  quit = true;
  listener.join();

  EXPECT_TRUE(converged);
  for (auto& r : receivers) {
    EXPECT_EQ(r.viewer.Transmission().screenId, engine.sender.ScreenId());
    EXPECT_GT(r.viewer.Stats().ignored, 0u);
    EXPECT_EQ(r.owner.fatals, 0);
  }
  EXPECT_GT(receivers[1].viewer.Stats().lost, 0u);
  EXPECT_GT(receivers[1].owner.requests, 0);
  EXPECT_GT(requests, 0);
  engine.capture.reset();
  for (auto& r : receivers) r.viewer.Stop();
}

}  // namespace
}  // namespace qc
