// SPDX-License-Identifier: GPL-3.0-or-later
// Decode-and-apply cost of one full-screen update of a 1920x1080x32 desktop
// picture: inflate, strip decoding into the framebuffer and invalidation,
// datagram by datagram as the update thread does it.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "receiver/viewer/update_processor.h"
#include "receiver/viewer/viewer.h"
#include "sender/capture/str_encoder.h"

namespace qc {
namespace {

constexpr int kW = 1920, kH = 1080;
constexpr uint16_t kId = 0x4242;

// A desktop-like picture: a gradient wallpaper, flat windows with title
// bars, and lines of two-colour "text".
std::vector<uint8_t> Desktop() {
  std::vector<uint8_t> f(static_cast<size_t>(kW) * kH * 4);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      uint32_t c = static_cast<uint32_t>((x * 255 / kW) << 16 | (y * 255 / kH) << 8 | 0x60);
      bool inWindow = (x > 100 && x < 1100 && y > 80 && y < 800) ||
                      (x > 900 && x < 1800 && y > 300 && y < 1000);
      if (inWindow) {
        bool title = (y > 80 && y < 110) || (y > 300 && y < 330 && x > 900);
        c = title ? 0x2D5B9Au : 0xF4F4F4u;
        int row = y % 18, col = x % 9;
        if (!title && row > 4 && row < 14 && col < 6 && ((x * 7 + y * 13) / 9) % 5 != 0) {
          c = ((x / 9 + y / 18) % 3 == 0) ? 0x202020u : 0x404040u;
        }
      }
      WriteU32(f.data() + (static_cast<size_t>(y) * kW + x) * 4, c);
    }
  }
  return f;
}

class Recorder : public PayloadSink {
 public:
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override {
    z_stream s{};
    deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> d(8 + kMaxPayload);
    BuildCompressedHeader(CompressedHeader{static_cast<uint16_t>(type), kId,
                                           static_cast<uint32_t>(datagrams.size())},
                          d.data());
    s.next_in = const_cast<uint8_t*>(payload);
    s.avail_in = static_cast<uInt>(length);
    s.next_out = d.data() + 8;
    s.avail_out = kMaxPayload;
    deflate(&s, Z_FULL_FLUSH);
    bool full = s.avail_out == 0 || kMaxPayload - s.avail_out > kMaxCompressedData;
    d.resize(8 + kMaxPayload - s.avail_out);
    deflateEnd(&s);
    if (full) return SendResult::TooLarge;
    payloadBytes += length;
    datagrams.push_back(std::move(d));
    return SendResult::Sent;
  }
  uint32_t TotalBytesSent() const override { return 0; }

  std::vector<std::vector<uint8_t>> datagrams;
  size_t payloadBytes = 0;
};

class Quiet : public ViewerOwner {
 public:
  void UpdateTrayIcon(TrayState) override {}
  void SendUpdateRequest() override { ++requests; }
  void RestartViewer() override {}
  void FatalStop(bool) override {}
  int requests = 0;
};

void BM_FullScreenUpdate1920x1080x32(benchmark::State& state) {
  std::vector<uint8_t> frame = Desktop();
  std::vector<uint8_t> reference(frame.size(), 0);
  Recorder rec;
  auto encoder = std::make_unique<StrEncoder>();
  encoder->Init(kW, 4, frame.data(), reference.data(), &rec);
  for (int q = 0; q < 4; ++q) encoder->EncodeRows(q * kH / 4, (q + 1) * kH / 4, PacketType::FullUpdate);

  Quiet owner;
  NullSurface surface;
  UpdateProcessor proc;
  proc.Begin(&owner, &surface);
  const InitMessage format{kId, kW, kH, 32, 0, 0xFF0000, 0xFF00, 0xFF};
  uint8_t init[kInitSize];
  BuildInit(format, init);
  proc.Start(format);
  size_t wire = 0;
  for (const auto& d : rec.datagrams) wire += d.size();

  for (auto _ : state) {
    proc.Process(init, sizeof init);  // numbering back to 0
    for (const auto& d : rec.datagrams) proc.Process(d.data(), d.size());
  }
  // The encoder's reference keeps the exact pixels of Raw color substrings,
  // which travel with 5 bits per intensity: compare those bits only.
  const uint8_t* fb = proc.Picture().Pixels();
  size_t differing = 0;
  for (size_t i = 0; i < reference.size(); ++i) {
    if (i % 4 != 3 && ((fb[i] ^ reference[i]) & 0xF8) != 0) ++differing;
  }
  if (differing != 0 || owner.requests != 0) {
    fprintf(stderr, "%zu bytes differ, %d update requests\n", differing, owner.requests);
    state.SkipWithError("the picture was not rebuilt");
  }
  state.counters["datagrams"] = static_cast<double>(rec.datagrams.size());
  state.counters["wire_MB"] = wire / 1e6;
  state.counters["payload_MB"] = rec.payloadBytes / 1e6;
  state.counters["payload_MB/s"] = benchmark::Counter(
      static_cast<double>(rec.payloadBytes) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullScreenUpdate1920x1080x32)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qc

namespace qc {
namespace {

// One full-size update datagram of 15 rows of 32-bit Raw color substrings
// (random colours, so deflate stores them): the intake benchmark's load.
void BM_FullSizeRawDatagram(benchmark::State& state) {
  std::mt19937 rng(1);
  std::vector<uint8_t> payload;
  for (int y = 0; y < 15; ++y) {
    payload.push_back(0xFF);
    payload.push_back(static_cast<uint8_t>(y));
    payload.push_back(0);
    for (int k = 0; k < 8; ++k) {
      payload.push_back(0x21);
      for (int j = 0; j < kW / 8; ++j) {
        uint16_t w = static_cast<uint16_t>(rng()) & 0xFFDF;
        payload.push_back(static_cast<uint8_t>(w));
        payload.push_back(static_cast<uint8_t>(w >> 8));
      }
    }
  }
  Recorder rec;
  if (rec.SendPayload(payload.data(), payload.size(), PacketType::Update) != SendResult::Sent) {
    state.SkipWithError("payload does not fit a datagram");
    return;
  }
  Quiet owner;
  NullSurface surface;
  UpdateProcessor proc;
  proc.Begin(&owner, &surface);
  proc.Start(InitMessage{kId, kW, kH, 32, 0, 0xFF0000, 0xFF00, 0xFF});
  std::vector<uint8_t>& d = rec.datagrams[0];
  uint32_t seq = 0;
  for (auto _ : state) {
    WriteU32(d.data() + 4, seq++);
    proc.Process(d.data(), d.size());
  }
  if (owner.requests != 0) state.SkipWithError("datagram rejected");
  state.counters["datagram_bytes"] = static_cast<double>(d.size());
  state.SetBytesProcessed(static_cast<int64_t>(d.size()) * state.iterations());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FullSizeRawDatagram)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qc

// The video region's decoded pictures to framebuffer pixels: one 1280x720
// 4:2:0 picture, with the conversion every decoder back-end uses
// (YuvToBgr0), and with libswscale's (BT.601, the Linux receiver's before
// the Windows decoder came) for comparison.
extern "C" {
#include <libswscale/swscale.h>
}

#include "receiver/viewer/yuv_picture.h"

namespace qc {
namespace {

constexpr int kVideoW = 1280, kVideoH = 720;

struct VideoPlanes {
  VideoPlanes() : y(kVideoW * kVideoH), u(kVideoW * kVideoH / 4), v(kVideoW * kVideoH / 4),
                  out(static_cast<size_t>(kVideoW) * kVideoH * 4) {
    std::mt19937 rng(7);
    for (auto& b : y) b = static_cast<uint8_t>(16 + rng() % 220);
    for (auto& b : u) b = static_cast<uint8_t>(16 + rng() % 225);
    for (auto& b : v) b = static_cast<uint8_t>(16 + rng() % 225);
  }
  std::vector<uint8_t> y, u, v, out;
};

void BM_VideoPictureYuvToBgr0(benchmark::State& state) {
  VideoPlanes p;
  YuvPicture picture{kVideoW, kVideoH, p.y.data(), p.u.data(), p.v.data(), kVideoW, kVideoW / 2, 1};
  for (auto _ : state) {
    YuvToBgr0(picture, p.out.data(), kVideoW * 4);
    benchmark::DoNotOptimize(p.out.data());
  }
}
BENCHMARK(BM_VideoPictureYuvToBgr0)->Unit(benchmark::kMicrosecond);

void BM_VideoPictureSwscale(benchmark::State& state) {
  VideoPlanes p;
  SwsContext* scaler = sws_getContext(kVideoW, kVideoH, AV_PIX_FMT_YUV420P, kVideoW, kVideoH,
                                      AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const uint8_t* src[3] = {p.y.data(), p.u.data(), p.v.data()};
  const int srcStride[3] = {kVideoW, kVideoW / 2, kVideoW / 2};
  uint8_t* dst[1] = {p.out.data()};
  const int dstStride[1] = {kVideoW * 4};
  for (auto _ : state) {
    sws_scale(scaler, src, srcStride, 0, kVideoH, dst, dstStride);
    benchmark::DoNotOptimize(p.out.data());
  }
  sws_freeContext(scaler);
}
BENCHMARK(BM_VideoPictureSwscale)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qc
