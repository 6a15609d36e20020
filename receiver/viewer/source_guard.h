// SPDX-License-Identifier: GPL-3.0-or-later
// SourceGuard: ties a transmission to the address and port its init message
// came from. The screen identifier is on every datagram for anyone to copy;
// the source of the sender's socket is not, on a LAN whose switches keep
// addresses apart. Datagrams from any other source are dropped and
// counted, so a forged disconnection or forged updates under the live
// identifier have no effect; a new source is followed only once the
// viewer has restarted (the transmission ended, or fell silent).
//
// Threads: the read thread calls Reset, Fix and Accept; Dropped and Source
// may be read from any thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/udp_socket.h"

namespace qc {

class SourceGuard {
 public:
  // A new cycle: no source yet, nothing dropped.
  void Reset();
  // The transmission's init message came from `from`.
  void Fix(const SocketAddress& from);
  // Whether a datagram from `from` belongs to the transmission; one that
  // does not is counted, and logged when its source differs from the last
  // one logged (at most once a second).
  bool Accept(const SocketAddress& from, uint32_t nowMs);

  uint32_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
  // The source as "a.b.c.d:port"-ready parts; both 0 before Fix.
  uint32_t Address() const { return address_.load(std::memory_order_relaxed); }
  uint16_t Port() const { return port_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint32_t> address_{0};
  std::atomic<uint16_t> port_{0};
  std::atomic<uint32_t> dropped_{0};
  SocketAddress logged_;
  bool haveLogged_ = false;
  uint32_t loggedMs_ = 0;
};

}  // namespace qc
