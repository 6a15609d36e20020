// SPDX-License-Identifier: GPL-3.0-or-later
// Paint cost of a 1920 x 1080 x 32 framebuffer: the whole frame unscaled and
// scaled to fit 1280 x 1024, and a band of 30 rows (one typical update).
// Paints into an RGB32 image like the X11 backing store. The program runs on
// a private 1280 x 1024 Xvfb, which the window benchmarks
// (window_stream_bench.cpp) need.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "receiver/viewer/qt/frame_painter.h"
#include "receiver/viewer/viewer_geometry.h"
#include "tests/support/xvfb_server.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kBandRows = 30;

struct Fixture {
  std::vector<uint32_t> pixels;
  std::vector<uint16_t> pixels16;
  Fixture() : pixels(kWidth * kHeight), pixels16(kWidth * kHeight) {
    uint32_t v = 12345;
    for (size_t i = 0; i < pixels.size(); ++i) {
      v = v * 1103515245u + 12345u;
      // Text-like content: mostly flat background with some detail.
      pixels[i] = (i % 7 == 0) ? (v >> 8) & 0xffffff : 0x00f0f0f0;
      pixels16[i] = static_cast<uint16_t>(pixels[i]);
    }
  }
};

Fixture& Data() {
  static Fixture f;
  return f;
}

void Run(benchmark::State& state, int bits, bool scaled, int rows) {
  qc::FramePainter fp;
  const uint8_t* px = bits == 32 ? reinterpret_cast<const uint8_t*>(Data().pixels.data())
                                 : reinterpret_cast<const uint8_t*>(Data().pixels16.data());
  qc::InitMessage format;
  format.width = kWidth;
  format.height = kHeight;
  format.bitsPerPixel = static_cast<uint16_t>(bits);
  format.redMask = bits == 32 ? 0xff0000 : 0xf800;
  format.greenMask = bits == 32 ? 0xff00 : 0x07e0;
  format.blueMask = bits == 32 ? 0xff : 0x1f;
  fp.Bind(qc::DescribeFramebuffer(px, format));
  QSize target(kWidth, kHeight);
  int offX = 0, offY = 0;
  if (scaled) {
    const auto fit = qc::FullScreenTransform({kWidth, kHeight}, {1280, 1024});
    fp.SetScale(fit.sx);
    offX = fit.offX;
    offY = fit.offY;
    target = QSize(1280, 1024);
  }
  QImage out(target, QImage::Format_RGB32);
  QRect area(0, 0, target.width(), target.height());
  if (rows > 0) {
    // Rows 500..529 as the window sees them.
    const int s = fp.Scale();
    area = QRect(0, offY + 500 * s / 100, target.width(), (rows * s + 99) / 100 + 1);
  }
  for (auto _ : state) {
    QPainter p(&out);
    fp.Paint(p, area, 0, 0, offX, offY);
    p.end();
    benchmark::DoNotOptimize(out.constBits());
  }
}

// Qt's own smooth (area-averaging) scaler on the same frame, for comparison
// (it spreads the work over its thread pool: CPU of the whole process).
void BM_QtSmoothScaleFullFrame(benchmark::State& state) {
  const QImage source(reinterpret_cast<const uchar*>(Data().pixels.data()), kWidth, kHeight,
                      QImage::Format_RGB32);
  const auto fit = qc::FullScreenTransform({kWidth, kHeight}, {1280, 1024});
  const QSize size(kWidth * fit.sx / 100, kHeight * fit.sx / 100);
  for (auto _ : state) {
    QImage scaled = source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    benchmark::DoNotOptimize(scaled.constBits());
  }
}

void BM_FullFrameUnscaled(benchmark::State& s) { Run(s, 32, false, 0); }
void BM_FullFrameScaled1280x1024(benchmark::State& s) { Run(s, 32, true, 0); }
void BM_Band30RowsUnscaled(benchmark::State& s) { Run(s, 32, false, kBandRows); }
void BM_Band30RowsScaled1280x1024(benchmark::State& s) { Run(s, 32, true, kBandRows); }
void BM_FullFrame16BitUnscaled(benchmark::State& s) { Run(s, 16, false, 0); }
void BM_FullFrame16BitScaled1280x1024(benchmark::State& s) { Run(s, 16, true, 0); }

BENCHMARK(BM_FullFrameUnscaled)->Unit(benchmark::kMillisecond);
// Scaled full frames are split over two threads: wall time, and the CPU of
// both threads.
BENCHMARK(BM_FullFrameScaled1280x1024)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QtSmoothScaleFullFrame)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Band30RowsUnscaled)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Band30RowsScaled1280x1024)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FullFrame16BitUnscaled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullFrame16BitScaled1280x1024)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qc::test::XvfbServer xvfb("1280x1024x24");
  if (!xvfb.Ready()) {
    fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
