// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/request_listener.h"

#include "common/log_file.h"
#include "common/protocol.h"
#include "platform/tick_clock.h"

namespace qc {

bool RequestListener::Start(int port) {
  Stop();
  if (!socket_.Create()) {
    Log().Print("qvTray: Unable to create request listen socket\n");
    return false;
  }
  const uint16_t requestPort = static_cast<uint16_t>((static_cast<int64_t>(port) + 1) & 0xFFFF);
  // Reuse: the sender and other receivers on this host listen there too.
  socket_.SetReuseAddress(true);
  if (!socket_.SetReceiveBuffer(kReceiverDataReceiveBuffer / 4) || !socket_.Bind(requestPort) ||
      !socket_.JoinGroup(kGroupAddressHostOrder) || !socket_.SetMulticastTtl(kReceivingTtl)) {
    Log().Print("qvTray: Unable to listen for other receivers' requests (error %d)\n",
                socket_.LastError());
    socket_.Close();
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    heard_.Clear();
  }
  listening_.store(true, std::memory_order_release);
  thread_ = std::thread(&RequestListener::Run, this);
  return true;
}

void RequestListener::Stop() {
  listening_.store(false, std::memory_order_release);
  socket_.Close();  // wakes the receive
  if (thread_.joinable()) thread_.join();
}

void RequestListener::Run() {
  uint8_t buffer[64];
  while (listening_.load(std::memory_order_acquire)) {
    const long n = socket_.Receive(buffer, sizeof buffer);
    if (n < 0) {
      if (!socket_.IsOpen()) break;
      continue;  // an over-long datagram: nothing of ours
    }
    RepairRequest r;
    if (!ParseRepairRequest(buffer, static_cast<size_t>(n), r)) continue;
    heardCount_.fetch_add(1, std::memory_order_relaxed);
    const uint32_t now = TickCount();
    std::lock_guard<std::mutex> lock(mutex_);
    heard_.Record(r.screenId, r.first, r.last, now);
  }
}

bool RequestListener::Heard(uint16_t screenId, uint32_t first, uint32_t last,
                            uint32_t sinceMs) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return heard_.Covers(screenId, first, last, sinceMs);
}

}  // namespace qc
