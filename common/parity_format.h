// SPDX-License-Identifier: GPL-3.0-or-later
// Parity datagrams (type 0xFFF6): one XOR parity over a group of
// consecutively numbered compressed datagrams (FullUpdate, Update,
// CursorShape), sent to the data port right after the group. A receiver
// that holds every datagram of the group but one rebuilds that one byte for
// byte; receivers that do not know the type ignore it.
//
//    0 u16 type 0xFFF6        2 u16 screen identifier
//    4 u32 first sequence     8 u8  count (datagrams in the group, 1..32)
//    9 u8  scheme (0: XOR)   10 u16 XOR of the datagrams' lengths
//   12 u16 XOR of their type codes
//   14 ... XOR of what follows each datagram's 8-byte header, each padded
//          with zeros to the longest (so as long as the longest one's data)
//
// A datagram whose data is longer than kMaxParityData is never part of a
// group (its parity would not fit a datagram that receivers accept).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/protocol.h"

namespace qc {

inline constexpr uint16_t kParityType = 0xFFF6;
inline constexpr size_t kParityHeaderSize = 14;
inline constexpr size_t kMaxParityData = kMaxDatagram - kParityHeaderSize;
inline constexpr int kMaxParityGroup = 32;
inline constexpr uint8_t kParitySchemeXor = 0;

struct ParityHeader {
  uint16_t screenId = 0;
  uint32_t first = 0;
  uint8_t count = 0;
  uint8_t scheme = kParitySchemeXor;
  uint16_t lengths = 0;  // XOR of the datagram lengths
  uint16_t types = 0;    // XOR of the type codes
};

inline void BuildParityHeader(const ParityHeader& h, uint8_t out[kParityHeaderSize]) {
  WriteU16(out, kParityType);
  WriteU16(out + 2, h.screenId);
  WriteU32(out + 4, h.first);
  out[8] = h.count;
  out[9] = h.scheme;
  WriteU16(out + 10, h.lengths);
  WriteU16(out + 12, h.types);
}

// False for anything but a parity datagram of a known scheme with a group of
// 1..kMaxParityGroup datagrams.
inline bool ParseParityHeader(const uint8_t* data, size_t length, ParityHeader& out) {
  if (length < kParityHeaderSize || ReadU16(data) != kParityType) return false;
  ParityHeader h{ReadU16(data + 2), ReadU32(data + 4), data[8], data[9], ReadU16(data + 10),
                 ReadU16(data + 12)};
  if (h.scheme != kParitySchemeXor || h.count == 0 || h.count > kMaxParityGroup) return false;
  out = h;
  return true;
}

}  // namespace qc
