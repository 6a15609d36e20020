// SPDX-License-Identifier: GPL-3.0-or-later
// ParityDecoder: keeps copies of the last kSlots numbered datagrams of the
// transmission and rebuilds a lost one from a parity datagram
// (common/parity_format.h) when it holds every other member of the parity.
// The update processor holds what follows a loss here until the parity
// comes, then applies everything in order.
//
// Parity datagrams that found two or more holes are kept too (the last
// kKeptParities): when another parity rebuilds one hole, a kept one may
// then rebuild the next.
//
// The slots ((kSlots + kKeptParities) x 60000 bytes) are allocated with the
// first datagram kept, that is once a sender has sent parity; nothing is
// allocated per datagram. Threads: the update thread only.
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
    TooMany,    // more than one member missing (or a group never seen)
    Rebuilt,
  };

  // A new stream (an init message): forgets every datagram and parity.
  void Reset();
  // Gives back the slots (end of a viewer cycle).
  void Release();

  // A numbered datagram of the transmission, whole (at most 60000 bytes).
  void Keep(uint32_t sequence, const uint8_t* datagram, size_t length);
  // The kept datagram of this number, or null.
  const uint8_t* Find(uint32_t sequence, size_t& length) const;
  // Keeps a parity datagram (at most 60000 bytes) for another try, in
  // place of the oldest kept.
  void KeepParity(const uint8_t* parity, size_t length);
  // Kept parity i (0..kKeptParities-1), or null.
  const uint8_t* KeptParity(int i, size_t& length) const;
  // Rebuilds the one missing member of the parity into its slot
  // (rebuilt := its number) when that number lies in from..to, the hole
  // being waited for; a missing number elsewhere counts as TooMany.
  // screenId: the transmission's.
  Result Rebuild(const uint8_t* parity, size_t length, uint16_t screenId, uint32_t from,
                 uint32_t to, uint32_t& rebuilt);

 private:
  struct Slot {
    uint32_t sequence = 0;
    uint32_t length = 0;  // 0: empty
  };
  uint8_t* SlotData(uint32_t sequence) const {
    return data_.get() + static_cast<size_t>(sequence % kSlots) * kSlotBytes;
  }
  static constexpr size_t kSlotBytes = 60000;

  void Allocate();

  std::unique_ptr<uint8_t[]> data_;
  Slot slots_[kSlots] = {};
  uint32_t parityLengths_[kKeptParities] = {};  // 0: none
  int nextParity_ = 0;
};

}  // namespace qc
