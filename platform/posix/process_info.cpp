// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/process_info.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "common/byte_order.h"

namespace qc {

uint32_t LocalHostAddress() {
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

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool RaiseCurrentThreadPriority(unsigned long& error) {
  // A nice value below 0 for this thread only (Linux threads have their own).
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10) != 0) {
    error = static_cast<unsigned long>(errno);
    return false;
  }
  return true;
}

}  // namespace qc
