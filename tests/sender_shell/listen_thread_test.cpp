// The listen thread on real sockets, inside the test's private network
// namespace: the start check on the data port, update requests on the port
// above it, and the hand-over between the two.
#include "sender/shell/listen_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/protocol.h"
#include "platform/udp_socket.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 6100;

class RecordingOwner : public ListenOwner {
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

// Waits (with a generous guard against a hang) until cond holds.
template <typename Cond>
bool Eventually(Cond cond) {
  for (int i = 0; i < 2000 && !cond(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return cond();
}

class Peer {
 public:
  Peer() {
    EXPECT_TRUE(socket_.Create());
    EXPECT_TRUE(socket_.SetMulticastTtl(1));
  }
  void Send(uint16_t port, const std::vector<uint8_t>& bytes) {
    SocketAddress to;
    ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, port, to));
    ASSERT_TRUE(socket_.SendTo(bytes.data(), bytes.size(), to));
  }

 private:
  UdpSocket socket_;
};

// The namespace's lo has only 127.0.0.1, of host scope, which multicast
// source selection skips (datagrams would come from 0.0.0.0); a documentation
// address of global scope gives them a source to name.
void AddSourceAddress() {
  static bool added = [] {
    return std::system("ip addr add 192.0.2.7/32 dev lo 2>/dev/null") == 0;
  }();
  (void)added;
}

const std::vector<uint8_t> kRequest = {0xF8, 0xFF};

TEST(ListenThreadTest, StartCheckDetectsAnotherTransmitterAndNamesIt) {
  AddSourceAddress();
  RecordingOwner owner;
  ListenThread listener(owner);
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.OpenListenSocket(kPort, ListenThread::Phase::StartCheck));
  listener.Signal();
  Peer other;
  other.Send(kPort, {0xF7, 0xFF, 0x12, 0x34});  // a keep-alive of another sender
  ASSERT_TRUE(Eventually([&] { return owner.transmitters.load() == 1; }));
  EXPECT_TRUE(listener.Conflict());
  EXPECT_EQ(owner.lastAddress.load(), 0xC0000207u);  // 192.0.2.7
  EXPECT_FALSE(listener.HasSocket());                // closed after the report
  EXPECT_EQ(owner.requests.load(), 0);

  // The next Start clears the conflict and checks again.
  ASSERT_TRUE(listener.OpenListenSocket(kPort, ListenThread::Phase::StartCheck));
  EXPECT_FALSE(listener.Conflict());
  listener.Signal();
  other.Send(kPort, {0x00});
  ASSERT_TRUE(Eventually([&] { return owner.transmitters.load() == 2; }));
  listener.Shutdown();
}

TEST(ListenThreadTest, StartCheckSharesTheDataPortWithALocalReceiver) {
  AddSourceAddress();
  // A receiver on the sender's own machine holds the data port already.
  UdpSocket localReceiver;
  ASSERT_TRUE(localReceiver.Create());
  ASSERT_TRUE(localReceiver.SetReuseAddress(true));
  ASSERT_TRUE(localReceiver.Bind(kPort + 10));
  ASSERT_TRUE(localReceiver.JoinGroup(kGroupAddressHostOrder));

  RecordingOwner owner;
  ListenThread listener(owner);
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.OpenListenSocket(kPort + 10, ListenThread::Phase::StartCheck));
  listener.Signal();
  // The check still hears another transmitter on that port.
  Peer other;
  other.Send(kPort + 10, {0xF7, 0xFF, 0x12, 0x34});
  ASSERT_TRUE(Eventually([&] { return owner.transmitters.load() == 1; }));
  listener.Shutdown();
}

TEST(ListenThreadTest, RequestsAreServedAndShortOrForeignDatagramsIgnored) {
  RecordingOwner owner;
  ListenThread listener(owner);
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.OpenListenSocket(kPort + 1, ListenThread::Phase::Requests));
  listener.Signal();
  Peer receiver;
  // The socket's receive buffer is tiny (1024 bytes asked), so each
  // datagram is followed by a request and served before the next is sent.
  // Datagrams are served in order: when the request behind an ignored
  // datagram is counted, the ignored one was seen and did not count.
  const std::vector<std::vector<uint8_t>> ignored = {
      {0xF8}, {0xF7, 0xFF}, {}, {0xFF, 0xFF, 0xF8, 0xFF}};
  int expected = 0;
  for (const auto& datagram : ignored) {
    receiver.Send(kPort + 1, datagram);
    receiver.Send(kPort + 1, kRequest);
    ++expected;
    ASSERT_TRUE(Eventually([&] { return owner.requests.load() >= expected; }));
    EXPECT_EQ(owner.requests.load(), expected);
  }
  receiver.Send(kPort + 1, {0xF8, 0xFF, 0x00});  // a longer request counts
  ASSERT_TRUE(Eventually([&] { return owner.requests.load() == expected + 1; }));
  EXPECT_EQ(owner.transmitters.load(), 0);
  EXPECT_FALSE(listener.Conflict());
  listener.Shutdown();
  EXPECT_EQ(owner.requests.load(), expected + 1);
}

TEST(ListenThreadTest, HandOverFromCheckToRequestsAndBack) {
  RecordingOwner owner;
  ListenThread listener(owner);
  ASSERT_TRUE(listener.Start());
  Peer peer;
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(listener.OpenListenSocket(kPort, ListenThread::Phase::StartCheck));
    listener.Signal();
    // End of the check: the request socket replaces the check socket.
    ASSERT_TRUE(listener.OpenListenSocket(kPort + 1, ListenThread::Phase::Requests));
    listener.Signal();
    peer.Send(kPort, {0xF7, 0xFF, 0, 0});  // nobody listens on P any more
    peer.Send(kPort + 1, kRequest);
    ASSERT_TRUE(Eventually([&] { return owner.requests.load() == round + 1; })) << round;
  }
  EXPECT_EQ(owner.transmitters.load(), 0);
  listener.Shutdown();
}

TEST(ListenThreadTest, ShutdownEndsABlockedReceiveAndAWait) {
  for (auto phase : {ListenThread::Phase::StartCheck, ListenThread::Phase::Requests}) {
    RecordingOwner owner;
    ListenThread listener(owner);
    ASSERT_TRUE(listener.Start());
    ASSERT_TRUE(listener.OpenListenSocket(kPort + 1, phase));
    listener.Signal();
    listener.Shutdown();  // joins: returns only when the thread ended
    EXPECT_FALSE(listener.HasSocket());
  }
  RecordingOwner owner;
  ListenThread idle(owner);
  ASSERT_TRUE(idle.Start());
  idle.Shutdown();  // waiting for its first start
}

}  // namespace
}  // namespace qc
