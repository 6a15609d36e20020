// The listen thread on real sockets, inside the test's private network
// namespace: the start check on the data port, update requests on the port
// above it, and the hand-over between the two.
#include "sender/shell/listen_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/udp_socket.h"
#include "tests/support/group_socket.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 6100;
const std::vector<uint8_t> kRequest = {0xF8, 0xFF};

class RecordingListenOwner : public ListenOwner {
 public:
  void UpdateRequested() override { ++requests; }
  void AnotherTransmitterDetected(uint32_t address) override {
    lastAddress = address;
    ++transmitters;
  }
  std::atomic<int> requests{0};
  std::atomic<int> transmitters{0};
  std::atomic<uint32_t> lastAddress{0};
};

// Waits (with a generous guard against a hang) until cond holds. Ending the
// thread, waiting or blocked in a receive, is left to the controller's tests,
// which do it in every test.
template <typename Cond>
bool Eventually(Cond cond) {
  for (int i = 0; i < 2000 && !cond(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return cond();
}

class ListenThreadTest : public testing::Test {
 protected:
  ~ListenThreadTest() override { listener.Shutdown(); }
  void Open(uint16_t port, ListenThread::Phase phase) {
    ASSERT_TRUE(listener.OpenListenSocket(port, phase));
    listener.Signal();
  }
  RecordingListenOwner owner;
  ListenThread listener{owner};
  test::GroupSocket peer;
};

TEST_F(ListenThreadTest, StartCheckSharesTheDataPortWithALocalReceiverAndNamesTheOtherSender) {
  test::AddTestSourceAddress();
  test::GroupSocket localReceiver(kPort);  // a receiver on this machine holds the port
  ASSERT_TRUE(localReceiver.Ok());
  ASSERT_TRUE(listener.Start());
  Open(kPort, ListenThread::Phase::StartCheck);
  ASSERT_TRUE(peer.Send(kPort, {0xF7, 0xFF, 0x12, 0x34}));  // another sender's keep-alive
  ASSERT_TRUE(Eventually([&] { return owner.transmitters.load() == 1; }));
  EXPECT_TRUE(listener.Conflict());
  EXPECT_EQ(owner.lastAddress.load(), test::kTestSourceAddress);

  // The next Start clears the conflict and checks again.
  ASSERT_TRUE(listener.OpenListenSocket(kPort, ListenThread::Phase::StartCheck));
  EXPECT_FALSE(listener.Conflict());
}

TEST_F(ListenThreadTest, RequestsAreServedAndShortOrForeignDatagramsIgnored) {
  ASSERT_TRUE(listener.Start());
  Open(kPort + 1, ListenThread::Phase::Requests);
  // The socket's receive buffer is tiny (1024 bytes asked), so each datagram
  // is followed by a request and served before the next is sent. Datagrams
  // are served in order: when the request behind an ignored datagram is
  // counted, the ignored one was seen and did not count.
  int expected = 0;
  for (const std::vector<uint8_t>& ignored :
       {std::vector<uint8_t>{0xF8}, {0xF7, 0xFF}, {}, {0xFF, 0xFF, 0xF8, 0xFF}}) {
    ASSERT_TRUE(peer.Send(kPort + 1, ignored));
    ASSERT_TRUE(peer.Send(kPort + 1, kRequest));
    ++expected;
    ASSERT_TRUE(Eventually([&] { return owner.requests.load() >= expected; }));
    EXPECT_EQ(owner.requests.load(), expected);
  }
  ASSERT_TRUE(peer.Send(kPort + 1, {0xF8, 0xFF, 0x00}));  // a longer request counts
  ASSERT_TRUE(Eventually([&] { return owner.requests.load() == expected + 1; }));
  EXPECT_EQ(owner.transmitters.load(), 0);
}

TEST_F(ListenThreadTest, HandOverFromCheckToRequestsAndBack) {
  ASSERT_TRUE(listener.Start());
  for (int round = 0; round < 3; ++round) {
    Open(kPort, ListenThread::Phase::StartCheck);
    // End of the check: the request socket replaces the check socket.
    Open(kPort + 1, ListenThread::Phase::Requests);
    ASSERT_TRUE(peer.Send(kPort, {0xF7, 0xFF, 0, 0}));  // nobody listens on P any more
    ASSERT_TRUE(peer.Send(kPort + 1, kRequest));
    ASSERT_TRUE(Eventually([&] { return owner.requests.load() == round + 1; })) << round;
  }
  EXPECT_EQ(owner.transmitters.load(), 0);
}

}  // namespace
}  // namespace qc
