#include "tests/codec/codec_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/log_file.h"

namespace qc::test {

SendResult RecordingSink::SendPayload(const uint8_t* payload, size_t length, PacketType type) {
  SendResult result = calls < script.size() ? script[calls] : SendResult::Sent;
  ++calls;
  payloads.emplace_back(payload, payload + length);
  types.push_back(type);
  if (result == SendResult::Sent) totalBytes += static_cast<uint32_t>(8 + length);
  return result;
}

SendResult DeflatingSink::SendPayload(const uint8_t* payload, size_t length, PacketType type) {
  EXPECT_LE(length, kMaxPayload);
  if (maxPayload != 0 && length > maxPayload) {
    ++tooLarge;
    return SendResult::TooLarge;
  }
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(kMaxPayload);
  s.next_in = const_cast<uint8_t*>(payload);
  s.avail_in = static_cast<uInt>(length);
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FULL_FLUSH), Z_OK);
  const size_t produced = out.size() - s.avail_out;
  const bool full = s.avail_out == 0;
  deflateEnd(&s);
  if (full || produced > kMaxCompressedData) {
    ++tooLarge;
    return SendResult::TooLarge;
  }
  out.resize(produced);
  sent.push_back(Datagram{sequence++, type, Bytes(payload, payload + length), std::move(out)});
  totalBytes += static_cast<uint32_t>(8 + produced);
  return SendResult::Sent;
}

std::string LogPath() { return Log().FileName(); }

Bytes Inflate(const Bytes& compressed, bool& ok) {
  z_stream s{};
  ok = inflateInit(&s) == Z_OK;
  Bytes out(kMaxPayload);
  s.next_in = const_cast<uint8_t*>(compressed.data());
  s.avail_in = static_cast<uInt>(compressed.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  ok = ok && inflate(&s, Z_FULL_FLUSH) == Z_OK;
  out.resize(out.size() - s.avail_out);
  inflateEnd(&s);
  if (!ok) out.clear();
  return out;
}

// ---- Model encoder -------------------------------------------------------

uint64_t ModelEncoder::Pixel(const uint8_t* p) const {
  uint64_t v = 0;
  for (int i = 0; i < B; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

std::vector<Bytes> ModelEncoder::EncodeRows(int firstRow, int endRow) {
  std::vector<Bytes> payloads;
  Bytes payload;
  for (int y = firstRow; y < endRow; ++y) {
    const uint8_t* f = frame_ + static_cast<size_t>(y) * R;
    uint8_t* r = reference_ + static_cast<size_t>(y) * R;
    if (std::memcmp(f, r, R) == 0) continue;
    Bytes record = {0, static_cast<uint8_t>(y & 0xFF), static_cast<uint8_t>((y >> 8) & 0xFF)};
    uint8_t mask = 0;
    for (int k = 0; k < 8; ++k) {
      if (std::memcmp(f + k * S, r + k * S, S) == 0) continue;
      std::memcpy(r + k * S, f + k * S, S);
      EncodeSubstring(y, k, record);
      mask |= static_cast<uint8_t>(0x80 >> k);
    }
    if (copyTail) std::memcpy(r + 8 * S, f + 8 * S, R - 8 * S);
    record[0] = mask;
    if (record.size() + payload.size() > 60000) {
      payloads.push_back(payload);
      payload.clear();
    }
    payload.insert(payload.end(), record.begin(), record.end());
  }
  if (!payload.empty()) payloads.push_back(payload);
  return payloads;
}

void ModelEncoder::EncodeSubstring(int y, int k, Bytes& record) {
  const uint8_t* F = frame_ + static_cast<size_t>(y) * R + static_cast<size_t>(k) * S;
  if (y != 0) {
    if (std::memcmp(F, F - S, S) == 0) {
      record.push_back(0x40);
      return;
    }
    if (std::memcmp(F, F - R, S) == 0) {
      record.push_back(0x41);
      return;
    }
  }
  if (P == 0) {
    // No pixel in the substring: one colour taken from its first bytes.
    record.push_back(1);
    for (int i = 0; i < B; ++i) record.push_back(k * S + i < R ? F[i] : 0);
    return;
  }
  std::vector<uint64_t> palette;
  std::vector<int> index(P + 8, 0);
  std::vector<bool> assigned(P, false);
  int n = 0;
  int i = 0;
  for (;;) {
    palette.push_back(Pixel(F + i * B));
    index[i] = n;
    assigned[i] = true;
    for (int m = i + 1; m < P; ++m) {
      if (Pixel(F + m * B) == palette[n]) {
        index[m] = n;
        assigned[m] = true;
      }
    }
    int next = i + 1;
    while (next < P && assigned[next]) ++next;
    i = next;
    ++n;
    if (n > 32) break;
    if (i >= P) break;
  }
  if (n <= 32) {
    record.push_back(static_cast<uint8_t>(n));
    for (uint64_t c : palette) {
      for (int b = 0; b < B; ++b) record.push_back(static_cast<uint8_t>(c >> (8 * b)));
    }
    if (n >= 2 && n <= 16) {
      // 1, 2 or 4 bits an index, first pixel in the high bits.
      const int bits = n == 2 ? 1 : n <= 4 ? 2 : 4;
      Bytes packed((P * bits + 7) / 8, 0);
      for (int j = 0; j < P; ++j) packed[j * bits / 8] |= index[j] << (8 - bits - j * bits % 8);
      record.insert(record.end(), packed.begin(), packed.end());
    } else if (n >= 17) {
      for (int m = 0; m < (P + 2) / 3; ++m) {
        int w = index[3 * m] << 11 | index[3 * m + 1] << 6 | index[3 * m + 2];
        record.push_back(static_cast<uint8_t>(w));
        record.push_back(static_cast<uint8_t>(w >> 8));
      }
    }
  } else {
    record.push_back(0x21);
    if (B == 2) {
      record.insert(record.end(), F, F + S);
    } else {
      for (int j = 0; j < P; ++j) {
        uint32_t v = static_cast<uint32_t>(Pixel(F + 4 * j));
        uint32_t w = ((v & 0xF8) << 8) | ((v >> 5) & 0x7C0) | ((v >> 19) & 0x1F);
        record.push_back(static_cast<uint8_t>(w));
        record.push_back(static_cast<uint8_t>(w >> 8));
      }
    }
  }
}

// ---- Model decoder -------------------------------------------------------

void ModelDecode(uint8_t* fb, int W, int B, const Bytes& payload) {
  const int R = W * B, S = R / 8, P = W / 8;
  size_t pos = 0;
  while (pos < payload.size()) {
    const uint8_t* d = payload.data() + pos;
    const int mask = d[0];
    const int y = static_cast<int16_t>(d[1] | d[2] << 8);
    size_t at = 3;
    for (int k = 0; k < 8; ++k) {
      if (!(mask & (0x80 >> k))) continue;
      uint8_t* o = fb + static_cast<size_t>(y) * R + static_cast<size_t>(k) * S;
      const int tag = d[at++];
      if (tag & 0x40) {
        std::memcpy(o, o - ((tag & 1) ? R : S), S);
        continue;
      }
      const int n = tag & 0x3F;
      std::vector<uint8_t> pal;
      if (n < 33) {
        pal.assign(d + at, d + at + n * B);
        at += n * B;
      }
      auto put = [&](int j, int idx) { std::memcpy(o + j * B, &pal[idx * B], B); };
      if (n == 1) {
        for (int j = 0; j < P; ++j) put(j, 0);
      } else if (n <= 16) {
        const int bits = n == 2 ? 1 : n <= 4 ? 2 : 4;
        for (int j = 0; j < P; ++j) {
          const int bit = j * bits;
          put(j, (d[at + bit / 8] >> (8 - bits - bit % 8)) & ((1 << bits) - 1));
        }
        at += (P * bits + 7) / 8;
      } else if (n <= 32) {
        // Words of three 5-bit indices at bits 15-11, 10-6 and 4-0.
        static constexpr int kShift[3] = {11, 6, 0};
        for (int j = 0; j < P; ++j) {
          const int w = d[at + j / 3 * 2] | d[at + j / 3 * 2 + 1] << 8;
          put(j, (w >> kShift[j % 3]) & 31);
        }
        at += (P + 2) / 3 * 2;
      } else if (B == 4) {
        for (int j = 0; j < P; ++j, at += 2) {
          int w = d[at] | d[at + 1] << 8;
          o[4 * j] = static_cast<uint8_t>((w >> 8) & 0xF8);
          o[4 * j + 1] = static_cast<uint8_t>((w >> 3) & 0xF8);
          o[4 * j + 2] = static_cast<uint8_t>((w << 3) & 0xF8);
          o[4 * j + 3] = 0;
        }
      } else {
        std::memcpy(o, d + at, S);
        at += S;
      }
    }
    pos += at;
  }
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
  const uint32_t background = colours[0];
  const int counts[] = {1, 2, 3, 4, 5, 16, 17, 31, 32, 33, 48};
  for (int y = 0; y < height; ++y) {
    const int type = static_cast<int>(rng() % 7);
    const int n = counts[rng() % std::size(counts)];
    if (type == 1 && y > 0) {  // repeat of the row above
      std::memcpy(frame.data() + static_cast<size_t>(y) * width * B,
                  frame.data() + static_cast<size_t>(y - 1) * width * B,
                  static_cast<size_t>(width) * B);
      continue;
    }
    for (int x = 0; x < width; ++x) {
      uint32_t v = background;
      switch (type) {
        case 2:  // text: glyph pixels of one or two colours on the background
          if (rng() % 5 == 0) v = colours[1 + (x / 64) % 2];
          break;
        case 3:  // gradient across the row
          v = colours[(x * 47 / std::max(width, 1)) % 48];
          break;
        case 4:  // noise of a chosen number of colours in short runs
          v = colours[(x / 3 + rng() % 2 * (rng() % n)) % n];
          break;
        case 5:  // windows: bands of colour with borders
          v = colours[((x / 40) % 6) + 6];
          if (x % 40 == 0) v = colours[12];
          break;
        case 6:  // repeating pattern with a period shorter than a substring
          v = colours[(x % 7) + 20];
          break;
        default: break;
      }
      PutPixel(frame, width, B, x, y, v);
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
