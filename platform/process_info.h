// SPDX-License-Identifier: GPL-3.0-or-later
// What the programs ask of the system about themselves: the host's address,
// the process id, a higher priority for a time-critical thread.
#pragma once

#include <cstdint>

namespace qc {

// First IPv4 address of the local host name, its four bytes read in stored
// (network) order as a little-endian number; 0 when it cannot be looked up.
uint32_t LocalHostAddress();

uint32_t CurrentProcessId();

// Raises the calling thread's scheduling priority, best effort. False, with
// the system's error number in error, when the system refuses.
bool RaiseCurrentThreadPriority(unsigned long& error);

}  // namespace qc
