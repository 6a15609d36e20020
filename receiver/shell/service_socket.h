// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's service socket: it sends the update requests (two bytes)
// and the repair requests to group:P+1. Opened by the tray at start-up and again at every viewer
// restart (GUI thread); Send may be called from the GUI thread and the
// viewer's update thread at once.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/udp_socket.h"

namespace qc {

class ServiceSocket {
 public:
  // Closes any previous socket and opens a new one whose datagrams go to
  // 234.0.0.1:(port + 1) modulo 65536. Logs the failing step and returns
  // false on failure.
  bool Open(int port);
  // Sends one update request; the result is not examined.
  void SendUpdateRequest();
  // Sends one repair request for first..last of screenId.
  void SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last);
  void Close();

 private:
  std::mutex mutex_;  // guards the socket against a reopen during a send
  UdpSocket socket_;
  SocketAddress destination_;
};

}  // namespace qc
