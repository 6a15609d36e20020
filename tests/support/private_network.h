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

}  // namespace qc::test
