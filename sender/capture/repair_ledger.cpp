// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/repair_ledger.h"

#include <algorithm>

#include "common/byte_order.h"

namespace qc {

void SequenceRows::SetHeight(int height) {
  carrier_.assign(static_cast<size_t>(std::max(0, height)) * kSubstringsPerRow, kNoCarrier);
  Clear();
}

void SequenceRows::Clear() {
  for (Entry& e : slots_) e = Entry{};
  std::fill(carrier_.begin(), carrier_.end(), kNoCarrier);
}

void SequenceRows::Carried(int row, uint8_t mask, uint32_t sequence) {
  const size_t at = static_cast<size_t>(row) * kSubstringsPerRow;
  if (row < 0 || at >= carrier_.size()) return;
  for (int k = 0; k < kSubstringsPerRow; ++k) {
    if ((mask & kBitTable[k]) != 0) carrier_[at + static_cast<size_t>(k)] = sequence;
  }
}

uint8_t SequenceRows::LastCarried(uint32_t sequence, int row) const {
  const size_t at = static_cast<size_t>(row) * kSubstringsPerRow;
  if (row < 0 || at >= carrier_.size()) return 0;
  uint8_t mask = 0;
  for (int k = 0; k < kSubstringsPerRow; ++k) {
    if (carrier_[at + static_cast<size_t>(k)] == sequence) mask |= kBitTable[k];
  }
  return mask;
}

uint8_t SequenceRows::QuietSince(int row, uint32_t nowMs, uint32_t quietMs) {
  const size_t at = static_cast<size_t>(row) * kSubstringsPerRow;
  if (row < 0 || at >= carrier_.size()) return 0;
  uint8_t mask = 0;
  for (int k = 0; k < kSubstringsPerRow; ++k) {
    const uint32_t carrier = carrier_[at + static_cast<size_t>(k)];
    const Entry* e = carrier == kNoCarrier ? nullptr : Find(carrier, nowMs);
    if (e == nullptr || nowMs - e->sentMs >= quietMs) mask |= kBitTable[k];
  }
  return mask;
}

void SequenceRows::Record(uint32_t sequence, uint32_t nowMs, Kind kind, int first, int last,
                          bool extra) {
  slots_[sequence % kSlots] = Entry{sequence, nowMs, 0, static_cast<int16_t>(first),
                                    static_cast<int16_t>(last), kind, false, extra};
}

SequenceRows::Entry* SequenceRows::Find(uint32_t sequence, uint32_t nowMs) {
  Entry& e = slots_[sequence % kSlots];
  if (e.kind == Kind::None || e.sequence != sequence || nowMs - e.sentMs >= kKeepMs) {
    return nullptr;
  }
  return &e;
}

void LedgerTransport::Bind(CaptureTransport* inner, SequenceRows* rows, int width, int height,
                           int bytesPerPixel, const CaptureClock* clock) {
  inner_ = inner;
  rows_ = rows;
  rows_->SetHeight(height);
  geometry_ = StripGeometry::Make(width, bytesPerPixel);
  clock_ = clock;
}

bool LedgerTransport::ResetStream() {
  next_ = 0;
  ++stream_;
  rows_->Clear();
  return inner_->ResetStream();
}

SendResult LedgerTransport::SendPayload(const uint8_t* payload, size_t length,
                                           PacketType type) {
  const SendResult result = inner_->SendPayload(payload, length, type);
  if (result != SendResult::Sent) return result;
  lastSentMs_ = clock_->Tick();
  if (!extra_) lastChangeMs_ = lastSentMs_;
  int first = 0, last = -1;
  if (type == PacketType::CursorShape) {
    rows_->Record(next_, lastSentMs_, SequenceRows::Kind::Cursor, 0, -1, extra_);
  } else if (WalkRecords(geometry_, payload, length, [&](int row, uint8_t mask) {
               if (last < 0) first = row;
               last = row;
               // Our encoder's payloads are whole. Were one cut short, the
               // rows noted before the fault would name a number that is
               // not recorded, and asking for it gets a full-screen update.
               rows_->Carried(row, mask, next_);
             })) {
    rows_->Record(next_, lastSentMs_, SequenceRows::Kind::Rows, first, last, extra_);
  }
  ++next_;
  return result;
}

}  // namespace qc
