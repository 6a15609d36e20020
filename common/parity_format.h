// SPDX-License-Identifier: GPL-3.0-or-later
// Parity datagrams (type 0xFFF6): one XOR parity over some of a run of
// consecutively numbered compressed datagrams (FullUpdate, Update,
// CursorShape), sent to the data port after them. A receiver that holds
// every member but one rebuilds that one byte for byte; receivers that do
// not know the type ignore it.
//
//    0 u16 type 0xFFF6        2 u16 screen identifier
//    4 u32 first sequence     8 u8  count (numbers first..first+count-1, 1..32)
//    9 u8  scheme            10 u16 XOR of the members' lengths
//   12 u16 XOR of their type codes
//   scheme 0: every number of the run is a member;
//     14 ... XOR of what follows each member's 8-byte header, each padded
//            with zeros to the longest (so as long as the longest one's data)
//   scheme 1: the members are named;
//     14 u32 members: bit i set for first+i (bits 0 and count-1 set)
//     18 ... the XOR as above
//
// A datagram whose data is longer than kMaxParityData is never a member
// (its parity would not fit a datagram that receivers accept).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/byte_order.h"
#include "common/protocol.h"

namespace qc {

inline constexpr uint16_t kParityType = 0xFFF6;
inline constexpr size_t kParityHeaderSize = 14;
inline constexpr size_t kMembersSize = 4;
inline constexpr size_t kMaxParityData = kMaxDatagram - kParityHeaderSize - kMembersSize;
inline constexpr int kMaxParityGroup = 32;
inline constexpr uint8_t kParitySchemeXor = 0;
inline constexpr uint8_t kParitySchemeMembers = 1;

struct ParityHeader {
  uint16_t screenId = 0;
  uint32_t first = 0;
  uint8_t count = 0;
  uint8_t scheme = kParitySchemeXor;
  uint16_t lengths = 0;  // XOR of the datagram lengths
  uint16_t types = 0;    // XOR of the type codes
  uint32_t members = 0;  // bit i: first+i is a member
  // Where the XOR of the data begins.
  size_t DataOffset() const {
    return scheme == kParitySchemeMembers ? kParityHeaderSize + kMembersSize : kParityHeaderSize;
  }
  bool IsMember(uint32_t sequence) const {
    const uint32_t i = sequence - first;
    return i < count && (members >> i & 1u) != 0;
  }
};

// Writes h.DataOffset() bytes.
inline void BuildParityHeader(const ParityHeader& h, uint8_t* out) {
  WriteU16(out, kParityType);
  WriteU16(out + 2, h.screenId);
  WriteU32(out + 4, h.first);
  out[8] = h.count;
  out[9] = h.scheme;
  WriteU16(out + 10, h.lengths);
  WriteU16(out + 12, h.types);
  if (h.scheme == kParitySchemeMembers) WriteU32(out + kParityHeaderSize, h.members);
}

// False for anything but a parity datagram of a known scheme over a run of
// 1..kMaxParityGroup numbers whose first and last are members.
inline bool ParseParityHeader(const uint8_t* data, size_t length, ParityHeader& out) {
  if (length < kParityHeaderSize || ReadU16(data) != kParityType) return false;
  ParityHeader h{ReadU16(data + 2), ReadU32(data + 4), data[8], data[9], ReadU16(data + 10),
                 ReadU16(data + 12)};
  if (h.count == 0 || h.count > kMaxParityGroup) return false;
  const uint32_t all = h.count == 32 ? ~0u : (1u << h.count) - 1u;
  if (h.scheme == kParitySchemeXor) {
    h.members = all;
  } else if (h.scheme == kParitySchemeMembers && length >= kParityHeaderSize + kMembersSize) {
    h.members = ReadU32(data + kParityHeaderSize);
    if ((h.members & ~all) != 0 || (h.members & 1u) == 0 || (h.members >> (h.count - 1)) == 0) {
      return false;
    }
  } else {
    return false;
  }
  out = h;
  return true;
}

}  // namespace qc
