// SPDX-License-Identifier: GPL-3.0-or-later
// Test networking never leaves the machine: every test binary that opens a
// socket first moves the whole process into a network namespace of its own,
// with only a loopback interface that carries the multicast group.
#pragma once

namespace qc::test {

// Moves the calling process (call it before any thread starts) into a new,
// private network namespace with lo up, multicast on and 224.0.0.0/4 routed
// to lo. Aborts the process when that fails: a test must never fall back to
// the machine's real network.
void EnterPrivateNetworkNamespace();

// Gives lo the global documentation address 192.0.2.7 (host order
// kTestSourceAddress). lo's 127.0.0.1 has host scope, which multicast source
// selection skips, so without it datagrams leave from 0.0.0.0 and a test
// cannot check the source a program names. Any number of calls.
inline constexpr unsigned kTestSourceAddress = 0xC0000207;
void AddTestSourceAddress();

}  // namespace qc::test
