// SPDX-License-Identifier: GPL-3.0-or-later
// qc_burst_loss: drops datagrams the way a busy Wi-Fi cell does, for the
// benchmarks and the crowd test (the kernels here have no netem). It serves
// one NFQUEUE queue of the network namespace it runs in:
//
//   iptables -A INPUT -p udp -d 224.0.0.0/4 -j NFQUEUE --queue-num N
//   qc_burst_loss N [--random P] [--bad-share S] [--burst-ms MS] [--bad-loss L] [--seed X]
//
// Two states in time (Gilbert-Elliott): good, where a datagram is lost with
// probability P (default 0), and bad, where it is lost with probability L
// (default 0.9). Bad periods last MS ms on average (default 20) and take a
// share S of the time (default 0.01); both durations are exponential. On
// SIGTERM or SIGINT it prints "passed N dropped M" to standard output and
// ends (the queue rule then drops whatever arrives: remove it first, or
// end the namespace).
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
// After the C library's network headers, which the kernel's would clash with.
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

struct Model {
  double random = 0.0;
  double badShare = 0.01;
  double burstMs = 20.0;
  double badLoss = 0.9;
  std::mt19937_64 rng{1};
  bool bad = false;
  double switchAtMs = -1;  // when the current state ends
  unsigned long passed = 0, dropped = 0;

  double NowMs() const {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
  }
  double Exp(double mean) { return std::exponential_distribution<double>(1.0 / mean)(rng); }
  double GoodMs() const { return badShare > 0 ? burstMs * (1 - badShare) / badShare : 1e18; }

  bool Drop() {
    const double now = NowMs();
    if (switchAtMs < 0) switchAtMs = now + Exp(GoodMs());
    while (now >= switchAtMs) {
      bad = !bad;
      switchAtMs += Exp(bad ? burstMs : GoodMs());
    }
    const double p = bad ? badLoss : random;
    return std::uniform_real_distribution<double>(0, 1)(rng) < p;
  }
};

int OnPacket(nfq_q_handle* queue, nfgenmsg*, nfq_data* data, void* context) {
  auto* model = static_cast<Model*>(context);
  const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(data);
  if (header == nullptr) return 0;
  const bool drop = model->Drop();
  ++(drop ? model->dropped : model->passed);
  return nfq_set_verdict(queue, ntohl(header->packet_id), drop ? NF_DROP : NF_ACCEPT, 0,
                         nullptr);
}

bool Number(const char* text, double& out) {
  char* end = nullptr;
  out = std::strtod(text, &end);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  Model model;
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s QUEUE [--random P] [--bad-share S] [--burst-ms MS] [--bad-loss L] "
                 "[--seed X]\n",
                 argv[0]);
    return 2;
  }
  const int queueNumber = std::atoi(argv[1]);
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    double v = 0;
    if (!Number(argv[i + 1], v)) {
      std::fprintf(stderr, "%s: not a number: %s\n", argv[0], argv[i + 1]);
      return 2;
    }
    if (name == "--random") model.random = v;
    else if (name == "--bad-share") model.badShare = v;
    else if (name == "--burst-ms") model.burstMs = v;
    else if (name == "--bad-loss") model.badLoss = v;
    else if (name == "--seed") model.rng.seed(static_cast<uint64_t>(v));
    else {
      std::fprintf(stderr, "%s: unknown option %s\n", argv[0], name.c_str());
      return 2;
    }
  }
  if (model.burstMs <= 0 || model.badShare < 0 || model.badShare >= 1) {
    std::fprintf(stderr, "%s: --burst-ms must be > 0 and --bad-share in [0, 1)\n", argv[0]);
    return 2;
  }

  nfq_handle* handle = nfq_open();
  if (handle == nullptr) {
    std::perror("nfq_open");
    return 1;
  }
  nfq_q_handle* queue = nfq_create_queue(handle, static_cast<uint16_t>(queueNumber), &OnPacket,
                                         &model);
  if (queue == nullptr || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
    std::perror("nfq_create_queue");
    nfq_close(handle);
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;  // no SA_RESTART: recv returns on a signal
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::printf("ready\n");
  std::fflush(stdout);

  const int fd = nfq_fd(handle);
  alignas(8) char buffer[65536];
  while (!g_stop) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n < 0) {
      if (errno == ENOBUFS) continue;  // the kernel dropped some verdict requests
      if (errno == EINTR) continue;
      std::perror("recv");
      break;
    }
    nfq_handle_packet(handle, buffer, static_cast<int>(n));
  }
  std::printf("passed %lu dropped %lu\n", model.passed, model.dropped);
  nfq_destroy_queue(queue);
  nfq_close(handle);
  return 0;
}
