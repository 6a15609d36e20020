// SPDX-License-Identifier: GPL-3.0-or-later
// ParityDecoder: keeps copies of the last kSlots numbered datagrams of the
// transmission and rebuilds lost ones from parity datagrams
// (common/parity_format.h).
// The update processor holds what follows a loss here until a parity
// rebuilds it, then applies everything in order.
//
// Every parity that misses a member is kept (the last kKeptParities), and
// the kept ones are solved together: each is one equation over its missing
// members (their coefficients in GF(2^8); 1 for the XOR schemes), and
// eliminating them against each other finds every member they determine:
// two parities of the coded scheme that both miss the same two members
// give both, and XOR parities missing {a, b, c} and {a, b} give c.
//
// The slots ((kSlots + 2 kKeptParities) x 60000 bytes: datagrams, kept
// parities, equations) are allocated with the first datagram kept, that is
// once a sender has sent parity; nothing is allocated per datagram.
// Threads: the update thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qc {

class ParityDecoder {
 public:
  // Room for the largest group and the datagrams held behind a loss.
  static constexpr uint32_t kSlots = 48;
  // The parities of three groups reach back over two more.
  static constexpr int kKeptParities = 8;

  enum class Result {
    Malformed,  // not a parity datagram, or inconsistent with its members
    Complete,   // no member is missing
    Kept,       // kept for Solve
  };

  // A new stream (an init message): forgets every datagram and parity.
  void Reset();
  // Gives back the slots (end of a viewer cycle).
  void Release();

  // A numbered datagram of the transmission, whole (at most 60000 bytes).
  void Keep(uint32_t sequence, const uint8_t* datagram, size_t length);
  // The kept datagram of this number, or null.
  const uint8_t* Find(uint32_t sequence, size_t& length) const;
  // A parity datagram of the transmission screenId: checked against the
  // members at hand, and kept (in place of the oldest) when it misses one.
  Result Add(const uint8_t* parity, size_t length, uint16_t screenId);
  // Solves the kept parities together and rebuilds into their slots the
  // missing numbers in from..to (the holes being waited for) that they
  // determine. Writes up to `most` of them to `rebuilt`, in number order,
  // and returns how many. Parities that contradict what is at hand (a
  // member longer than their data, a rebuilt length or type no datagram
  // can have) rebuild nothing.
  int Solve(uint32_t from, uint32_t to, uint32_t* rebuilt, int most);
  // Whether a kept parity has `sequence` as a member: one that has it came
  // and, with the others kept, could not give it.
  bool Tried(uint32_t sequence) const;

 private:
  struct Slot {
    uint32_t sequence = 0;
    uint32_t length = 0;  // 0: empty
  };
  // One equation: the sum in GF(2^8) of the unknowns in `unknowns` (bit i:
  // unknown_[i]), each times its coefficient, equals the data (bytes
  // long), the lengths and the types.
  struct Equation {
    uint64_t unknowns = 0;
    uint8_t coefficients[64] = {};  // by unknown, 0 where not in it
    size_t bytes = 0;
    uint16_t lengths = 0;
    uint16_t types = 0;
    uint16_t screenId = 0;
    uint8_t* data = nullptr;
  };
  static constexpr size_t kSlotBytes = 60000;
  static constexpr int kMaxUnknowns = 64;
  uint8_t* SlotData(uint32_t sequence) const {
    return data_.get() + static_cast<size_t>(sequence % kSlots) * kSlotBytes;
  }
  uint8_t* ParityData(int i) const {
    return data_.get() + (kSlots + static_cast<size_t>(i)) * kSlotBytes;
  }
  uint8_t* EquationData(int i) const {
    return data_.get() + (kSlots + kKeptParities + static_cast<size_t>(i)) * kSlotBytes;
  }
  void Allocate();
  // Kept parity i as an equation over what is missing; false when it
  // contradicts a member at hand or misses more numbers than fit.
  bool Equate(int i, Equation& e);
  // e -= factor * by.
  void Eliminate(Equation& e, const Equation& by, uint8_t factor) const;
  // Scales e so that unknown u has the coefficient 1.
  void Normalize(Equation& e, int u) const;

  std::unique_ptr<uint8_t[]> data_;
  Slot slots_[kSlots] = {};
  uint32_t parityLengths_[kKeptParities] = {};  // 0: none
  int nextParity_ = 0;
  uint32_t unknown_[kMaxUnknowns] = {};  // the numbers of Solve's unknowns
  int unknowns_ = 0;
};

}  // namespace qc
