// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/parity_encoder.h"

#include <algorithm>
#include <cstring>

namespace qc {

void ParityEncoder::NoteLosses(int datagrams, uint32_t nowMs) {
  if (datagrams <= 0) return;
  lastLossMs_ = nowMs;
  windowLost_ += static_cast<uint32_t>(datagrams);
}

void ParityEncoder::Adapt(uint32_t nowMs) {
  ++windowSent_;
  if (group_ > 0 && nowMs - lastLossMs_ >= kQuietMs) {
    group_ = 0;
    windowStartMs_ = nowMs;
    windowSent_ = windowLost_ = 0;
    return;
  }
  if (nowMs - windowStartMs_ < kWindowMs || windowSent_ < kWindowDatagrams) return;
  const double needed = static_cast<double>(windowLost_) / windowSent_;
  if (group_ == 0) {
    if (needed > kStartAbove) group_ = kFirstGroup;
  } else if (needed > kShrinkAbove) {
    group_ = std::max(kMinGroup, group_ / 2);
  } else if (needed < kGrowBelow) {
    group_ = std::min(kMaxGroup, group_ * 2);
  }
  windowStartMs_ = nowMs;
  windowSent_ = windowLost_ = 0;
}

bool ParityEncoder::Continues(uint32_t sequence, size_t length) const {
  return group_ > 0 && sequence == first_ + static_cast<uint32_t>(count_) &&
         length >= kCompressedHeaderSize && length - kCompressedHeaderSize <= kMaxParityData;
}

bool ParityEncoder::Join(const uint8_t* datagram, size_t length, uint32_t sequence,
                         uint32_t nowMs) {
  if (group_ == 0 || length < kCompressedHeaderSize) return false;
  const size_t data = length - kCompressedHeaderSize;
  if (data > kMaxParityData) return false;  // never protected
  earned_ += length * kShareNum;
  allowance_ = std::min(kAllowanceBytes, allowance_ + earned_ / kShareDen);
  earned_ %= kShareDen;
  if (!acc_) acc_ = std::make_unique<uint8_t[]>(2 * kMaxParityData);  // zeroed
  if (count_ == 0) {
    first_ = sequence;
    openedMs_ = nowMs;
    const uint16_t screenId = ReadU16(datagram + 2);
    if (screenId != screenId_) prevCount_ = 0;
    screenId_ = screenId;
    WriteU16(out_ + 2, screenId_);
    lengths_ = types_ = 0;
    dataLength_ = 0;
  }
  ++count_;
  lengths_ ^= static_cast<uint16_t>(length);
  types_ ^= ReadU16(datagram);
  uint8_t* acc = Acc(open_);
  const uint8_t* in = datagram + kCompressedHeaderSize;
  for (size_t i = 0; i < data; ++i) acc[i] ^= in[i];
  dataLength_ = std::max(dataLength_, data);
  return count_ >= group_ || count_ >= kMaxParityGroup ||
         (count_ == 2 && nowMs - openedMs_ >= kGroupMs);
}

ParityEncoder::Datagram ParityEncoder::Finish() {
  const uint8_t* acc = Acc(open_);
  uint8_t* data = out_ + kParityHeaderSize;
  size_t length = dataLength_;
  ParityHeader h{screenId_, first_, static_cast<uint8_t>(count_), kParitySchemeXor, lengths_,
                 types_};
  if (SpansPrevious()) {
    const uint8_t* prev = Acc(1 - open_);
    length = std::max(dataLength_, prevLength_);
    for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(acc[i] ^ prev[i]);
    h.first = prevFirst_;
    h.count = static_cast<uint8_t>(prevCount_ + count_);
    h.lengths ^= prevLengths_;
    h.types ^= prevTypes_;
  } else {
    std::memcpy(data, acc, dataLength_);
  }
  BuildParityHeader(h, out_);
  // This group is the one before the next; the accumulator of the one
  // before this is cleared for the next group.
  std::memset(Acc(1 - open_), 0, prevLength_);
  open_ = 1 - open_;
  prevCount_ = count_;
  prevFirst_ = first_;
  prevLengths_ = lengths_;
  prevTypes_ = types_;
  prevLength_ = dataLength_;
  count_ = 0;
  dataLength_ = 0;
  return Datagram{out_, kParityHeaderSize + length};
}

int ParityEncoder::DueMs(uint32_t nowMs) const {
  if (count_ == 0) return -1;
  const uint32_t age = nowMs - openedMs_;
  // A lone datagram after a group is protected with that group.
  const uint32_t limit = count_ == 1 && !SpansPrevious() ? kLoneMs : kGroupMs;
  return age >= limit ? 0 : static_cast<int>(limit - age);
}

void ParityEncoder::Discard() {
  if (acc_) std::memset(acc_.get(), 0, 2 * kMaxParityData);
  count_ = 0;
  prevCount_ = 0;
  dataLength_ = prevLength_ = 0;
}

}  // namespace qc
