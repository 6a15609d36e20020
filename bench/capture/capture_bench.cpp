// SPDX-License-Identifier: GPL-3.0-or-later
// Cost of the capture engine on a private Xvfb at 1920x1080x24 with the
// default update period (10 ms: a tick of 2 ms), pacing itself as in the
// program, sending through the real transport inside a private network
// namespace.
//
//   engine_cpu_pct  CPU time of the engine (work thread and transport) per
//                   second of wall time, in percent of one core; the thread
//                   that plays the program's keep-alive timer is not counted
//   xvfb_cpu_pct    the X server's CPU time in the same second (the copies
//                   of MIT-SHM grabs are made there)
//
// Scenarios: an idle screen with and without damage tracking, a terminal
// that scrolls text continuously, and the time of one quarter grab.
//
// BM_FullScreenUpdate/content/level/batch: the strip encoding and the
// transport of one full-screen update of a generated 1920x1080 screen
// (0 text, 1 desktop, 2 photo), quarter by quarter as the engine sends it,
// at a deflate level, serially (batch 0) or deflated on all cores (1).
// Wall time per update; counters: sent kB and CPU ms per update.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "bench/codec/bench_frames.h"
#include "common/protocol.h"
#include "sender/capture/capture.h"
#include "sender/capture/sender.h"
#include "sender/capture/str_encoder.h"
#include "sender/capture/video_region_detector.h"
#include "sender/capture/x11/x11_cursor_source.h"
#include "sender/capture/x11/x11_screen_source.h"
#include "tests/support/xvfb_server.h"
#include "tests/support/fake_sources.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

constexpr int kUpdatePeriodMs = 10;

struct NoOwner : SenderOwner {
  void FatalError() override {}
};

double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// utime + stime of another process, in seconds.
double OtherProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  long utime = 0, stime = 0;
  fields >> utime >> stime;
  return double(utime + stime) / sysconf(_SC_CLK_TCK);
}

// The shared server of all scenarios, and a terminal when one is wanted.
class Desktop {
 public:
  static Desktop& Get() {
    static Desktop desktop;
    return desktop;
  }
  test::XvfbServer& Server() { return server_; }

  // columns x rows, e.g. "80x24".
  void StartScrollingTerminal(const std::string& size) {
    if (terminal_ > 0 && size == terminalSize_) return;
    StopTerminal();
    terminalSize_ = size;
    terminal_ = fork();
    if (terminal_ == 0) {
      setenv("DISPLAY", server_.Display().c_str(), 1);
      freopen("/dev/null", "w", stderr);
      std::string geometry = size + "+0+0";
      execlp("xterm", "xterm", "-geometry", geometry.c_str(), "-e", "sh", "-c",
             "while :; do ls -l /usr/bin; done", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
  }
  void StopTerminal() {
    if (terminal_ <= 0) return;
    kill(terminal_, SIGTERM);
    int status = 0;
    waitpid(terminal_, &status, 0);
    terminal_ = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  ~Desktop() { StopTerminal(); }

 private:
  Desktop() : server_("1920x1080x24") {}
  test::XvfbServer server_;
  pid_t terminal_ = -1;
  std::string terminalSize_;
};

double ServerCpu(Desktop& desktop) { return OtherProcessCpuSeconds(desktop.Server().Pid()); }

// Runs the engine with the program's keep-alive timer for the benchmark's
// iterations (one second each) and reports CPU per second.
void RunEngine(benchmark::State& state, bool damage, const char* terminal) {
  Desktop& desktop = Desktop::Get();
  if (!desktop.Server().Ready()) {
    state.SkipWithError("Xvfb did not start");
    return;
  }
  if (terminal != nullptr) {
    desktop.StartScrollingTerminal(terminal);
  } else {
    desktop.StopTerminal();
  }
  X11ScreenSource::Options options;
  options.display = desktop.Server().Display();
  options.useDamage = damage;
  NoOwner senderOwner;
  qcSender sender;
  if (!sender.Open(&senderOwner, kGroupAddress, kDefaultPort)) {
    state.SkipWithError("transport did not open");
    return;
  }
  test::FakeCaptureOwner owner(&sender);
  owner.updatePeriod = kUpdatePeriodMs;
  qcCapture capture(std::make_unique<X11ScreenSource>(options),
                    X11CursorSource::Create(options.display));
  if (!capture.Init(&owner)) {
    state.SkipWithError("engine did not start");
    return;
  }
  capture.SetPolling(true);

  // The program's keep-alive timer.
  std::atomic<bool> stop{false};
  std::atomic<double> timerCpu{0};
  std::thread timers([&] {
    auto next = std::chrono::steady_clock::now();
    while (!stop) {
      next += std::chrono::milliseconds(kKeepAliveIntervalMs);
      while (!stop && std::chrono::steady_clock::now() < next) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      capture.OnKeepAliveTimer();
      timerCpu = ThreadCpuSeconds();
    }
  });
  // Let the first full-screen update pass.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  double engine = 0, server = 0, wall = 0;
  uint64_t steps = 0;
  for (auto _ : state) {
    double cpu0 = ProcessCpuSeconds() - timerCpu.load();
    double s0 = ServerCpu(desktop);
    uint64_t steps0 = capture.StepsDone();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto t1 = std::chrono::steady_clock::now();
    engine += ProcessCpuSeconds() - timerCpu.load() - cpu0;
    server += ServerCpu(desktop) - s0;
    steps += capture.StepsDone() - steps0;
    wall += std::chrono::duration<double>(t1 - t0).count();
  }
  stop = true;
  timers.join();
  state.counters["engine_cpu_pct"] = 100.0 * engine / wall;
  state.counters["xvfb_cpu_pct"] = 100.0 * server / wall;
  state.counters["steps_per_s"] = steps / wall;
  state.counters["sent_kB_per_s"] = sender.TotalBytesSent() / 1024.0 / (wall + 0.5);
  capture.SetPolling(false);
  capture.SendDisconnection();
}

void BM_IdleWithDamage(benchmark::State& state) { RunEngine(state, true, nullptr); }
void BM_IdleWithoutDamage(benchmark::State& state) { RunEngine(state, false, nullptr); }
// An 80x24 terminal in the top left corner (two quarters drawn in).
void BM_Terminal80x24WithDamage(benchmark::State& state) { RunEngine(state, true, "80x24"); }
void BM_Terminal80x24WithoutDamage(benchmark::State& state) { RunEngine(state, false, "80x24"); }
// A terminal over most of the screen (all four quarters drawn in).
void BM_Terminal200x70WithDamage(benchmark::State& state) { RunEngine(state, true, "200x70"); }
void BM_Terminal200x70WithoutDamage(benchmark::State& state) { RunEngine(state, false, "200x70"); }

// One quarter (270 rows of 1920 pixels) grabbed into the capture frame.
void BM_QuarterGrab(benchmark::State& state) {
  Desktop& desktop = Desktop::Get();
  desktop.StopTerminal();
  X11ScreenSource::Options options;
  options.display = desktop.Server().Display();
  options.useShm = state.range(0) != 0;
  X11ScreenSource source(options);
  ScreenFormat format;
  if (!source.Open(format) || source.CreateFrame() == nullptr) {
    state.SkipWithError("no screen");
    return;
  }
  int q = 1;
  for (auto _ : state) {
    int top = qcCapture::QuarterBound(format.height, q);
    int bottom = qcCapture::QuarterBound(format.height, q + 1);
    benchmark::DoNotOptimize(source.GrabRows(top, bottom));
    q = q % 3 + 1;
  }
  state.SetBytesProcessed(state.iterations() * int64_t(format.width) * (format.height / 4) * 4);
  state.SetLabel(options.useShm ? "MIT-SHM" : "xcb_get_image");
}

// What video detection adds to every grab (VideoMode auto): the detector
// watching one quarter (1920 x 270) of a text screen that changes (two
// frames in turn), per quarter grabbed.
void BM_VideoDetectorQuarter(benchmark::State& state) {
  constexpr int kWidth = 1920, kHeight = 1080, kQuarter = kHeight / 4;
  const std::vector<uint8_t> frames[2] = {bench::MakeFrame(bench::Content::Text, kWidth, kHeight, 4),
                                          bench::MakeFrame(bench::Content::Desktop, kWidth, kHeight, 4)};
  VideoRegionDetector detector;
  detector.Reset(kWidth, kHeight, 4, static_cast<size_t>(kWidth) * 4);
  int64_t now = 0;
  int turn = 0;
  for (auto _ : state) {
    const int q = turn % 4;
    detector.Observe(now, frames[(turn / 4) % 2].data(), q * kQuarter, (q + 1) * kQuarter);
    now += 3;
    ++turn;
  }
  benchmark::DoNotOptimize(detector.Region());
}

void BM_FullScreenUpdate(benchmark::State& state) {
  const auto content = static_cast<bench::Content>(state.range(0));
  const int level = static_cast<int>(state.range(1));
  const bool batch = state.range(2) != 0;
  constexpr int kWidth = 1920, kHeight = 1080;
  std::vector<uint8_t> frame = bench::MakeFrame(content, kWidth, kHeight, 4);
  std::vector<uint8_t> reference(frame.size());
  NoOwner senderOwner;
  qcSender sender;
  if (!sender.Open(&senderOwner, kGroupAddress, kDefaultPort)) {
    state.SkipWithError("transport did not open");
    return;
  }
  sender.SetLevel(level);
  StrEncoder encoder;
  encoder.Init(kWidth, 4, frame.data(), reference.data(), &sender);
  double cpu = 0;
  for (auto _ : state) {
    double cpu0 = ProcessCpuSeconds();
    std::fill(reference.begin(), reference.end(), 0x01);
    for (int q = 0; q < 4; ++q) {
      if (batch) sender.BeginBatch();
      encoder.EncodeRows(qcCapture::QuarterBound(kHeight, q),
                         qcCapture::QuarterBound(kHeight, q + 1), PacketType::FullUpdate);
      if (batch) sender.EndBatch();
    }
    cpu += ProcessCpuSeconds() - cpu0;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["sent_kB"] = sender.TotalBytesSent() / 1024.0 / n;
  state.counters["cpu_ms"] = 1000.0 * cpu / n;
  state.SetLabel(bench::ContentName(content));
}

BENCHMARK(BM_IdleWithDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_IdleWithoutDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Terminal80x24WithDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Terminal80x24WithoutDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Terminal200x70WithDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Terminal200x70WithoutDamage)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_QuarterGrab)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_VideoDetectorQuarter)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullScreenUpdate)
    ->ArgsProduct({{0, 1, 2}, {9, 6, 1}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  // The engine multicasts: never from the machine's own network.
  qc::test::EnterPrivateNetworkNamespace();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
