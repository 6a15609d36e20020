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
  if (count_ == 0) {
    first_ = sequence;
    openedMs_ = nowMs;
    screenId_ = ReadU16(datagram + 2);
    WriteU16(out_ + 2, screenId_);
    lengths_ = types_ = 0;
    // The last group's parity has gone out: clear what it used.
    std::memset(out_ + kParityHeaderSize, 0, dataLength_);
    dataLength_ = 0;
  }
  ++count_;
  lengths_ ^= static_cast<uint16_t>(length);
  types_ ^= ReadU16(datagram);
  uint8_t* acc = out_ + kParityHeaderSize;
  const uint8_t* in = datagram + kCompressedHeaderSize;
  for (size_t i = 0; i < data; ++i) acc[i] ^= in[i];
  dataLength_ = std::max(dataLength_, data);
  return count_ >= group_ || count_ >= kMaxParityGroup ||
         (count_ == 2 && nowMs - openedMs_ >= kGroupMs);
}

ParityEncoder::Datagram ParityEncoder::Finish() {
  BuildParityHeader({screenId_, first_, static_cast<uint8_t>(count_), kParitySchemeXor, lengths_,
                     types_},
                    out_);
  Datagram d{out_, kParityHeaderSize + dataLength_};
  // Sent (or not) before the next Join clears the accumulator.
  count_ = 0;
  return d;
}

int ParityEncoder::DueMs(uint32_t nowMs) const {
  if (count_ == 0) return -1;
  const uint32_t age = nowMs - openedMs_;
  const uint32_t limit = count_ == 1 ? kLoneMs : kGroupMs;
  return age >= limit ? 0 : static_cast<int>(limit - age);
}

void ParityEncoder::Discard() { count_ = 0; }

}  // namespace qc
