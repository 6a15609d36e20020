// SPDX-License-Identifier: GPL-3.0-or-later
// Winsock 2 implementation of UdpSocket.
//
// A receive is an overlapped WSARecvFrom waited for together with the
// socket's close event: Close() sets that event, the waiting receive cancels
// its request and fails, and only when no call is using the socket any more
// is it closed, so a SOCKET value is never reused under a running call.
// Sends stay blocking, as on POSIX.
#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mutex>

namespace qc {

namespace {

sockaddr_in ToSockaddr(const SocketAddress& a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(a.address);
  sa.sin_port = htons(a.port);
  return sa;
}

// Winsock is started once per process and stays up until it ends.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

SOCKET AsSocket(intptr_t fd) { return static_cast<SOCKET>(fd); }

}  // namespace

const int UdpSocket::kDatagramTooLong = WSAEMSGSIZE;

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

UdpSocket::~UdpSocket() {
  Close();
  if (receiveEvent_ != nullptr) CloseHandle(receiveEvent_);
  if (closeEvent_ != nullptr) CloseHandle(closeEvent_);
}

bool UdpSocket::Create() {
  Close();
  if (!StartWinsock()) {
    lastError_ = WSANOTINITIALISED;
    return false;
  }
  if (receiveEvent_ == nullptr) receiveEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (closeEvent_ == nullptr) closeEvent_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (receiveEvent_ == nullptr || closeEvent_ == nullptr) {
    lastError_ = static_cast<int>(GetLastError());
    return false;
  }
  ResetEvent(closeEvent_);
  SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    lastError_ = WSAGetLastError();
    return false;
  }
  fd_ = static_cast<intptr_t>(s);
  return true;
}

bool UdpSocket::SetIntOption(int level, int name, int value) {
  if (setsockopt(AsSocket(fd_.load()), level, name, reinterpret_cast<const char*>(&value),
                 sizeof value) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

bool UdpSocket::SetSendBuffer(int bytes) { return SetIntOption(SOL_SOCKET, SO_SNDBUF, bytes); }
bool UdpSocket::SetReceiveBuffer(int bytes) { return SetIntOption(SOL_SOCKET, SO_RCVBUF, bytes); }
bool UdpSocket::SetReuseAddress(bool on) {
  return SetIntOption(SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
}
// Winsock 2 takes the TTL as a DWORD.
bool UdpSocket::SetMulticastTtl(int ttl) { return SetIntOption(IPPROTO_IP, IP_MULTICAST_TTL, ttl); }

bool UdpSocket::Membership(int op, uint32_t group) {
  ip_mreq mreq{};
  mreq.imr_multiaddr.s_addr = htonl(group);
  mreq.imr_interface.s_addr = htonl(INADDR_ANY);
  if (setsockopt(AsSocket(fd_.load()), IPPROTO_IP, op, reinterpret_cast<const char*>(&mreq),
                 sizeof mreq) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

bool UdpSocket::JoinGroup(uint32_t group) { return Membership(IP_ADD_MEMBERSHIP, group); }
bool UdpSocket::DropGroup(uint32_t group) { return Membership(IP_DROP_MEMBERSHIP, group); }

bool UdpSocket::Bind(uint16_t port) {
  sockaddr_in sa = ToSockaddr(SocketAddress{INADDR_ANY, port});
  if (bind(AsSocket(fd_.load()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    lastError_ = WSAGetLastError();
    return false;
  }
  return true;
}

uint16_t UdpSocket::LocalPort() const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (getsockname(AsSocket(fd_.load()), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

intptr_t UdpSocket::Enter() {
  inUse_.fetch_add(1);
  intptr_t fd = fd_.load();
  if (fd == kNoSocket) {
    Leave();
    lastError_ = WSAENOTSOCK;
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
  intptr_t fd = Enter();
  if (fd == kNoSocket) return false;
  sockaddr_in sa = ToSockaddr(to);
  int n = sendto(AsSocket(fd), static_cast<const char*>(data), static_cast<int>(length), 0,
                 reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  int error = WSAGetLastError();
  Leave();
  if (n == SOCKET_ERROR || static_cast<size_t>(n) != length) {
    lastError_ = n == SOCKET_ERROR ? error : WSAEMSGSIZE;
    return false;
  }
  return true;
}

long UdpSocket::Receive(void* buffer, size_t capacity, SocketAddress* from) {
  return ReceiveFor(buffer, capacity, -1, from);
}

long UdpSocket::ReceiveFor(void* buffer, size_t capacity, int timeoutMs, SocketAddress* from) {
  intptr_t fd = Enter();
  if (fd == kNoSocket) return -1;
  SOCKET s = AsSocket(fd);
  sockaddr_in sa{};
  INT len = sizeof sa;
  WSABUF buf{static_cast<ULONG>(capacity), static_cast<char*>(buffer)};
  DWORD received = 0;
  DWORD flags = 0;
  WSAOVERLAPPED ov{};
  ov.hEvent = receiveEvent_;
  ResetEvent(receiveEvent_);
  long result = -1;
  int error = 0;
  if (WSARecvFrom(s, &buf, 1, &received, &flags, reinterpret_cast<sockaddr*>(&sa), &len, &ov,
                  nullptr) == 0 ||
      (error = WSAGetLastError()) == WSA_IO_PENDING) {
    HANDLE events[2] = {receiveEvent_, closeEvent_};
    DWORD wait = WaitForMultipleObjects(2, events, FALSE,
                                        timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (wait != WAIT_OBJECT_0) {
      // Closed or timed out: take the request back before its buffers go.
      CancelIoEx(reinterpret_cast<HANDLE>(s), &ov);
    }
    if (WSAGetOverlappedResult(s, &ov, &received, TRUE, &flags)) {
      result = static_cast<long>(received);
    } else {
      error = WSAGetLastError();
      if (wait == WAIT_TIMEOUT && error == WSA_OPERATION_ABORTED) result = -2;
    }
  }
  Leave();
  if (result == -2) return -2;
  if (fd_.load() == kNoSocket) {
    lastError_ = WSAENOTSOCK;
    return -1;
  }
  if (result < 0) {
    lastError_ = error;
    return -1;
  }
  if (from != nullptr) {
    from->address = ntohl(sa.sin_addr.s_addr);
    from->port = ntohs(sa.sin_port);
  }
  return result;
}

void UdpSocket::Close() {
  intptr_t fd = fd_.exchange(kNoSocket);
  if (fd == kNoSocket) return;
  SetEvent(closeEvent_);  // a waiting receive cancels its request and fails
  std::unique_lock<std::mutex> lock(closeMutex_);
  released_.wait(lock, [this] { return inUse_.load() == 0; });
  closesocket(AsSocket(fd));
}

}  // namespace qc
