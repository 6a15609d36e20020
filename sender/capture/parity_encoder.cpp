// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/parity_encoder.h"

#include <algorithm>
#include <cstring>

#include "common/galois_field.h"

namespace qc {

void ParityEncoder::NoteLosses(int datagrams, int reporters, uint32_t nowMs) {
  windowReporters_ = std::max(windowReporters_, reporters);
  if (datagrams <= 0) return;
  lastLossMs_ = nowMs;
  sinceLoss_ = 0;
  windowLost_ += static_cast<uint32_t>(datagrams);
}

void ParityEncoder::Adapt(uint32_t nowMs) {
  ++windowSent_;
  if (sinceLoss_ < kQuietDatagrams) ++sinceLoss_;
  if (group_ > 0 && sinceLoss_ >= kQuietDatagrams && nowMs - lastLossMs_ >= kQuietMs) {
    group_ = 0;
    windowStartMs_ = nowMs;
    windowSent_ = windowLost_ = 0;
    windowReporters_ = 0;
    return;
  }
  if (nowMs - windowStartMs_ < kWindowMs || windowSent_ < kWindowDatagrams) return;
  const double needed = static_cast<double>(windowLost_) / windowSent_;
  if (group_ == 0) {
    if (needed > kStartAbove && windowReporters_ >= kStartReporters) group_ = kFirstGroup;
  } else if (needed > kShrinkAbove) {
    group_ = std::max(kMinGroup, group_ / 2);
  } else if (needed < kGrowBelow) {
    // Too few datagrams to tell a network that lost nothing from luck (24
    // of a crowd at 5% pass untouched a third of the time, as the heals of
    // a still screen did): the window goes on.
    if (windowSent_ < kGrowDatagrams) return;
    group_ = std::min(kMaxGroup, group_ * 2);
  }
  windowStartMs_ = nowMs;
  windowSent_ = windowLost_ = 0;
  windowReporters_ = 0;
}

bool ParityEncoder::Continues(uint32_t sequence, size_t length) const {
  const Group& g = groups_[0];
  return group_ > 0 && sequence == g.first + static_cast<uint32_t>(g.count) &&
         length >= kCompressedHeaderSize && length - kCompressedHeaderSize <= kMaxParityData;
}

bool ParityEncoder::Join(const uint8_t* datagram, size_t length, uint32_t sequence,
                         uint32_t nowMs) {
  if (group_ == 0 || length < kCompressedHeaderSize) return false;
  if (length - kCompressedHeaderSize > kMaxParityData) return false;  // never protected
  earned_ += length * kShareNum;
  allowance_ = std::min(kAllowanceBytes, allowance_ + earned_ / kShareDen);
  earned_ %= kShareDen;
  if (!store_) store_ = std::make_unique<uint8_t[]>(kStoreSlots * kMaxDatagram);
  Group& g = groups_[0];
  if (g.count == 0) {
    const uint16_t screenId = ReadU16(datagram + 2);
    if (screenId != screenId_) groups_[1].count = groups_[2].count = 0;
    screenId_ = screenId;
    g = Group{sequence, 0, {}};
    openedMs_ = nowMs;
    openBytes_ = openLongest_ = 0;
  }
  ++g.count;
  const size_t data = length - kCompressedHeaderSize;
  openBytes_ += data;
  openLongest_ = std::max(openLongest_, data);
  std::memcpy(StoreData(sequence), datagram, length);
  StoredLength(sequence) = length;
  const bool full = g.count > group_ ||
                    (g.count == group_ &&
                     openBytes_ >= static_cast<size_t>(group_ - 1) * openLongest_);
  return full || g.count >= kMaxGroup || (g.count == 2 && nowMs - openedMs_ >= kGroupMs);
}

bool ParityEncoder::Spans(int k) const {
  for (int i = 1; i <= k; ++i) {
    const Group& before = groups_[i];
    const Group& after = groups_[i - 1];
    if (before.count == 0 || before.first + static_cast<uint32_t>(before.count) != after.first) {
      return false;
    }
  }
  const size_t own = groups_[0].longest;
  return groups_[k].longest <= own + own / 4;
}

ParityEncoder::Datagram ParityEncoder::Finish() {
  Group& open = groups_[0];
  open.longest = openLongest_;
  bool spans[kSpan] = {true};
  int oldest = 0;
  for (int k = 1; k < kSpan; ++k) {
    spans[k] = Spans(k);
    if (spans[k]) oldest = k;
  }
  ParityHeader h{screenId_, groups_[oldest].first, 0, kParitySchemeCoded, 0, 0, 0};
  h.count = static_cast<uint8_t>(open.first + static_cast<uint32_t>(open.count) - h.first);
  size_t length = 0;
  for (int k = 0; k < kSpan; ++k) {
    if (!spans[k]) continue;
    const Group& g = groups_[k];
    h.members |= ((1u << g.count) - 1u) << (g.first - h.first);
    length = std::max(length, g.longest);
  }
  groups_[2] = groups_[1];
  groups_[1] = open;
  open.count = 0;
  last_ = h;
  lastLength_ = length;
  return Encode(h, length);
}

ParityEncoder::Datagram ParityEncoder::Encode(ParityHeader h, size_t length) {
  uint8_t* data = out_ + h.DataOffset();
  std::memset(data, 0, length);
  for (uint32_t s = h.first; s != h.first + h.count; ++s) {
    if (!h.IsMember(s)) continue;
    const size_t whole = StoredLength(s);
    const uint8_t* d = StoreData(s);
    const uint8_t c = h.Coefficient(s);
    h.lengths ^= gf::Mul16(c, static_cast<uint16_t>(whole));
    h.types ^= gf::Mul16(c, ReadU16(d));
    gf::MulAdd(d + kCompressedHeaderSize, data, c, whole - kCompressedHeaderSize);
  }
  BuildParityHeader(h, out_);
  return Datagram{out_, h.DataOffset() + length};
}

ParityEncoder::Datagram ParityEncoder::SecondParity() {
  ParityHeader h = last_;
  h.scheme = kParitySchemeMembers;
  return Encode(h, lastLength_);
}

ParityEncoder::Datagram ParityEncoder::Copy(uint32_t sequence) {
  if (!store_) return Datagram{};
  const size_t length = StoredLength(sequence);
  const uint8_t* d = StoreData(sequence);
  if (length < kCompressedHeaderSize || ReadU32(d + 4) != sequence) return Datagram{};
  ParityHeader h{ReadU16(d + 2), sequence, 1, kParitySchemeCopy, static_cast<uint16_t>(length),
                 ReadU16(d), 0};
  BuildParityHeader(h, out_);
  std::memcpy(out_ + kParityHeaderSize, d + kCompressedHeaderSize, length - kCompressedHeaderSize);
  return Datagram{out_, kParityHeaderSize + length - kCompressedHeaderSize};
}

int ParityEncoder::DueMs(uint32_t nowMs) const {
  int due = GroupDueMs(nowMs);
  if (secondPending_) {
    const int32_t second = std::max<int32_t>(0, static_cast<int32_t>(secondDueMs_ - nowMs));
    if (due < 0 || second < due) due = second;
  }
  if (copyCount_ > 0) {
    const int32_t copy = std::max<int32_t>(0, static_cast<int32_t>(copies_[copyFirst_].dueMs - nowMs));
    if (due < 0 || copy < due) due = copy;
  }
  return due;
}

int ParityEncoder::GroupDueMs(uint32_t nowMs) const {
  const Group& g = groups_[0];
  if (g.count == 0) return -1;
  const uint32_t age = nowMs - openedMs_;
  // A lone datagram after a group is protected with that group.
  const bool after = groups_[1].count > 0 &&
                     groups_[1].first + static_cast<uint32_t>(groups_[1].count) == g.first;
  const uint32_t limit = g.count == 1 && !after ? kLoneMs : kGroupMs;
  return age >= limit ? 0 : static_cast<int>(limit - age);
}

void ParityEncoder::Discard() {
  secondPending_ = false;
  for (Group& g : groups_) g.count = 0;
  copyCount_ = 0;
}

}  // namespace qc
