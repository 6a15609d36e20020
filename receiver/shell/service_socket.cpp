// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/service_socket.h"

#include <cstdint>

#include "common/log_file.h"
#include "common/protocol.h"

namespace qc {

bool ServiceSocket::Open(int port) {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_.Close();
  if (!socket_.Create()) {
    Log().Print("qvTray: Unable to create service socket\n");
    return false;
  }
  socket_.DropGroup(kGroupAddressHostOrder);  // result ignored
  if (!socket_.SetSendBuffer(kServiceSendBuffer)) {
    socket_.Close();
    Log().Print("qvTray: Unable to set service socket buffer size\n");
    return false;
  }
  if (!socket_.Bind(0)) {
    socket_.Close();
    Log().Print("qvTray: Unable to bind service socket\n");
    return false;
  }
  if (!socket_.SetMulticastTtl(kSendingTtl)) {
    socket_.Close();
    Log().Print("qvTray: Unable to set service socket TTL\n");
    return false;
  }
  destination_.address = kGroupAddressHostOrder;
  destination_.port = static_cast<uint16_t>((static_cast<int64_t>(port) + 1) & 0xFFFF);
  return true;
}

void ServiceSocket::SendUpdateRequest() {
  uint8_t datagram[kUpdateRequestSize];
  BuildUpdateRequest(datagram);
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_.IsOpen()) socket_.SendTo(datagram, sizeof datagram, destination_);
}

void ServiceSocket::SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last) {
  uint8_t datagram[kRepairRequestSize];
  BuildRepairRequest({screenId, first, last}, datagram);
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_.IsOpen()) socket_.SendTo(datagram, sizeof datagram, destination_);
}

void ServiceSocket::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_.Close();
}

}  // namespace qc
