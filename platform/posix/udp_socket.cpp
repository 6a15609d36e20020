// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qc {

namespace {

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(a.address);
  sa.sin_port = htons(a.port);
  return sa;
}

int Descriptor(const std::atomic<intptr_t>& fd) { return static_cast<int>(fd.load()); }

}  // namespace

bool SocketAddress::FromDotted(const char* dotted, uint16_t port, SocketAddress& out) {
  in_addr addr{};
  if (inet_pton(AF_INET, dotted, &addr) != 1) return false;
  out.address = ntohl(addr.s_addr);
  out.port = port;
  return true;
}

std::string SocketAddress::ToString() const {
  in_addr addr{};
  addr.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr, text, sizeof text);
  return text;
}

const int UdpSocket::kDatagramTooLong = EMSGSIZE;

UdpSocket::~UdpSocket() { Close(); }

bool UdpSocket::Create() {
  Close();
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  fd_ = fd;
  return true;
}

bool UdpSocket::SetIntOption(int level, int name, int value) {
  if (setsockopt(Descriptor(fd_), level, name, &value, sizeof value) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::SetSendBuffer(int bytes) { return SetIntOption(SOL_SOCKET, SO_SNDBUF, bytes); }
bool UdpSocket::SetReceiveBuffer(int bytes) { return SetIntOption(SOL_SOCKET, SO_RCVBUF, bytes); }
bool UdpSocket::SetReuseAddress(bool on) { return SetIntOption(SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0); }

bool UdpSocket::SetMulticastTtl(int ttl) {
  unsigned char value = static_cast<unsigned char>(ttl);
  if (setsockopt(Descriptor(fd_), IPPROTO_IP, IP_MULTICAST_TTL, &value, sizeof value) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::Membership(int op, uint32_t group) {
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = htonl(group);
  mreq.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(Descriptor(fd_), IPPROTO_IP, op, &mreq, sizeof mreq) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool UdpSocket::JoinGroup(uint32_t group) { return Membership(IP_ADD_MEMBERSHIP, group); }
bool UdpSocket::DropGroup(uint32_t group) { return Membership(IP_DROP_MEMBERSHIP, group); }

bool UdpSocket::Bind(uint16_t port) {
  sockaddr_in sa = ToSockaddr(SocketAddress{INADDR_ANY, port});
  if (bind(Descriptor(fd_), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

uint16_t UdpSocket::LocalPort() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(Descriptor(fd_), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

intptr_t UdpSocket::Enter() {
  inUse_.fetch_add(1);
  int fd = Descriptor(fd_);
  if (fd < 0) {
    Leave();
    lastError_ = EBADF;
  }
  return fd;
}

void UdpSocket::Leave() {
  if (inUse_.fetch_sub(1) == 1) {
    // Taking the mutex orders this wake-up after Close started waiting.
    std::lock_guard<std::mutex> lock(closeMutex_);
    released_.notify_all();
  }
}

bool UdpSocket::SendTo(const void* data, size_t length, const SocketAddress& to) {
  int fd = static_cast<int>(Enter());
  if (fd < 0) return false;
  sockaddr_in sa = ToSockaddr(to);
  ssize_t n = sendto(fd, data, length, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int error = errno;
  Leave();
  if (n < 0 || static_cast<size_t>(n) != length) {
    lastError_ = n < 0 ? error : EMSGSIZE;
    return false;
  }
  return true;
}

long UdpSocket::Receive(void* buffer, size_t capacity, SocketAddress* from) {
  int fd = static_cast<int>(Enter());
  if (fd < 0) return -1;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  // MSG_TRUNC makes recvfrom report the real length of a datagram that did
  // not fit, so an over-long one is recognised and refused.
  ssize_t n = recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
  int error = errno;
  Leave();
  if (n < 0) {
    lastError_ = error;
    return -1;
  }
  if (fd_.load() < 0) {
    // Woken by Close(): a shut-down socket reads as an empty datagram.
    lastError_ = EBADF;
    return -1;
  }
  if (static_cast<size_t>(n) > capacity) {
    lastError_ = EMSGSIZE;
    return -1;
  }
  if (from != nullptr) {
    from->address = ntohl(sa.sin_addr.s_addr);
    from->port = ntohs(sa.sin_port);
  }
  return static_cast<long>(n);
}

long UdpSocket::ReceiveFor(void* buffer, size_t capacity, int timeoutMs, SocketAddress* from) {
  int fd = static_cast<int>(Enter());
  if (fd < 0) return -1;
  pollfd p{fd, POLLIN, 0};
  int r = poll(&p, 1, timeoutMs);
  int error = errno;
  Leave();
  if (r < 0) {
    lastError_ = error;
    return -1;
  }
  if (r == 0) return -2;
  return Receive(buffer, capacity, from);
}

void UdpSocket::Close() {
  int fd = static_cast<int>(fd_.exchange(kNoSocket));
  if (fd < 0) return;
  shutdown(fd, SHUT_RDWR);  // wakes a thread blocked in recvfrom on this socket
  // Calls that took the descriptor before the exchange return promptly on a
  // shut-down socket; the descriptor is closed only after they left.
  std::unique_lock<std::mutex> lock(closeMutex_);
  released_.wait(lock, [this] { return inUse_.load() == 0; });
  close(fd);
}

}  // namespace qc
