// SPDX-License-Identifier: GPL-3.0-or-later
// The picture's wire format to browsers, measured on a terminal-like screen
// (monospaced text, 1024 x 768): a 16-row band (one scrolled text line) and
// the whole screen, as deflated RGBA rows (PictureStream's encoding, levels
// 1 and 6) and as PNG (QImage). Counters: bytes per encoded picture.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <vector>

#include "receiver/web/picture_stream.h"

namespace {

QImage& TextScreen() {
  static QImage image = [] {
    QImage img(1024, 768, QImage::Format_RGB32);
    img.fill(QColor(0x30, 0x0a, 0x24));
    QPainter p(&img);
    p.setFont(QFont(QStringLiteral("DejaVu Sans Mono"), 10));
    p.setPen(QColor(0xee, 0xee, 0xec));
    for (int line = 0; line < 48; ++line) {
      p.drawText(4, 14 + line * 16,
                 QStringLiteral("-rw-r--r-- 1 root root %1 Dec  7 05:%2 libexample-%3.so.%4")
                     .arg(1000 + line * 7919 % 90000, 6).arg(line % 60, 2, 10, QLatin1Char('0'))
                     .arg(line * 37 % 101).arg(line % 9));
    }
    return img;
  }();
  return image;
}

QImage Region(int rows) { return TextScreen().copy(0, 200, 1024, rows); }

void BM_DeflateRgba(benchmark::State& state) {
  const QImage band = Region(static_cast<int>(state.range(0)));
  std::vector<uint8_t> rgba(static_cast<size_t>(band.width()) * band.height() * 4);
  std::vector<uint8_t> out(compressBound(static_cast<uLong>(rgba.size())));
  uLongf packed = 0;
  for (auto _ : state) {
    for (int y = 0; y < band.height(); ++y) {
      const auto* src = reinterpret_cast<const uint32_t*>(band.constScanLine(y));
      uint8_t* dst = rgba.data() + static_cast<size_t>(y) * band.width() * 4;
      for (int x = 0; x < band.width(); ++x, dst += 4) {
        dst[0] = static_cast<uint8_t>(src[x] >> 16);
        dst[1] = static_cast<uint8_t>(src[x] >> 8);
        dst[2] = static_cast<uint8_t>(src[x]);
        dst[3] = 0xff;
      }
    }
    packed = static_cast<uLongf>(out.size());
    compress2(out.data(), &packed, rgba.data(), static_cast<uLong>(rgba.size()),
              static_cast<int>(state.range(1)));
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(packed);
}
BENCHMARK(BM_DeflateRgba)->Args({16, 1})->Args({16, 6})->Args({768, 1})->Args({768, 6});

void BM_Png(benchmark::State& state) {
  const QImage band = Region(static_cast<int>(state.range(0)));
  qint64 size = 0;
  for (auto _ : state) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    band.save(&buffer, "PNG");
    size = bytes.size();
  }
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_Png)->Arg(16)->Arg(768);

// The gateway's own path: a whole 32-bit framebuffer through PictureStream
// to one browser's messages.
void BM_StreamFullPicture(benchmark::State& state) {
  const QImage& screen = TextScreen();
  qc::FramebufferView fb;
  fb.pixels = screen.constBits();
  fb.width = screen.width();
  fb.height = screen.height();
  fb.bitsPerPixel = 32;
  fb.bytesPerRow = fb.width * 4;
  qc::PictureStream stream;
  qc::PictureStream::Backlog* browser = stream.AddBrowser();
  stream.Receive(fb);
  std::vector<QByteArray> out;
  for (auto _ : state) {
    stream.AddChange(QRegion(0, 0, fb.width, fb.height));
    out.clear();
    stream.TakeMessages(*browser, out);
  }
  qint64 size = 0;
  for (const QByteArray& m : out) size += m.size();
  state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_StreamFullPicture);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
