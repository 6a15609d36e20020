// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process_info.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "common/byte_order.h"

namespace qc {

uint32_t LocalHostAddress() {
  // Winsock must be up for the name calls; the sockets start it too.
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return 0;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* result = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) return 0;
  const auto* sa = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
  uint32_t address = ReadU32(reinterpret_cast<const uint8_t*>(&sa->sin_addr.s_addr));
  freeaddrinfo(result);
  return address;
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

bool RaiseCurrentThreadPriority(unsigned long& error) {
  if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL)) {
    error = GetLastError();
    return false;
  }
  return true;
}

}  // namespace qc
