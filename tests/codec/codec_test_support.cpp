// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/codec/codec_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"

namespace qc::test {

std::string LogPath() { return Log().FileName(); }

::testing::AssertionResult CarriedBytesMatch(const uint8_t* want, const uint8_t* got, int W, int H,
                                             int B) {
  const StripGeometry g = StripGeometry::Make(W, B);
  const uint32_t used = B == 4 ? 0x00FFFFFFu : 0xFFFFu;
  for (int y = 0; y < H; ++y) {
    // Equal carried bytes: nothing to look at pixel by pixel.
    if (std::memcmp(want + size_t(y) * g.rowBytes, got + size_t(y) * g.rowBytes,
                    size_t(8) * g.substringBytes) == 0) {
      continue;
    }
    for (int k = 0; k < 8; ++k) {
      for (int j = 0; j < g.pixels; ++j) {
        const size_t at = size_t(y) * g.rowBytes + size_t(k) * g.substringBytes + size_t(j) * B;
        // Plain loads, not memcpy: a race detector intercepts every memcpy.
        const uint32_t w = B == 4 ? ReadU32(want + at) : ReadU16(want + at);
        const uint32_t r = B == 4 ? ReadU32(got + at) : ReadU16(got + at);
        if (((w ^ r) & used) == 0 || (B == 4 && (r & used) == (w & 0x00F8F8F8u))) continue;
        return ::testing::AssertionFailure() << "row " << y << " substring " << k << " pixel " << j
                                             << ": got " << std::hex << r << " want " << w;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

Bytes SentFrame(const uint8_t* rows, int width, int height, int B) {
  const size_t from = size_t(width) * B, to = size_t(SentFrameWidth(width)) * B;
  Bytes out(to * height, 0);
  for (int y = 0; y < height; ++y) std::memcpy(out.data() + to * y, rows + from * y, from);
  return out;
}

Bytes Inflate(const Bytes& compressed, bool& ok) {
  z_stream s{};
  ok = inflateInit(&s) == Z_OK;
  Bytes out(kMaxPayload);
  s.next_in = const_cast<uint8_t*>(compressed.data());
  s.avail_in = static_cast<uInt>(compressed.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  ok = ok && inflate(&s, Z_FULL_FLUSH) == Z_OK;
  // Keeps what inflate wrote.
  out.erase(out.begin() + static_cast<std::ptrdiff_t>(out.size() - s.avail_out), out.end());
  inflateEnd(&s);
  if (!ok) out.clear();
  return out;
}

// ---- Frames --------------------------------------------------------------

namespace {

void PutPixel(Bytes& frame, int width, int B, int x, int y, uint32_t v) {
  uint8_t* p = frame.data() + (static_cast<size_t>(y) * width + x) * B;
  for (int i = 0; i < B; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t RandomColour(std::mt19937& rng, int B) {
  return B == 2 ? (rng() & 0xFFFF) : (rng() & 0xFFFFFF);
}

}  // namespace

Bytes RandomFrame(std::mt19937& rng, int width, int height, int B) {
  Bytes frame(static_cast<size_t>(width) * height * B);
  for (auto& b : frame) b = static_cast<uint8_t>(rng());
  return frame;
}

Bytes StructuredFrame(std::mt19937& rng, int width, int height, int B) {
  Bytes frame(static_cast<size_t>(width) * height * B);
  std::vector<uint32_t> colours(48);
  for (auto& c : colours) c = RandomColour(rng, B);
  const int counts[] = {1, 2, 3, 4, 5, 16, 17, 31, 32, 33, 48};
  const size_t row = static_cast<size_t>(width) * B;
  for (int y = 0; y < height; ++y) {
    if (y > 0 && rng() % 6 == 0) {  // a repeat of the row above
      std::memcpy(frame.data() + y * row, frame.data() + (y - 1) * row, row);
      continue;
    }
    // Runs over a chosen number of colours with some noise: every palette
    // size and Raw color; long runs of one colour make Copy entries.
    const int n = counts[rng() % std::size(counts)];
    const int run = 1 + static_cast<int>(rng() % 64);
    for (int x = 0; x < width; ++x) {
      const uint32_t noise = rng() % 4 == 0 ? rng() : 0;
      PutPixel(frame, width, B, x, y, colours[(x / run + noise) % n]);
    }
  }
  return frame;
}

void Scribble(std::mt19937& rng, Bytes& frame, int width, int height, int B) {
  const int rects = 1 + static_cast<int>(rng() % 5);
  for (int r = 0; r < rects; ++r) {
    const int x0 = static_cast<int>(rng() % width);
    const int y0 = static_cast<int>(rng() % height);
    const int w = 1 + static_cast<int>(rng() % std::max(1, width / 3));
    const int h = 1 + static_cast<int>(rng() % std::max(1, height / 4));
    const int mode = static_cast<int>(rng() % 3);
    const uint32_t c = RandomColour(rng, B);
    for (int y = y0; y < std::min(height, y0 + h); ++y) {
      for (int x = x0; x < std::min(width, x0 + w); ++x) {
        uint32_t v = mode == 0 ? c : mode == 1 ? RandomColour(rng, B) : (c ^ ((x / 2) & 3));
        PutPixel(frame, width, B, x, y, v);
      }
    }
  }
}

Bytes RandomValidPayload(std::mt19937& rng, int width, int height, int B, int records) {
  const StripGeometry g = StripGeometry::Make(width, B);
  Bytes out;
  int y = static_cast<int>(rng() % std::max(1, height / 2));
  for (int r = 0; r < records && y < height; ++r) {
    const uint8_t mask = static_cast<uint8_t>(rng());
    out.push_back(mask);
    out.push_back(static_cast<uint8_t>(y));
    out.push_back(static_cast<uint8_t>(y >> 8));
    for (int k = 0; k < 8; ++k) {
      if (!(mask & (0x80 >> k))) continue;
      const int kind = static_cast<int>(rng() % 4);
      if (kind == 0 && y > 0) {
        out.push_back(rng() % 2 ? 0x40 : 0x41);
        continue;
      }
      if (kind == 1) {
        out.push_back(0x21);
        for (int i = 0; i < g.RawBodyBytes(); ++i) out.push_back(static_cast<uint8_t>(rng()));
        continue;
      }
      const int n = 1 + static_cast<int>(rng() % 32);
      out.push_back(static_cast<uint8_t>(n));
      for (int i = 0; i < n * B; ++i) out.push_back(static_cast<uint8_t>(rng()));
      std::vector<uint8_t> index(g.pixels);
      for (auto& i : index) i = static_cast<uint8_t>(rng() % n);
      Bytes packed(g.IndexBytes(n) + 4);
      int len = 0;
      switch (IndexBits(n)) {
        case 0: break;
        case 1: len = PackIndices<1>(index.data(), g.pixels, packed.data()); break;
        case 2: len = PackIndices<2>(index.data(), g.pixels, packed.data()); break;
        case 4: len = PackIndices<4>(index.data(), g.pixels, packed.data()); break;
        default: len = PackIndices<5>(index.data(), g.pixels, packed.data()); break;
      }
      out.insert(out.end(), packed.begin(), packed.begin() + len);
    }
    y += 1 + static_cast<int>(rng() % 3);
  }
  return out;
}

}  // namespace qc::test
