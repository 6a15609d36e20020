// SPDX-License-Identifier: GPL-3.0-or-later
// RequestListener: the receiver's ear on the request port (group:P+1).
// Receivers wait a short random back-off before they ask for a repair and
// stay quiet when other receivers asked for all their numbers meanwhile
// (UpdateProcessor); this records what was asked, by anyone, for that
// check. Only repair requests are kept; everything else on the port (the
// two-byte refresh requests, anything foreign) is ignored.
//
// The socket shares P+1 with the sender's listen socket and other
// receivers on the same host (address reuse), joins the group and never
// sends.
//
// Threads: Start and Stop on the owner's thread (GUI); the listener's own
// thread receives; Heard from any thread (the viewer's update thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/udp_socket.h"
#include "receiver/viewer/heard_requests.h"

namespace qc {

class RequestListener {
 public:
  ~RequestListener() { Stop(); }

  // Listens on (port + 1) modulo 65536. False (logged) when the socket
  // cannot be set up; receivers then ask without a back-off.
  bool Start(int port);
  void Stop();
  bool Listening() const { return listening_.load(std::memory_order_acquire); }

  // Whether repair requests of screenId heard at or after sinceMs (a tick
  // count) named all of first..last (HeardRequests::Covers).
  bool Heard(uint16_t screenId, uint32_t first, uint32_t last, uint32_t sinceMs) const;
  uint32_t HeardCount() const { return heardCount_.load(std::memory_order_relaxed); }

 private:
  void Run();

  UdpSocket socket_;
  std::thread thread_;
  std::atomic<bool> listening_{false};
  std::atomic<uint32_t> heardCount_{0};
  mutable std::mutex mutex_;  // guards heard_
  HeardRequests heard_;
};

}  // namespace qc
