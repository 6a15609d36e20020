// SPDX-License-Identifier: GPL-3.0-or-later
// How fast one receiver takes in full-size update datagrams over a veth
// link without losing any: a sender namespace blasts pre-built 32-bit Raw
// color updates (about 58 KB each, 40 fragments at MTU 1500) at a given
// rate; the receiver (qvViewer, headless) stores, inflates and decodes them.
// Reported: offered and achieved datagrams/s and MB/s, and what was lost.
//
// Runs as root: the process enters a private network namespace and builds
// its own sender namespace and veth pair; nothing leaves the machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "platform/udp_socket.h"
#include "receiver/viewer/viewer.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

constexpr uint16_t kPort = 47200;
constexpr uint16_t kId = 0x5151;
constexpr int kW = 1920, kH = 1080;
constexpr int kRowsPerDatagram = 15;
constexpr int kCount = 4000;

std::string g_senderNs;

bool Run(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()) == 0; }

bool MakeLink() {
  g_senderNs = "qvb" + std::to_string(getpid()) + "s";
  return Run("ip netns add " + g_senderNs) &&
         Run("ip link add qvbr type veth peer name qvbs") &&
         Run("ip link set qvbs netns " + g_senderNs) && Run("ip link set qvbr up") &&
         Run("ip addr add 10.78.0.2/24 dev qvbr") && Run("ip route replace 224.0.0.0/4 dev qvbr") &&
         Run("ip -n " + g_senderNs + " link set lo up") &&
         Run("ip -n " + g_senderNs + " link set qvbs up") &&
         Run("ip -n " + g_senderNs + " addr add 10.78.0.1/24 dev qvbs") &&
         Run("ip -n " + g_senderNs + " route add 224.0.0.0/4 dev qvbs");
}

// Full-size update datagrams: 15 rows of Raw color substrings with random
// colour words each, which deflate cannot shrink.
std::vector<std::vector<uint8_t>> MakeDatagrams() {
  std::mt19937 rng(1);
  std::vector<std::vector<uint8_t>> out;
  int P = kW / 8;
  for (int first = 0; first + kRowsPerDatagram <= kH && out.size() < 64; first += kRowsPerDatagram) {
    std::vector<uint8_t> payload;
    for (int y = first; y < first + kRowsPerDatagram; ++y) {
      payload.push_back(0xFF);
      payload.push_back(static_cast<uint8_t>(y));
      payload.push_back(static_cast<uint8_t>(y >> 8));
      for (int k = 0; k < 8; ++k) {
        payload.push_back(0x21);
        for (int j = 0; j < P; ++j) {
          uint16_t w = static_cast<uint16_t>(rng()) & 0xFFDF;  // bit 5 is 0
          payload.push_back(static_cast<uint8_t>(w));
          payload.push_back(static_cast<uint8_t>(w >> 8));
        }
      }
    }
    std::vector<uint8_t> d(8 + kMaxPayload + 1024);
    BuildCompressedHeader(CompressedHeader{0xFFFC, kId, 0}, d.data());
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
    s.next_in = payload.data();
    s.avail_in = static_cast<uInt>(payload.size());
    s.next_out = d.data() + 8;
    s.avail_out = static_cast<uInt>(d.size() - 8);
    deflate(&s, Z_FULL_FLUSH);
    d.resize(d.size() - s.avail_out);
    deflateEnd(&s);
    if (d.size() <= kMaxDatagram) out.push_back(std::move(d));
  }
  return out;
}

class Quiet : public ViewerOwner {
 public:
  void UpdateTrayIcon(TrayState) override {}
  void SendUpdateRequest() override {}
  void RestartViewer() override {}
  void FatalStop(bool) override {}
};

void BM_IntakeOverVeth(benchmark::State& state) {
  static const std::vector<std::vector<uint8_t>> datagrams = MakeDatagrams();
  const double rate = static_cast<double>(state.range(0));  // datagrams/s, 0 = unpaced

  // The sending socket lives in the sender namespace.
  UdpSocket tx;
  int self = open("/proc/thread-self/ns/net", O_RDONLY);
  int target = open(("/run/netns/" + g_senderNs).c_str(), O_RDONLY);
  if (self < 0 || target < 0 || setns(target, CLONE_NEWNET) != 0) {
    state.SkipWithError("cannot enter the sender namespace");
    return;
  }
  bool ok = tx.Create() && tx.SetSendBuffer(4 << 20) && tx.Bind(0) && tx.SetMulticastTtl(64);
  if (setns(self, CLONE_NEWNET) != 0) std::abort();
  close(self);
  close(target);
  SocketAddress group;
  SocketAddress::FromDotted(kGroupAddress, kPort, group);
  if (!ok) {
    state.SkipWithError("cannot open the sending socket");
    return;
  }

  for (auto _ : state) {
    Quiet owner;
    NullSurface surface;
    qvViewer viewer;
    if (!viewer.Init(&owner, &surface, kPort)) {
      state.SkipWithError("viewer Init failed");
      return;
    }
    uint8_t init[kInitSize];
    BuildInit(InitMessage{kId, kW, kH, 32, 0, 0xFF0000, 0xFF00, 0xFF}, init);
    while (viewer.FramebufferInfo().pixels == nullptr) {
      tx.SendTo(init, sizeof init, group);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    uint32_t base = viewer.Stats().processed;
    std::vector<uint8_t> d;
    size_t bytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCount; ++i) {
      if (rate > 0) {
        auto due = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(i / rate));
        // Sleep most of the gap, spin the rest: the sender leaves the CPU to
        // the receiver on this 2-core machine.
        auto now = std::chrono::steady_clock::now();
        if (due - now > std::chrono::microseconds(300)) {
          std::this_thread::sleep_until(due - std::chrono::microseconds(150));
        }
        while (std::chrono::steady_clock::now() < due) {
        }
      }
      const auto& src = datagrams[i % datagrams.size()];
      d.assign(src.begin(), src.end());
      WriteU32(d.data() + 4, static_cast<uint32_t>(i));
      tx.SendTo(d.data(), d.size(), group);
      bytes += d.size();
    }
    auto sent = std::chrono::steady_clock::now();
    // Wait until the receiver has handled all, or nothing moves any more.
    uint32_t last = 0;
    auto still = std::chrono::steady_clock::now();
    auto done = sent;
    for (;;) {
      uint32_t now = viewer.Stats().processed - base;
      if (now != last) {
        last = now;
        still = done = std::chrono::steady_clock::now();
      }
      if (now >= kCount) break;
      if (std::chrono::steady_clock::now() - still > std::chrono::milliseconds(500)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ViewerStats s = viewer.Stats();
    viewer.Stop();
    double seconds = std::chrono::duration<double>(done - start).count();
    double sendSeconds = std::chrono::duration<double>(sent - start).count();
    state.SetIterationTime(seconds);
    uint32_t received = s.processed - base;
    state.counters["offered_dgram/s"] = kCount / sendSeconds;
    state.counters["offered_MB/s"] = bytes / 1e6 / sendSeconds;
    state.counters["taken_dgram/s"] = received / seconds;
    state.counters["taken_MB/s"] = received * (bytes / double(kCount)) / 1e6 / seconds;
    state.counters["missing"] = kCount - static_cast<double>(received);
    state.counters["ring_full"] = s.ringFull;
    state.counters["gaps"] = s.lost;
  }
}
// Offered rates in datagrams per second; 1 Gbit/s is about 2150 of these.
BENCHMARK(BM_IntakeOverVeth)
    ->Arg(500)->Arg(1000)->Arg(1500)->Arg(2200)->Arg(4000)->Arg(0)
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  qc::test::EnterPrivateNetworkNamespace();
  if (!qc::MakeLink()) {
    fprintf(stderr, "cannot build the veth link\n");
    qc::Run("ip netns del " + qc::g_senderNs);
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  qc::Run("ip netns del " + qc::g_senderNs);
  return 0;
}
