// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/port_rule.h"

#include <algorithm>

#include "common/protocol.h"

namespace qc {

bool IsValidPort(int64_t port) { return port % 2 == 0 && port >= kMinPort && port <= kMaxPort; }

// 64-bit arithmetic throughout: an odd value near 2^32 must not wrap when
// it is raised.
int NearestValidPort(int64_t port) {
  if (port % 2 != 0) ++port;
  return static_cast<int>(std::clamp<int64_t>(port, kMinPort, kMaxPort));
}

int StepPort(int64_t port, bool up) {
  if (port % 2 != 0) ++port;
  port += up ? 2 : -2;
  return static_cast<int>(std::clamp<int64_t>(port, kMinPort, kMaxPort));
}

}  // namespace qc
