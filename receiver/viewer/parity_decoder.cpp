// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/parity_decoder.h"

#include <algorithm>
#include <cstring>

#include "common/galois_field.h"
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
  if (!data_) data_ = std::make_unique<uint8_t[]>((kSlots + 2 * kKeptParities) * kSlotBytes);
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

ParityDecoder::Result ParityDecoder::Add(const uint8_t* parity, size_t length,
                                         uint16_t screenId) {
  ParityHeader h;
  if (!ParseParityHeader(parity, length, h) || h.screenId != screenId ||
      length < h.DataOffset() || length > kSlotBytes) {
    return Result::Malformed;
  }
  const size_t bytes = length - h.DataOffset();
  uint16_t lengths = h.lengths;
  uint16_t types = h.types;
  int missing = 0;
  uint8_t lost = 1;  // the coefficient of a missing member
  for (uint32_t i = 0; i < h.count; ++i) {
    const uint32_t s = h.first + i;
    if (!h.IsMember(s)) continue;
    size_t n = 0;
    const uint8_t* d = Find(s, n);
    if (d == nullptr) {
      ++missing;
      lost = h.Coefficient(s);
      continue;
    }
    // A member longer than the parity's data cannot be of this group.
    if (n - kCompressedHeaderSize > bytes) return Result::Malformed;
    const uint8_t c = h.Coefficient(s);
    lengths ^= gf::Mul16(c, static_cast<uint16_t>(n));
    types ^= gf::Mul16(c, ReadU16(d));
  }
  if (missing == 0) return Result::Complete;
  if (missing == 1) {
    // What the missing member would be must be a datagram the group can
    // have held.
    const uint16_t whole = gf::Div16(lengths, lost);
    if (whole < kCompressedHeaderSize || whole - kCompressedHeaderSize > bytes ||
        !IsCompressedType(gf::Div16(types, lost))) {
      return Result::Malformed;
    }
  }
  Allocate();
  std::memcpy(ParityData(nextParity_), parity, length);
  parityLengths_[nextParity_] = static_cast<uint32_t>(length);
  nextParity_ = (nextParity_ + 1) % kKeptParities;
  return Result::Kept;
}

bool ParityDecoder::Tried(uint32_t sequence) const {
  for (int i = 0; i < kKeptParities; ++i) {
    ParityHeader h;
    if (parityLengths_[i] != 0 && ParseParityHeader(ParityData(i), parityLengths_[i], h) &&
        h.IsMember(sequence)) {
      return true;
    }
  }
  return false;
}

bool ParityDecoder::Equate(int i, Equation& e) {
  const uint8_t* parity = ParityData(i);
  ParityHeader h;
  if (!ParseParityHeader(parity, parityLengths_[i], h)) return false;  // checked when added
  e.unknowns = 0;
  std::memset(e.coefficients, 0, sizeof e.coefficients);
  e.bytes = parityLengths_[i] - h.DataOffset();
  e.lengths = h.lengths;
  e.types = h.types;
  e.screenId = h.screenId;
  std::memcpy(e.data, parity + h.DataOffset(), e.bytes);
  for (uint32_t k = 0; k < h.count; ++k) {
    const uint32_t s = h.first + k;
    if (!h.IsMember(s)) continue;
    size_t n = 0;
    const uint8_t* d = Find(s, n);
    if (d == nullptr) {
      int u = 0;
      while (u < unknowns_ && unknown_[u] != s) ++u;
      if (u == kMaxUnknowns) return false;
      if (u == unknowns_) unknown_[unknowns_++] = s;
      e.unknowns |= uint64_t{1} << u;
      e.coefficients[u] = h.Coefficient(s);
      continue;
    }
    // A member rebuilt since may not fit.
    if (n - kCompressedHeaderSize > e.bytes) return false;
    const uint8_t c = h.Coefficient(s);
    gf::MulAdd(d + kCompressedHeaderSize, e.data, c, n - kCompressedHeaderSize);
    e.lengths ^= gf::Mul16(c, static_cast<uint16_t>(n));
    e.types ^= gf::Mul16(c, ReadU16(d));
  }
  return true;
}

void ParityDecoder::Eliminate(Equation& e, const Equation& by, uint8_t factor) const {
  if (by.bytes > e.bytes) {
    std::memset(e.data + e.bytes, 0, by.bytes - e.bytes);
    e.bytes = by.bytes;
  }
  gf::MulAdd(by.data, e.data, factor, by.bytes);
  for (int u = 0; u < unknowns_; ++u) {
    e.coefficients[u] ^= gf::Mul(factor, by.coefficients[u]);
    if (e.coefficients[u] == 0) {
      e.unknowns &= ~(uint64_t{1} << u);
    } else {
      e.unknowns |= uint64_t{1} << u;
    }
  }
  e.lengths ^= gf::Mul16(factor, by.lengths);
  e.types ^= gf::Mul16(factor, by.types);
}

void ParityDecoder::Normalize(Equation& e, int u) const {
  const uint8_t factor = gf::Div(1, e.coefficients[u]);
  if (factor == 1) return;
  gf::Scale(e.data, factor, e.bytes);
  for (int v = 0; v < unknowns_; ++v) e.coefficients[v] = gf::Mul(factor, e.coefficients[v]);
  e.lengths = gf::Mul16(factor, e.lengths);
  e.types = gf::Mul16(factor, e.types);
}

int ParityDecoder::Solve(uint32_t from, uint32_t to, uint32_t* rebuilt, int most) {
  if (!data_) return 0;
  // Gauss-Jordan elimination over GF(2^8): every kept equation is reduced
  // by the pivots so far, and a new pivot (scaled to 1) is eliminated from
  // those before, so that an unknown the equations determine ends up alone
  // in its row.
  unknowns_ = 0;
  Equation rows[kKeptParities];
  int pivot[kKeptParities] = {};
  int count = 0;
  for (int i = 0; i < kKeptParities; ++i) {
    if (parityLengths_[i] == 0) continue;
    Equation& e = rows[count];
    e.data = EquationData(count);
    if (!Equate(i, e)) continue;
    for (int r = 0; r < count; ++r) {
      if (e.unknowns >> pivot[r] & 1u) Eliminate(e, rows[r], e.coefficients[pivot[r]]);
    }
    if (e.unknowns == 0) continue;  // nothing new (or what arrived contradicts it)
    int p = 0;
    while ((e.unknowns >> p & 1u) == 0) ++p;
    Normalize(e, p);
    for (int r = 0; r < count; ++r) {
      if (rows[r].unknowns >> p & 1u) Eliminate(rows[r], e, rows[r].coefficients[p]);
    }
    pivot[count++] = p;
  }
  int done = 0;
  for (int r = 0; r < count; ++r) {
    const Equation& e = rows[r];
    if (e.unknowns != uint64_t{1} << pivot[r]) continue;
    const uint32_t s = unknown_[pivot[r]];
    if (s - from > to - from) continue;
    // What it leaves must be a datagram the parities can have held.
    if (e.lengths < kCompressedHeaderSize || e.lengths - kCompressedHeaderSize > e.bytes ||
        !IsCompressedType(e.types)) {
      continue;
    }
    uint8_t* out = SlotData(s);
    std::memcpy(out + kCompressedHeaderSize, e.data, e.lengths - kCompressedHeaderSize);
    BuildCompressedHeader({e.types, e.screenId, s}, out);
    slots_[s % kSlots] = Slot{s, e.lengths};
    if (done < most) rebuilt[done++] = s;
  }
  std::sort(rebuilt, rebuilt + done, [from](uint32_t a, uint32_t b) { return a - from < b - from; });
  return done;
}

}  // namespace qc
