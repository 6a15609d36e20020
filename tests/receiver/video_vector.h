// SPDX-License-Identifier: GPL-3.0-or-later
// The video test vector: a short H.264 stream our VideoEncoder made of a
// slow pan (data/video_pan.qcv, written by make_video_vector), so that a
// build without the encoder (Windows) tests its decoder on the real thing.
//
// File: u16 width, u16 height, u32 frames, then per frame u32 length and
// the Annex-B access unit; little-endian.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/byte_order.h"

namespace qc::test {

inline constexpr int kVectorWidth = 112;  // 68 rows: the decoder crops
inline constexpr int kVectorHeight = 68;  // its 80 coded rows
inline constexpr int kVectorFrames = 42;
inline constexpr int kVectorKbps = 80;

// Pixel (x, y) of picture `frame` (0xRRGGBB).
inline uint32_t PanPixel(int frame, int x, int y) {
  const double u = (x + frame * 0.7) / 23.0, v = (y + frame * 0.3) / 17.0;
  const int r = static_cast<int>(128 + 100 * std::sin(u) * std::cos(v * 0.7));
  const int g = static_cast<int>(128 + 90 * std::sin(u * 0.6 + v));
  const int b = static_cast<int>(128 + 110 * std::cos(u * 0.3 - v * 0.9));
  return static_cast<uint32_t>(r << 16 | g << 8 | b);
}

struct VideoVector {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint8_t>> units;
};

// False when the file is missing or malformed.
inline bool ReadVideoVector(const char* path, VideoVector& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<uint8_t> all;
  uint8_t chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) all.insert(all.end(), chunk, chunk + n);
  std::fclose(f);
  if (all.size() < 8) return false;
  out.width = ReadU16(all.data());
  out.height = ReadU16(all.data() + 2);
  const uint32_t frames = ReadU32(all.data() + 4);
  size_t at = 8;
  out.units.clear();
  for (uint32_t i = 0; i < frames; ++i) {
    if (all.size() - at < 4) return false;
    const uint32_t length = ReadU32(all.data() + at);
    at += 4;
    if (all.size() - at < length) return false;
    out.units.emplace_back(all.begin() + at, all.begin() + at + length);
    at += length;
  }
  return at == all.size();
}

inline bool WriteVideoVector(const char* path, const VideoVector& v) {
  std::vector<uint8_t> all(8);
  WriteU16(all.data(), static_cast<uint16_t>(v.width));
  WriteU16(all.data() + 2, static_cast<uint16_t>(v.height));
  WriteU32(all.data() + 4, static_cast<uint32_t>(v.units.size()));
  for (const auto& u : v.units) {
    uint8_t length[4];
    WriteU32(length, static_cast<uint32_t>(u.size()));
    all.insert(all.end(), length, length + 4);
    all.insert(all.end(), u.begin(), u.end());
  }
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(all.data(), 1, all.size(), f) == all.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace qc::test
