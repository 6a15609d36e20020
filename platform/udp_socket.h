// SPDX-License-Identifier: GPL-3.0-or-later
// A UDP/IPv4 socket with the few options the system uses (buffer sizes,
// multicast membership and TTL, address reuse).
//
// Two behaviours the receiving threads rely on:
// - Close() from another thread wakes a thread blocked in Receive(), which
//   then fails; later calls fail at once.
// - A datagram longer than the receive buffer is a failed receive (the
//   datagram is discarded whole), never a silently cut one.
//
// One implementation per operating system (POSIX sockets, Winsock 2), chosen
// by the build; error numbers are the system's own (errno, WSAGetLastError).
// One thread at a time receives on a socket; any thread may send or close.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace qc {

struct SocketAddress {
  uint32_t address = 0;  // host order
  uint16_t port = 0;     // host order

  // Parses dotted IPv4 text; false when it is not an address.
  static bool FromDotted(const char* dotted, uint16_t port, SocketAddress& out);
  std::string ToString() const;  // "a.b.c.d"
};

class UdpSocket {
 public:
  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Each call returns false on failure and leaves the reason in LastError().
  bool Create();
  bool IsOpen() const { return fd_.load() != kNoSocket; }
  // The system's handle, for log lines.
  int Handle() const { return static_cast<int>(fd_.load()); }

  bool SetSendBuffer(int bytes);
  bool SetReceiveBuffer(int bytes);
  bool SetReuseAddress(bool on);
  bool SetMulticastTtl(int ttl);
  // Group given in host order; interface "any".
  bool JoinGroup(uint32_t group);
  bool DropGroup(uint32_t group);
  // Binds to any local address; port 0 picks an ephemeral one.
  bool Bind(uint16_t port);
  uint16_t LocalPort() const;

  // Sends the whole datagram; false on failure.
  bool SendTo(const void* data, size_t length, const SocketAddress& to);
  // Blocks for one datagram. Returns its length, or -1 on failure: socket
  // closed (also by another thread), error, or a datagram longer than
  // capacity (LastError() is then kDatagramTooLong).
  long Receive(void* buffer, size_t capacity, SocketAddress* from = nullptr);
  // Like Receive, but gives up after timeoutMs; returns -2 on time-out.
  long ReceiveFor(void* buffer, size_t capacity, int timeoutMs, SocketAddress* from = nullptr);

  // Shuts the socket down in both directions (waking a blocked receive) and
  // closes it once no call on another thread is using it any more, so its
  // descriptor number cannot be reused under a running receive or send.
  // Safe to call twice and from another thread (never from inside a call on
  // this socket).
  void Close();

  int LastError() const { return lastError_.load(); }
  // The error of an over-long datagram (EMSGSIZE, WSAEMSGSIZE).
  static const int kDatagramTooLong;

 private:
  bool SetIntOption(int level, int name, int value);
  bool Membership(int op, uint32_t group);
  // Marks a send or receive as running on the descriptor it returns
  // (kNoSocket when closed: nothing is marked then); Leave ends the mark.
  intptr_t Enter();
  void Leave();

  // A descriptor or a Winsock SOCKET, which is pointer-sized.
  static constexpr intptr_t kNoSocket = -1;
  std::atomic<intptr_t> fd_{kNoSocket};
  std::atomic<int> inUse_{0};
  std::mutex closeMutex_;
  std::condition_variable released_;
  std::atomic<int> lastError_{0};
  // Winsock: the event a pending receive completes on, and the one Close
  // sets to abandon it. Unused on POSIX.
  void* receiveEvent_ = nullptr;
  void* closeEvent_ = nullptr;
};

}  // namespace qc
