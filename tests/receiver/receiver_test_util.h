// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the receiver tests: datagram builders (with the sender's zlib
// settings), synthetic pictures and their row records, a recording surface
// (the owner is tests/support/recording_owner.h), and a log reader.
#pragma once

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "common/protocol.h"
#include "receiver/viewer/viewer.h"
#include "sender/capture/parity_encoder.h"
#include "sender/capture/str_encoder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/recording_owner.h"

namespace qc::test {

// A compressed datagram, deflated like the sender: fresh stream, level 9,
// window 15, memory level 9, one deflate call with Z_FULL_FLUSH (finish =
// true ends the stream instead).
inline std::vector<uint8_t> Compressed(PacketType type, uint16_t id, uint32_t seq,
                                       const std::vector<uint8_t>& payload, bool finish = false) {
  std::vector<uint8_t> out(8 + payload.size() + payload.size() / 100 + 256);
  BuildCompressedHeader(CompressedHeader{static_cast<uint16_t>(type), id, seq}, out.data());
  z_stream s{};
  deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
  s.next_in = const_cast<uint8_t*>(payload.data());
  s.avail_in = static_cast<uInt>(payload.size());
  s.next_out = out.data() + 8;
  s.avail_out = static_cast<uInt>(out.size() - 8);
  deflate(&s, finish ? Z_FINISH : Z_FULL_FLUSH);
  out.resize(out.size() - s.avail_out);
  deflateEnd(&s);
  return out;
}

// Drives a parity encoder through one window (from nowMs on) in which
// receivers reported every datagram lost, so that it sends parity from the
// next datagram on; returns the time after the window. Nothing it makes is
// kept.
inline uint32_t StartParity(ParityEncoder& enc, uint32_t nowMs) {
  std::vector<uint8_t> d(kCompressedHeaderSize + 16, 0);
  auto discard = [](ParityEncoder::Datagram) {};
  const uint32_t step = ParityEncoder::kWindowMs / (ParityEncoder::kWindowDatagrams - 1) + 1;
  for (uint32_t i = 0; i < ParityEncoder::kWindowDatagrams; ++i, nowMs += step) {
    BuildCompressedHeader({static_cast<uint16_t>(PacketType::Update), 0, 0x80000000u + i}, d.data());
    enc.NoteLosses(1, ParityEncoder::kStartReporters, nowMs);
    enc.Add(d.data(), d.size(), 0x80000000u + i, nowMs, discard);
    // Started: a window begins here, so the groups keep their first size
    // for a while.
    if (enc.GroupSize() > 0) {
      nowMs += step;
      break;
    }
  }
  enc.Flush(nowMs, true, discard);
  return nowMs;
}

// A datagram of n bytes written by one of common/protocol's builders.
template <typename Build>
std::vector<uint8_t> Built(size_t n, Build build) {
  std::vector<uint8_t> d(n);
  build(d.data());
  return d;
}

inline InitMessage Format(uint16_t id, int w, int h, int bpp, uint32_t r = 0xFF0000,
                          uint32_t g = 0xFF00, uint32_t b = 0xFF) {
  return {id, uint16_t(w), uint16_t(h), uint16_t(bpp), 0, r, g, b};
}
inline std::vector<uint8_t> InitDatagram(uint16_t id, int w, int h, int bpp) {
  return Built(kInitSize, [&](uint8_t* d) { BuildInit(Format(id, w, h, bpp), d); });
}
inline std::vector<uint8_t> KeepAlive(uint16_t id) {
  return Built(kKeepAliveSize, [id](uint8_t* d) { BuildKeepAlive(id, d); });
}
inline std::vector<uint8_t> Disconnection(uint16_t id) {
  return Built(4, [id](uint8_t* d) { BuildDisconnection(id, d); });
}
inline std::vector<uint8_t> CursorPositionDatagram(uint16_t id, int16_t x, int16_t y) {
  return Built(kCursorPositionSize, [&](uint8_t* d) { BuildCursorPosition({id, x, y}, d); });
}

// Row records of rows [first, end) of a frame, as the sender's encoder
// writes them for a full-screen update (records back to back). Frames with
// at most 32 colours per substring (MakeFrame's) come through losslessly.
inline std::vector<uint8_t> EncodeRows(const std::vector<uint8_t>& frame, int width, int bpp,
                                       int first, int end) {
  struct Sink : PayloadSink {
    SendResult SendPayload(const uint8_t* p, size_t n, PacketType) override {
      out.insert(out.end(), p, p + n);
      return SendResult::Sent;
    }
    uint32_t TotalBytesSent() const override { return 0; }
    std::vector<uint8_t> out;
  } sink;
  std::vector<uint8_t> reference(frame.size(), 0x01);
  StrEncoder encoder;
  encoder.Init(width, bpp / 8, frame.data(), reference.data(), &sink);
  encoder.EncodeRows(first, end, PacketType::FullUpdate);
  return sink.out;
}

// A picture with few colours per substring: stripes and blocks from a seed.
inline std::vector<uint8_t> MakeFrame(int width, int height, int bpp, uint32_t seed) {
  int B = bpp / 8;
  std::vector<uint8_t> f(static_cast<size_t>(width) * height * B);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint32_t v = ((x / 7) * 2654435761u) ^ ((y / 5) * 40503u) ^ seed;
      v = (v >> 3) % 11;
      uint32_t colour = v * 0x151515u + seed * 0x010203u;
      uint8_t* p = f.data() + (static_cast<size_t>(y) * width + x) * B;
      if (B == 4) {
        WriteU32(p, colour & 0x00FFFFFFu);
      } else {
        WriteU16(p, static_cast<uint16_t>(colour * 31));
      }
    }
  }
  return f;
}

class RecordingSurface : public ViewerSurface {
 public:
  void ViewerStarted() override {}
  void ViewerStopping() override {}
  void PlaceWindow() override { ++placed; }
  void InvalidateFramebufferRect(const Rect& r) override {
    std::lock_guard<std::mutex> lock(mutex);
    rects.push_back(r);
  }
  void UpdateWindow() override { ++updates; }

  std::vector<Rect> TakeRects() {
    std::lock_guard<std::mutex> lock(mutex);
    return std::exchange(rects, {});
  }

  std::atomic<int> placed{0};
  std::atomic<int> updates{0};
  std::mutex mutex;
  std::vector<Rect> rects;
};

// Reads what the test log received since Mark(). The first use moves the
// process into a fresh temporary directory (removed at exit with the log),
// so that parallel test binaries never share a log file.
class LogReader {
 public:
  LogReader() {
    static const bool entered = [] {
      static TempDir dir;
      std::filesystem::current_path(dir.Path());
      Log().Enable(true);
      return true;
    }();
    (void)entered;
    Mark();
  }
  void Mark() { mark_ = ReadFile(Log().FileName()).size(); }
  std::string Since() const {
    const std::string all = ReadFile(Log().FileName());
    return mark_ < all.size() ? all.substr(mark_) : std::string();
  }
  int Count(const std::string& needle) const {
    const std::string text = Since();
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  size_t mark_ = 0;
};

}  // namespace qc::test
