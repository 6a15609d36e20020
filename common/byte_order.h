// SPDX-License-Identifier: GPL-3.0-or-later
// Little-endian field access for datagrams and encoded payloads.
// Every multi-byte field on the wire is little-endian; these helpers read and
// write it byte by byte, so no struct is ever cast over received bytes.
#pragma once

#include <cstdint>

namespace qc {

inline uint16_t ReadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline int16_t ReadI16(const uint8_t* p) {
  return static_cast<int16_t>(ReadU16(p));
}

inline uint32_t ReadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadU64(const uint8_t* p) {
  return static_cast<uint64_t>(ReadU32(p)) | (static_cast<uint64_t>(ReadU32(p + 4)) << 32);
}

inline void WriteU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void WriteI16(uint8_t* p, int16_t v) {
  WriteU16(p, static_cast<uint16_t>(v));
}

inline void WriteU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void WriteU64(uint8_t* p, uint64_t v) {
  WriteU32(p, static_cast<uint32_t>(v));
  WriteU32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace qc
