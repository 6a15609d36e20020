// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/parity_decoder.h"

#include <cstring>

#include "common/parity_format.h"
#include "common/protocol.h"

namespace qc {

static_assert(kMaxDatagram <= 60000, "slots hold whole datagrams");
static_assert(ParityDecoder::kSlots >= kMaxParityGroup + 16,
              "a group and what is held behind it fit the slots");

void ParityDecoder::Reset() {
  for (Slot& s : slots_) s = Slot{};
  for (uint32_t& n : parityLengths_) n = 0;
}

void ParityDecoder::Allocate() {
  if (!data_) data_ = std::make_unique<uint8_t[]>((kSlots + kKeptParities) * kSlotBytes);
}

void ParityDecoder::Release() {
  Reset();
  data_.reset();
}

void ParityDecoder::Keep(uint32_t sequence, const uint8_t* datagram, size_t length) {
  if (length < kCompressedHeaderSize || length > kSlotBytes) return;
  Allocate();
  Slot& s = slots_[sequence % kSlots];
  std::memcpy(SlotData(sequence), datagram, length);
  s.sequence = sequence;
  s.length = static_cast<uint32_t>(length);
}

const uint8_t* ParityDecoder::Find(uint32_t sequence, size_t& length) const {
  const Slot& s = slots_[sequence % kSlots];
  if (!data_ || s.length == 0 || s.sequence != sequence) return nullptr;
  length = s.length;
  return SlotData(sequence);
}

void ParityDecoder::KeepParity(const uint8_t* parity, size_t length) {
  if (length == 0 || length > kSlotBytes) return;
  Allocate();
  std::memcpy(data_.get() + (kSlots + static_cast<size_t>(nextParity_)) * kSlotBytes, parity,
              length);
  parityLengths_[nextParity_] = static_cast<uint32_t>(length);
  nextParity_ = (nextParity_ + 1) % kKeptParities;
}

const uint8_t* ParityDecoder::KeptParity(int i, size_t& length) const {
  if (!data_ || i < 0 || i >= kKeptParities || parityLengths_[i] == 0) return nullptr;
  length = parityLengths_[i];
  return data_.get() + (kSlots + static_cast<size_t>(i)) * kSlotBytes;
}

ParityDecoder::Result ParityDecoder::Rebuild(const uint8_t* parity, size_t length,
                                             uint16_t screenId, uint32_t from, uint32_t to,
                                             uint32_t& rebuilt) {
  ParityHeader h;
  if (!ParseParityHeader(parity, length, h) || h.screenId != screenId) return Result::Malformed;
  if (length < h.DataOffset()) return Result::Malformed;
  const size_t parityData = length - h.DataOffset();
  uint16_t lengths = h.lengths;
  uint16_t types = h.types;
  int missing = 0;
  uint32_t lost = 0;
  for (uint32_t i = 0; i < h.count; ++i) {
    const uint32_t s = h.first + i;
    if (!h.IsMember(s)) continue;
    size_t n = 0;
    const uint8_t* d = Find(s, n);
    if (d == nullptr) {
      ++missing;
      lost = s;
      continue;
    }
    // A member longer than the parity's data cannot be of this group.
    if (n - kCompressedHeaderSize > parityData) return Result::Malformed;
    lengths ^= static_cast<uint16_t>(n);
    types ^= ReadU16(d);
  }
  if (missing == 0) return Result::Complete;
  if (missing > 1 || !data_ || lost - from > to - from) return Result::TooMany;
  // What the XOR leaves must be a datagram the group can have held.
  if (lengths < kCompressedHeaderSize || lengths - kCompressedHeaderSize > parityData ||
      !IsCompressedType(types)) {
    return Result::Malformed;
  }
  uint8_t* out = SlotData(lost);
  const size_t data = lengths - kCompressedHeaderSize;
  std::memcpy(out + kCompressedHeaderSize, parity + h.DataOffset(), data);
  for (uint32_t i = 0; i < h.count; ++i) {
    const uint32_t s = h.first + i;
    if (s == lost || !h.IsMember(s)) continue;
    size_t n = 0;
    const uint8_t* d = Find(s, n);
    const size_t common = n - kCompressedHeaderSize < data ? n - kCompressedHeaderSize : data;
    for (size_t b = 0; b < common; ++b) out[kCompressedHeaderSize + b] ^= d[kCompressedHeaderSize + b];
  }
  BuildCompressedHeader({types, screenId, lost}, out);
  slots_[lost % kSlots] = Slot{lost, static_cast<uint32_t>(lengths)};
  rebuilt = lost;
  return Result::Rebuilt;
}

}  // namespace qc
