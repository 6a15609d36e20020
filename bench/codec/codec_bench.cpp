// SPDX-License-Identifier: GPL-3.0-or-later
// Strip codec speed on 1920x1080 screens (text, desktop, photo) at 32 and 16
// bits per pixel:
//   EncodeFullScreen  a full-screen update (reference all 0x01), four
//                     quarters, payloads handed to a sink that keeps nothing;
//                     MB/s of raw frame. Counters: payload bytes and deflated
//                     datagram bytes (level 9, 8-byte headers) per frame byte.
//   CompareUnchanged  the same four calls over a frame equal to the reference.
//   MemcmpFrame       one memcmp of the same bytes, the yardstick for the above.
//   Decode            the full-screen payloads applied to a framebuffer; MB/s
//                     of frame produced.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/codec/bench_frames.h"
#include "receiver/viewer/str_decoder.h"
#include "sender/capture/str_encoder.h"

namespace qc {

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

class CountingSink : public PayloadSink {
 public:
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType) override {
    bytes += length;
    if (keep) payloads.emplace_back(payload, payload + length);
    return SendResult::Sent;
  }
  uint32_t TotalBytesSent() const override { return 0; }
  size_t bytes = 0;
  bool keep = false;
  std::vector<std::vector<uint8_t>> payloads;
};

size_t DeflatedSize(const std::vector<uint8_t>& payload) {
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(payload.size() + payload.size() / 100 + 1024);
  s.next_in = const_cast<uint8_t*>(payload.data());
  s.avail_in = static_cast<uInt>(payload.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  deflate(&s, Z_FULL_FLUSH);
  const size_t n = out.size() - s.avail_out;
  deflateEnd(&s);
  return n;
}

// A screen, its full-screen payloads and their sizes, made once per case.
struct Case {
  std::vector<uint8_t> frame;
  std::vector<std::vector<uint8_t>> payloads;
  size_t payloadBytes = 0;
  size_t datagramBytes = 0;
};

const Case& GetCase(bench::Content content, int bytesPerPixel) {
  static std::map<std::pair<int, int>, std::unique_ptr<Case>> cases;
  auto& slot = cases[{static_cast<int>(content), bytesPerPixel}];
  if (!slot) {
    slot = std::make_unique<Case>();
    slot->frame = bench::MakeFrame(content, kWidth, kHeight, bytesPerPixel);
    std::vector<uint8_t> reference(slot->frame.size(), 0x01);
    CountingSink sink;
    sink.keep = true;
    {
      StrEncoder enc;
      enc.Init(kWidth, bytesPerPixel, slot->frame.data(), reference.data(), &sink);
      for (int q = 0; q < 4; ++q)
        enc.EncodeRows(q * kHeight / 4, (q + 1) * kHeight / 4, PacketType::FullUpdate);
    }
    slot->payloads = std::move(sink.payloads);
    for (const auto& p : slot->payloads) {
      slot->payloadBytes += p.size();
      slot->datagramBytes += 8 + DeflatedSize(p);
    }
  }
  return *slot;
}

void EncodeQuarters(StrEncoder& enc, PacketType type) {
  for (int q = 0; q < 4; ++q) {
    benchmark::DoNotOptimize(enc.EncodeRows(q * kHeight / 4, (q + 1) * kHeight / 4, type));
  }
}

void EncodeFullScreen(benchmark::State& state, bench::Content content, int B) {
  const Case& c = GetCase(content, B);
  std::vector<uint8_t> reference(c.frame.size());
  CountingSink sink;
  StrEncoder enc;
  enc.Init(kWidth, B, c.frame.data(), reference.data(), &sink);
  for (auto _ : state) {
    state.PauseTiming();
    std::memset(reference.data(), 0x01, reference.size());
    state.ResumeTiming();
    EncodeQuarters(enc, PacketType::FullUpdate);
  }
  const double frameBytes = static_cast<double>(c.frame.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.frame.size()));
  state.counters["payload/frame"] = static_cast<double>(c.payloadBytes) / frameBytes;
  state.counters["deflated/frame"] = static_cast<double>(c.datagramBytes) / frameBytes;
}

void CompareUnchanged(benchmark::State& state, bench::Content content, int B) {
  const Case& c = GetCase(content, B);
  std::vector<uint8_t> reference = c.frame;
  CountingSink sink;
  StrEncoder enc;
  enc.Init(kWidth, B, c.frame.data(), reference.data(), &sink);
  for (auto _ : state) EncodeQuarters(enc, PacketType::Update);
  if (sink.bytes != 0) state.SkipWithError("an unchanged frame produced output");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.frame.size()));
}

void MemcmpFrame(benchmark::State& state, bench::Content content, int B) {
  const Case& c = GetCase(content, B);
  std::vector<uint8_t> copy = c.frame;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::memcmp(c.frame.data(), copy.data(), copy.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.frame.size()));
}

void Decode(benchmark::State& state, bench::Content content, int B) {
  const Case& c = GetCase(content, B);
  std::vector<uint8_t> fb(c.frame.size(), 0);
  StrDecoder dec;
  dec.Init(fb.data(), B, kWidth, kHeight);
  for (auto _ : state) {
    for (const auto& p : c.payloads) {
      int first, last;
      benchmark::DoNotOptimize(dec.Decode(p.data(), p.size(), first, last));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.frame.size()));
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  using qc::bench::Content;
  for (Content content : {Content::Text, Content::Desktop, Content::Photo}) {
    for (int B : {4, 2}) {
      const std::string suffix =
          std::string("/") + qc::bench::ContentName(content) + "/" + std::to_string(8 * B) + "bpp";
      benchmark::RegisterBenchmark(("EncodeFullScreen" + suffix).c_str(), qc::EncodeFullScreen,
                                   content, B)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("CompareUnchanged" + suffix).c_str(), qc::CompareUnchanged,
                                   content, B)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("MemcmpFrame" + suffix).c_str(), qc::MemcmpFrame, content, B)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark(("Decode" + suffix).c_str(), qc::Decode, content, B)
          ->Unit(benchmark::kMillisecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
