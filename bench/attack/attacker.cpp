// SPDX-License-Identifier: GPL-3.0-or-later
// qc_attacker: plays an ordinary host on the LAN that tries to disturb a
// transmission, for bench/attack.sh. It runs inside the bench's network
// namespaces only.
//
//   qc_attacker record PORT SECONDS FILE      keep what the group carries on PORT
//   qc_attacker replay PORT SECONDS FILE      send it again, in a loop, ~200/s
//   qc_attacker forge PORT SECONDS            disconnection, init, updates and
//                                             keep-alives under the live identifier
//   qc_attacker repair PORT RATE SECONDS      repair requests for the latest 256 numbers
//   qc_attacker wrongid PORT RATE SECONDS     repair requests naming another screen
//   qc_attacker refresh PORT RATE SECONDS     2-byte refresh requests
//   qc_attacker junk PORT RATE SECONDS        random bytes to PORT and PORT + 1
//
// It learns the live identifier and the latest sequence number by listening
// to the group on PORT. Prints what it sent.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "common/protocol.h"
#include "platform/udp_socket.h"
#include "sender/capture/str_encoder.h"

using Clock = std::chrono::steady_clock;

namespace qc {
// The encoder's statistics line goes nowhere: logging stays off.
LogFile& Log() {
  static LogFile log("qc_attacker.log", LogFile::ExitPolicy::DeleteWhenDisabled);
  return log;
}
}  // namespace qc

namespace {

using Bytes = std::vector<uint8_t>;

struct Listener {
  qc::UdpSocket socket;
  uint16_t liveId = 0;
  uint32_t latest = 0;
  bool heard = false;
  // Numbers heard in the last 3 s (the sender knows them all): when each
  // was heard.
  std::deque<std::pair<Clock::time_point, uint32_t>> recent;
  uint32_t Oldest() {
    const auto limit = Clock::now() - std::chrono::seconds(3);
    while (!recent.empty() && recent.front().first < limit) recent.pop_front();
    return recent.empty() ? latest : recent.front().second;
  }
  explicit Listener(uint16_t port) {
    socket.Create();
    socket.SetReuseAddress(true);
    socket.SetReceiveBuffer(1 << 20);
    socket.Bind(port);
    socket.JoinGroup(qc::kGroupAddressHostOrder);
  }
  // Reads what has arrived (for up to waitMs), noting identifier and numbers.
  void Poll(int waitMs, std::vector<Bytes>* keep = nullptr) {
    static uint8_t buf[70000];
    for (;;) {
      const long n = socket.ReceiveFor(buf, sizeof buf, waitMs);
      if (n <= 0) return;
      waitMs = 0;
      const size_t len = static_cast<size_t>(n);
      if (keep != nullptr) keep->emplace_back(buf, buf + len);
      qc::CompressedHeader h;
      if (qc::ParseCompressedHeader(buf, len, h)) {
        if (h.sequence < latest) recent.clear();  // a new stream
        liveId = h.screenId;
        latest = h.sequence;
        recent.emplace_back(Clock::now(), h.sequence);
        heard = true;
      } else if (auto t = qc::PeekType(buf, len); t && *t == 0xFFF7) {
        liveId = qc::ReadU16(buf + 2);
        heard = true;
      }
    }
  }
};

Bytes Deflated(uint16_t type, uint16_t id, uint32_t seq, const Bytes& payload) {
  Bytes out(8 + payload.size() + 1024);
  qc::BuildCompressedHeader({type, id, seq}, out.data());
  z_stream s{};
  deflateInit(&s, 6);
  s.next_in = const_cast<uint8_t*>(payload.data());
  s.avail_in = static_cast<uInt>(payload.size());
  s.next_out = out.data() + 8;
  s.avail_out = static_cast<uInt>(out.size() - 8);
  deflate(&s, Z_FULL_FLUSH);
  out.resize(out.size() - s.avail_out);
  deflateEnd(&s);
  return out;
}

// The strip encoding of rows 0..rows-1 of a w-pixel 32-bit screen in one
// colour, as a sender would send them.
Bytes PaintRows(int w, int rows, uint32_t colour) {
  struct Sink : qc::PayloadSink {
    qc::SendResult SendPayload(const uint8_t* p, size_t n, qc::PacketType) override {
      out.insert(out.end(), p, p + n);
      return qc::SendResult::Sent;
    }
    uint32_t TotalBytesSent() const override { return 0; }
    Bytes out;
  } sink;
  Bytes frame(static_cast<size_t>(w) * rows * 4);
  for (size_t i = 0; i < frame.size(); i += 4) qc::WriteU32(frame.data() + i, colour);
  Bytes reference(frame.size(), 0x01);
  qc::StrEncoder encoder;
  encoder.Init(w, 4, frame.data(), reference.data(), &sink);
  encoder.EncodeRows(0, rows, qc::PacketType::FullUpdate);
  return sink.out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: qc_attacker MODE PORT ... (see the source)\n");
    return 2;
  }
  const std::string mode = argv[1];
  const uint16_t port = static_cast<uint16_t>(atoi(argv[2]));
  qc::UdpSocket out;
  out.Create();
  out.SetMulticastTtl(qc::kSendingTtl);
  out.Bind(0);
  qc::SocketAddress data, requests;
  qc::SocketAddress::FromDotted(qc::kGroupAddress, port, data);
  qc::SocketAddress::FromDotted(qc::kGroupAddress, static_cast<uint16_t>(port + 1), requests);
  Listener listen(port);
  uint64_t sent = 0, bytes = 0;
  auto send = [&](const qc::SocketAddress& to, const Bytes& d) {
    if (out.SendTo(d.data(), d.size(), to)) {
      ++sent;
      bytes += d.size();
    }
  };

  if (mode == "record" || mode == "replay") {
    const double seconds = atof(argv[3]);
    const std::string file = argc > 4 ? argv[4] : "recorded.bin";
    std::vector<Bytes> kept;
    if (mode == "record") {
      const auto end = Clock::now() + std::chrono::duration<double>(seconds);
      while (Clock::now() < end) listen.Poll(50, &kept);
      std::ofstream f(file, std::ios::binary);
      for (const Bytes& d : kept) {
        uint8_t n[4];
        qc::WriteU32(n, static_cast<uint32_t>(d.size()));
        f.write(reinterpret_cast<const char*>(n), 4);
        f.write(reinterpret_cast<const char*>(d.data()), static_cast<std::streamsize>(d.size()));
      }
      printf("recorded %zu datagrams\n", kept.size());
      return 0;
    }
    std::ifstream f(file, std::ios::binary);
    uint8_t n[4];
    while (f.read(reinterpret_cast<char*>(n), 4)) {
      Bytes d(qc::ReadU32(n));
      f.read(reinterpret_cast<char*>(d.data()), static_cast<std::streamsize>(d.size()));
      kept.push_back(std::move(d));
    }
    if (kept.empty()) return 1;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (size_t i = 0; Clock::now() < end; ++i) {
      send(data, kept[i % kept.size()]);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  } else if (mode == "forge") {
    const double seconds = atof(argv[3]);
    listen.Poll(1500);
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    uint32_t seq = 0;
    while (Clock::now() < end) {
      listen.Poll(0);
      const uint16_t id = listen.liveId;
      Bytes d(qc::kDisconnectionSize), init(qc::kInitSize), ka(qc::kKeepAliveSize);
      qc::BuildDisconnection(id, d.data());
      qc::BuildInit({id, 1280, 800, 32, 0, 0xFF0000, 0xFF00, 0xFF}, init.data());
      qc::BuildKeepAlive(id, ka.data());
      send(data, d);
      send(data, init);
      send(data, Deflated(0xFFFD, id, 0, PaintRows(1280, 8, 0x00FF0000)));
      send(data, Deflated(0xFFFC, id, listen.latest + 1, PaintRows(1280, 8, 0x0000FF00)));
      send(data, Deflated(0xFFFC, id, seq++, PaintRows(1280, 4, 0x000000FF)));
      send(data, ka);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } else {
    if (argc < 5) return 2;
    const double rate = atof(argv[3]);
    const double seconds = atof(argv[4]);
    std::mt19937 random(12345);
    const auto step = std::chrono::duration<double>(1.0 / rate);
    auto next = Clock::now();
    const auto end = next + std::chrono::duration<double>(seconds);
    listen.Poll(1000);
    while (Clock::now() < end) {
      listen.Poll(0);
      if (mode == "refresh") {
        send(requests, Bytes{0xF8, 0xFF});
      } else if (mode == "repair" || mode == "wrongid") {
        // The latest numbers, at most 256 and none the sender has forgotten.
        const uint32_t last = listen.latest;
        const uint32_t first = std::max(last > 255 ? last - 255 : 0, listen.Oldest());
        Bytes r(qc::kRepairRequestSize);
        qc::BuildRepairRequest({static_cast<uint16_t>(mode == "repair" ? listen.liveId
                                                                        : listen.liveId ^ 0x5A5A),
                                first, last},
                               r.data());
        send(requests, r);
      } else if (mode == "junk") {
        Bytes j(1 + random() % 1400);
        for (auto& b : j) b = static_cast<uint8_t>(random());
        send(random() % 2 ? data : requests, j);
      } else {
        return 2;
      }
      next += std::chrono::duration_cast<Clock::duration>(step);
      std::this_thread::sleep_until(next);
    }
  }
  printf("%s: sent %llu datagrams, %llu bytes\n", mode.c_str(),
         static_cast<unsigned long long>(sent), static_cast<unsigned long long>(bytes));
  return 0;
}
