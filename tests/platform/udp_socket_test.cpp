#include "platform/udp_socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "platform/auto_reset_event.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47000;

// A receiver joined to the group on kPort, as the viewer's data socket.
void OpenReceiver(UdpSocket& s, uint16_t port = kPort) {
  ASSERT_TRUE(s.Create());
  ASSERT_TRUE(s.SetReuseAddress(true));
  ASSERT_TRUE(s.Bind(port));
  ASSERT_TRUE(s.JoinGroup(kGroupAddressHostOrder));
}

SocketAddress Group(uint16_t port = kPort) {
  SocketAddress a;
  EXPECT_TRUE(SocketAddress::FromDotted(kGroupAddress, port, a));
  return a;
}

// A TTL of 0 only keeps datagrams off real links: the loopback delivery of
// the group, which the tests rely on, remains.
TEST(UdpSocket, MulticastReachesEveryJoinedSocketAtAnyTtl) {
  for (int ttl : {64, 0}) {
    UdpSocket r1, r2, s;
    OpenReceiver(r1);
    OpenReceiver(r2);
    ASSERT_TRUE(s.Create());
    ASSERT_TRUE(s.Bind(0));
    ASSERT_TRUE(s.SetMulticastTtl(ttl));
    uint8_t msg[5] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(s.SendTo(msg, sizeof msg, Group()));
    for (UdpSocket* r : {&r1, &r2}) {
      uint8_t buf[100];
      SocketAddress from;
      EXPECT_EQ(r->ReceiveFor(buf, sizeof buf, 2000, &from), 5) << ttl;
      EXPECT_EQ(buf[4], 5);
      EXPECT_EQ(from.port, s.LocalPort());
    }
  }
}

TEST(UdpSocket, OverlongDatagramIsAFailedReceive) {
  UdpSocket r, s;
  OpenReceiver(r);
  ASSERT_TRUE(s.Create());
  std::vector<uint8_t> big(60001, 7);
  ASSERT_TRUE(s.SendTo(big.data(), big.size(), Group()));
  uint8_t small[3] = {9, 9, 9};
  ASSERT_TRUE(s.SendTo(small, sizeof small, Group()));
  std::vector<uint8_t> buf(kMaxDatagram);
  EXPECT_EQ(r.ReceiveFor(buf.data(), buf.size(), 2000), -1);
  EXPECT_EQ(r.LastError(), EMSGSIZE);
  // The next datagram is intact.
  EXPECT_EQ(r.ReceiveFor(buf.data(), buf.size(), 2000), 3);
  EXPECT_EQ(buf[0], 9);
  EXPECT_EQ(r.ReceiveFor(buf.data(), buf.size(), 50), -2);  // then a timeout
}

TEST(UdpSocket, CloseWakesABlockedReceive) {
  UdpSocket r;
  OpenReceiver(r);
  AutoResetEvent done;
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
    auto old = std::make_unique<UdpSocket>();
    OpenReceiver(*old, kPort + 1);
    std::atomic<int> stolen{0};
    std::thread loop([&] {
      uint8_t buf[16];
      while (old->Receive(buf, sizeof buf) >= 0) ++stolen;
    });
    if (round % 2 == 0) std::this_thread::yield();
    old->Close();
    UdpSocket next;
    OpenReceiver(next, kPort + 2);
    UdpSocket s;
    ASSERT_TRUE(s.Create());
    uint8_t msg[3] = {1, 2, 3};
    ASSERT_TRUE(s.SendTo(msg, sizeof msg, Group(kPort + 2)));
    uint8_t buf[16];
    EXPECT_EQ(next.ReceiveFor(buf, sizeof buf, 2000), 3) << "round " << round;
    loop.join();
    EXPECT_EQ(stolen.load(), 0);
  }
}

TEST(AutoResetEvent, SetsCollapseAndReset) {
  AutoResetEvent e;
  e.Set();
  e.Set();
  EXPECT_TRUE(e.WaitFor(0));
  EXPECT_FALSE(e.WaitFor(10));
}

}  // namespace
}  // namespace qc
