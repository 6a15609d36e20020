// SPDX-License-Identifier: GPL-3.0-or-later
// Parity datagrams (type 0xFFF6): one parity over some of a run of
// consecutively numbered compressed datagrams (FullUpdate, Update,
// CursorShape), sent to the data port after them. A receiver that holds
// every member but one rebuilds that one byte for byte, and one that
// misses k members rebuilds them from k parities that have them; receivers
// that do not know the type ignore it.
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
//   scheme 2: named members as in scheme 1, each multiplied by its
//     coefficient (ParityCoefficient) in GF(2^8) before the XOR, byte by
//     byte, in the lengths and type codes too (high and low byte each).
//     The parities that have a member do so with different coefficients,
//     so that any two of them tell two lost members apart, where XOR
//     parities that both have both tell nothing.
//   scheme 3: a copy of one datagram (count 1), laid out as scheme 0: the
//     datagram again for receivers that lost it. It says nothing of any
//     other number, so it is not one of the parities that can rebuild them.
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
inline constexpr uint8_t kParitySchemeCoded = 2;
inline constexpr uint8_t kParitySchemeCopy = 3;
// A datagram is a member of its own group's parity and at most of the
// next kParityReach - 1 groups' parities, which are sent in order: once
// kParityReach parities that end at or after a lost number have come, none
// to come can rebuild it.
inline constexpr int kParityReach = 3;

// The coefficient of member `sequence` in a scheme-2 parity over the
// numbers first..first+count-1: 1..255, from a hash of the three, so that
// the parities of one datagram give it unrelated coefficients.
inline uint8_t ParityCoefficient(uint32_t first, uint8_t count, uint32_t sequence) {
  uint32_t x = sequence * 2654435761u ^ (first * 40503u + count) * 2246822519u;
  x ^= x >> 15;
  x *= 2654435761u;
  x ^= x >> 13;
  return static_cast<uint8_t>(1 + x % 255);
}

struct ParityHeader {
  uint16_t screenId = 0;
  uint32_t first = 0;
  uint8_t count = 0;
  uint8_t scheme = kParitySchemeXor;
  uint16_t lengths = 0;  // XOR of the datagram lengths (times their coefficients)
  uint16_t types = 0;    // XOR of the type codes (likewise)
  uint32_t members = 0;  // bit i: first+i is a member
  // Where the XOR of the data begins.
  size_t DataOffset() const {
    return scheme == kParitySchemeXor || scheme == kParitySchemeCopy
               ? kParityHeaderSize
               : kParityHeaderSize + kMembersSize;
  }
  bool IsMember(uint32_t sequence) const {
    const uint32_t i = sequence - first;
    return i < count && (members >> i & 1u) != 0;
  }
  // What member `sequence` is multiplied by (1: plain XOR).
  uint8_t Coefficient(uint32_t sequence) const {
    return scheme == kParitySchemeCoded ? ParityCoefficient(first, count, sequence) : 1;
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
  if (h.DataOffset() > kParityHeaderSize) WriteU32(out + kParityHeaderSize, h.members);
}

// False for anything but a parity datagram of a known scheme over a run of
// 1..kMaxParityGroup numbers whose first and last are members (a copy: one
// number).
inline bool ParseParityHeader(const uint8_t* data, size_t length, ParityHeader& out) {
  if (length < kParityHeaderSize || ReadU16(data) != kParityType) return false;
  ParityHeader h{ReadU16(data + 2), ReadU32(data + 4), data[8], data[9], ReadU16(data + 10),
                 ReadU16(data + 12)};
  if (h.count == 0 || h.count > kMaxParityGroup) return false;
  const uint32_t all = h.count == 32 ? ~0u : (1u << h.count) - 1u;
  if (h.scheme == kParitySchemeXor || (h.scheme == kParitySchemeCopy && h.count == 1)) {
    h.members = all;
  } else if ((h.scheme == kParitySchemeMembers || h.scheme == kParitySchemeCoded) &&
             length >= kParityHeaderSize + kMembersSize) {
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
