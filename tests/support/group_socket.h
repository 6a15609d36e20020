// SPDX-License-Identifier: GPL-3.0-or-later
// A test's end of the multicast group: joins 234.0.0.1 on a port to hear
// what a sender or receiver multicasts there, and sends datagrams to the
// group (or to any port of it) as another host would. Only inside the test's
// private network namespace.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/protocol.h"
#include "platform/udp_socket.h"

namespace qc::test {

class GroupSocket {
 public:
  // port 0: a sending-only socket (ephemeral port, no membership).
  explicit GroupSocket(uint16_t port = 0) {
    ok_ = socket_.Create() && socket_.SetReuseAddress(true) && socket_.SetReceiveBuffer(1 << 21) &&
          socket_.SetMulticastTtl(kSendingTtl) && socket_.Bind(port) &&
          (port == 0 || socket_.JoinGroup(kGroupAddressHostOrder));
  }

  bool Ok() const { return ok_; }

  // The next datagram within timeoutMs, or nothing.
  std::optional<std::vector<uint8_t>> Next(int timeoutMs = 2000) {
    std::vector<uint8_t> buf(70000);
    const long n = socket_.ReceiveFor(buf.data(), buf.size(), timeoutMs);
    if (n < 0) return std::nullopt;
    buf.resize(static_cast<size_t>(n));
    return buf;
  }

  // Every datagram that arrives until none has come for quietMs.
  std::vector<std::vector<uint8_t>> Drain(int quietMs = 200) {
    std::vector<std::vector<uint8_t>> all;
    while (auto d = Next(quietMs)) all.push_back(std::move(*d));
    return all;
  }

  bool Send(uint16_t port, const std::vector<uint8_t>& datagram) {
    SocketAddress to;
    return SocketAddress::FromDotted(kGroupAddress, port, to) &&
           socket_.SendTo(datagram.data(), datagram.size(), to);
  }

  UdpSocket& Raw() { return socket_; }

 private:
  UdpSocket socket_;
  bool ok_ = false;
};

}  // namespace qc::test
