// SPDX-License-Identifier: GPL-3.0-or-later
// The viewer window's CPU while a transmission plays: a sender's terminal
// printing 50 lines a second on a 1920 x 1080 screen, shown in a 1280 x 1024
// X screen (the benchmark's own Xvfb) unscaled with scroll bars, and full
// screen scaled to fit.
//
// A synthetic stream stands in for the receiving core: its update thread
// scrolls the picture by one 16-row text line 50 times a second and, like
// the sender's quarters, delivers the changed rows as bands of 16 rows, each
// followed by UpdateWindow, as the update thread does after every datagram.
// The figure is the GUI thread's CPU time (painting) per second of stream,
// with the process's beside it (which adds the stream's own thread and, on
// the OpenGL view, the GL driver's threads: Mesa's llvmpipe here rasterises
// on the CPU, so the GL rows show a software renderer's cost, not a GPU's).
// Each is run on the CPU painter and on the OpenGL view (QV_RENDERER).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "receiver/viewer/qt/viewer_window.h"


namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kLineRows = 16;
constexpr int kLinesPerSecond = 50;
constexpr int kStreamMs = 3000;

class NoOwner : public qc::ViewerOwner {
 public:
  void UpdateTrayIcon(qc::TrayState) override {}
  void SendUpdateRequest() override {}
  void RestartViewer() override {}
  void FatalStop(bool) override {}
};

class TerminalStream : public qc::ViewerSource {
 public:
  TerminalStream() : pixels_(static_cast<size_t>(kWidth) * kHeight, 0x00202020u) {}
  ~TerminalStream() override { Stop(); }

  bool Init(qc::ViewerOwner*, qc::ViewerSurface* surface, uint16_t) override {
    surface_ = surface;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Stop() override {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  bool IsReceiving() const override { return true; }
  qc::FramebufferView FramebufferInfo() const override {
    qc::InitMessage format;
    format.width = kWidth;
    format.height = kHeight;
    format.bitsPerPixel = 32;
    format.redMask = 0xff0000;
    format.greenMask = 0xff00;
    format.blueMask = 0xff;
    return qc::DescribeFramebuffer(reinterpret_cast<const uint8_t*>(pixels_.data()), format);
  }
  std::mutex& CursorLock() override { return cursor_.Lock(); }
  qc::RemoteCursorState& CursorState() override { return cursor_.State(); }
  uint64_t Bands() const { return bands_.load(); }

 private:
  void Run() {
    surface_->PlaceWindow();
    surface_->UpdateWindow();
    auto next = std::chrono::steady_clock::now();
    for (uint32_t line = 0; running_; ++line) {
      next += std::chrono::milliseconds(1000 / kLinesPerSecond);
      std::this_thread::sleep_until(next);
      // Scroll up one text line and print a new one: glyph-like dots.
      std::memmove(pixels_.data(), pixels_.data() + kWidth * kLineRows,
                   sizeof(uint32_t) * kWidth * (kHeight - kLineRows));
      for (int y = kHeight - kLineRows; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          const uint32_t h = (x / 9 + line * 31) * 2654435761u ^ (y * 40503u + x);
          pixels_[static_cast<size_t>(y) * kWidth + x] = (h >> 28) < 5 ? 0x00e0e0e0u : 0x00202020u;
        }
      }
      for (int top = 0; top < kHeight && running_; top += kLineRows) {
        surface_->InvalidateFramebufferRect({0, top - 1, kWidth, top + kLineRows + 1});
        surface_->UpdateWindow();
        ++bands_;
      }
    }
  }

  std::vector<uint32_t> pixels_;
  qc::RemoteCursor cursor_;
  qc::ViewerSurface* surface_ = nullptr;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> bands_{0};
};

double CpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void RunEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void Stream(benchmark::State& state, bool fullScreen, const char* renderer) {
  setenv("QV_RENDERER", renderer, 1);
  for (auto _ : state) {
    TerminalStream stream;
    NoOwner owner;
    qc::ViewerWindow window(stream);
    if ((window.GlView() != nullptr) != (std::strcmp(renderer, "gl") == 0)) {
      state.SkipWithError("this renderer cannot be had here");
      break;
    }
    window.Start(&owner, 5982, fullScreen);
    // Let the window appear and settle before measuring.
    RunEventLoop(1000);
    const double cpuBefore = CpuMs(CLOCK_THREAD_CPUTIME_ID);
    const double processBefore = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
    const uint64_t framesBefore = window.FramesPainted();
    const uint64_t bandsBefore = stream.Bands();
    QElapsedTimer clock;
    clock.start();
    RunEventLoop(kStreamMs);
    const double cpuMs = CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpuBefore;
    const double processMs = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    const double seconds = clock.elapsed() / 1000.0;
    state.counters["frames_per_s"] = (window.FramesPainted() - framesBefore) / seconds;
    state.counters["bands_per_s"] = (stream.Bands() - bandsBefore) / seconds;
    window.SetRestarting();
    window.Stop();
    state.SetIterationTime(seconds);
    state.counters["gui_cpu_percent"] = cpuMs / seconds / 10.0;
    state.counters["process_cpu_percent"] = processMs / seconds / 10.0;
  }
  unsetenv("QV_RENDERER");
}

void BM_WindowUnscaledTerminal50LinesPerSecond(benchmark::State& s) { Stream(s, false, "cpu"); }
void BM_WindowFullScreenScaledTerminal50LinesPerSecond(benchmark::State& s) { Stream(s, true, "cpu"); }
void BM_GlWindowUnscaledTerminal50LinesPerSecond(benchmark::State& s) { Stream(s, false, "gl"); }
void BM_GlWindowFullScreenScaledTerminal50LinesPerSecond(benchmark::State& s) { Stream(s, true, "gl"); }

BENCHMARK(BM_WindowUnscaledTerminal50LinesPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowFullScreenScaledTerminal50LinesPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlWindowUnscaledTerminal50LinesPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlWindowFullScreenScaledTerminal50LinesPerSecond)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
