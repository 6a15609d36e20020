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

// Bit k: a member of the parity k groups on. Two places of a group always
// differ, and in a group of up to 4 every place is a member of its own
// group's parity (a single loss is rebuilt with no wait) and of another.
uint8_t ParityEncoder::Column(int count, int place) {
  static constexpr uint8_t kColumns[kMaxGroup][kMaxGroup] = {
      {7}, {7, 3}, {7, 3, 5}, {7, 3, 5, 1}, {6, 7, 3, 5, 1}, {6, 2, 7, 3, 5, 1},
      {6, 2, 4, 7, 3, 5, 1}};
  return kColumns[count - 1][place];
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
  }
  ++g.count;
  std::memcpy(StoreData(sequence), datagram, length);
  StoredLength(sequence) = length;
  storedSeq_[sequence % kStoreSlots] = sequence;
  return g.count >= group_ || (g.count == 2 && nowMs - openedMs_ >= kGroupMs);
}

bool ParityEncoder::Spans(int k) const {
  for (int i = 1; i <= k; ++i) {
    const Group& before = groups_[i];
    const Group& after = groups_[i - 1];
    if (before.count == 0 || before.first + static_cast<uint32_t>(before.count) != after.first) {
      return false;
    }
  }
  const size_t own = groups_[0].longest[0];
  return groups_[k].longest[k] <= own + own / 4;
}

ParityEncoder::Datagram ParityEncoder::Finish() {
  // The longest member of each group for each parity, now that the open
  // group's size is known.
  Group& open = groups_[0];
  for (size_t& n : open.longest) n = 0;
  for (int place = 0; place < open.count; ++place) {
    const size_t data = StoredLength(open.first + static_cast<uint32_t>(place)) -
                        kCompressedHeaderSize;
    const uint8_t column = Column(open.count, place);
    for (int k = 0; k < kSpan; ++k) {
      if (column >> k & 1) open.longest[k] = std::max(open.longest[k], data);
    }
  }
  uint32_t members[kSpan * kMaxGroup];
  int n = 0;
  for (int k = kSpan - 1; k >= 0; --k) {  // in number order
    const Group& g = groups_[k];
    if (k > 0 && !Spans(k)) continue;
    for (int place = 0; place < g.count; ++place) {
      if ((Column(g.count, place) >> k & 1) == 0) continue;
      members[n++] = g.first + static_cast<uint32_t>(place);
    }
  }
  const Datagram d = Build(members, n);
  groups_[2] = groups_[1];
  groups_[1] = open;
  open.count = 0;
  return d;
}

ParityEncoder::Datagram ParityEncoder::Build(const uint32_t* members, int n) {
  ParityHeader h{screenId_, members[0], static_cast<uint8_t>(members[n - 1] - members[0] + 1),
                 kParitySchemeMembers, 0, 0, 0};
  size_t length = 0;  // of the longest member's data
  for (int i = 0; i < n; ++i) {
    const size_t whole = StoredLength(members[i]);
    if (whole > kCompressedHeaderSize) length = std::max(length, whole - kCompressedHeaderSize);
  }
  uint8_t* data = out_ + h.DataOffset();
  std::memset(data, 0, length);
  for (int i = 0; i < n; ++i) {
    const uint32_t s = members[i];
    const size_t whole = StoredLength(s);
    const uint8_t* d = StoreData(s);
    h.members |= 1u << (s - h.first);
    h.lengths ^= static_cast<uint16_t>(whole);
    h.types ^= ReadU16(d);
    const uint8_t* in = d + kCompressedHeaderSize;
    for (size_t b = 0; b + kCompressedHeaderSize < whole; ++b) data[b] ^= in[b];
  }
  BuildParityHeader(h, out_);
  return Datagram{out_, h.DataOffset() + length};
}

void ParityEncoder::PlanRepair(const RepairRequest* requests, int count, uint16_t screenId) {
  repairCount_ = 0;
  if (screenId != screenId_) return;  // nothing kept of that screen
  count = std::min(count, 256);
  for (int i = 0; i < count; ++i) {
    const RepairRequest& r = requests[i];
    if (r.screenId != screenId) continue;
    for (uint32_t s = r.first; s - r.first <= r.last - r.first; ++s) {
      if (!Kept(s)) continue;
      // The requests that name s; a number asked for twice goes out once.
      uint64_t names[4] = {};
      bool placed = false;
      for (int j = 0; j < count; ++j) {
        const RepairRequest& o = requests[j];
        if (o.screenId == screenId && s - o.first <= o.last - o.first) {
          names[j / 64] |= uint64_t{1} << (j % 64);
        }
      }
      for (int c = 0; c < repairCount_ && !placed; ++c) {
        const RepairParity& p = repair_[c];
        for (int m = 0; m < p.count; ++m) placed = placed || p.members[m] == s;
      }
      if (placed) continue;
      // The first parity that names none of those requests and stays
      // within a run of kMaxParityGroup numbers, else a new one.
      int c = 0;
      for (; c < repairCount_; ++c) {
        RepairParity& p = repair_[c];
        const bool shared = ((p.requests[0] & names[0]) | (p.requests[1] & names[1]) |
                             (p.requests[2] & names[2]) | (p.requests[3] & names[3])) != 0;
        uint32_t low = s, high = s;
        for (int m = 0; m < p.count; ++m) {
          low = std::min(low, p.members[m]);
          high = std::max(high, p.members[m]);
        }
        if (!shared && p.count < kRepairMembers &&
            high - low < static_cast<uint32_t>(kMaxParityGroup)) {
          break;
        }
      }
      if (c == repairCount_) {
        if (repairCount_ == kMaxRepairs) return;
        repair_[repairCount_++] = RepairParity{{}, 0, {}};
      }
      RepairParity& p = repair_[c];
      p.members[p.count++] = s;
      for (int w = 0; w < 4; ++w) p.requests[w] |= names[w];
    }
  }
}

ParityEncoder::Datagram ParityEncoder::BuildRepair(RepairParity& p) {
  std::sort(p.members, p.members + p.count);
  return Build(p.members, p.count);
}

int ParityEncoder::DueMs(uint32_t nowMs) const {
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
  for (Group& g : groups_) g.count = 0;
}

void ParityEncoder::ForgetKept() {
  for (size_t& n : storedLength_) n = 0;
}

}  // namespace qc
