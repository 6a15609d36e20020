// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "platform/auto_reset_event.h"
#include "tests/support/group_socket.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47000;
using test::GroupSocket;  // receivers joined to the group as the viewer's data socket

TEST(UdpSocket, OverlongDatagramIsAFailedReceive) {
  GroupSocket r(kPort), s;
  ASSERT_TRUE(r.Ok() && s.Ok());
  ASSERT_TRUE(s.Send(kPort, std::vector<uint8_t>(60001, 7)));
  ASSERT_TRUE(s.Send(kPort, {9, 9, 9}));
  std::vector<uint8_t> buf(kMaxDatagram);
  EXPECT_EQ(r.Raw().ReceiveFor(buf.data(), buf.size(), 2000), -1);
  EXPECT_EQ(r.Raw().LastError(), UdpSocket::kDatagramTooLong);
  // The next datagram is intact.
  EXPECT_EQ(r.Raw().ReceiveFor(buf.data(), buf.size(), 2000), 3);
  EXPECT_EQ(buf[0], 9);
  EXPECT_EQ(r.Raw().ReceiveFor(buf.data(), buf.size(), 50), -2);  // then a timeout
}

TEST(UdpSocket, CloseWakesABlockedReceive) {
  GroupSocket group(kPort);
  UdpSocket& r = group.Raw();
  AutoResetEvent done;
  done.Set();  // sets collapse, and a wait resets
  done.Set();
  EXPECT_TRUE(done.WaitFor(0));
  EXPECT_FALSE(done.WaitFor(10));
  long result = 0;
  std::thread t([&] {
    uint8_t buf[16];
    result = r.Receive(buf, sizeof buf);
    done.Set();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  r.Close();
  bool woke = done.WaitFor(5000);
  t.join();
  EXPECT_TRUE(woke);
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(r.IsOpen());
  uint8_t buf[4];
  EXPECT_EQ(r.Receive(buf, sizeof buf), -1);
}

// Close racing a receive loop on another thread, then a new socket that
// usually gets the same descriptor number: the old loop must end and must
// never take the new socket's datagrams.
TEST(UdpSocket, CloseRacingAReceiveLoopNeverStealsFromTheNextSocket) {
  for (int round = 0; round < 300; ++round) {
    auto old = std::make_unique<GroupSocket>(kPort + 1);
    std::atomic<int> stolen{0};
    std::thread loop([&] {
      uint8_t buf[16];
      while (old->Raw().Receive(buf, sizeof buf) >= 0) ++stolen;
    });
    if (round % 2 == 0) std::this_thread::yield();
    old->Raw().Close();
    GroupSocket next(kPort + 2), s;
    ASSERT_TRUE(s.Send(kPort + 2, {1, 2, 3}));
    uint8_t buf[16];
    EXPECT_EQ(next.Raw().ReceiveFor(buf, sizeof buf, 2000), 3) << "round " << round;
    loop.join();
    EXPECT_EQ(stolen.load(), 0);
  }
}

}  // namespace
}  // namespace qc
