// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/repair_ledger.h"

#include "common/byte_order.h"

namespace qc {

void SequenceRows::Clear() {
  for (Entry& e : slots_) e = Entry{};
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

void LedgerTransport::Bind(CaptureTransport* inner, SequenceRows* rows, int width,
                              int bytesPerPixel, const CaptureClock* clock) {
  inner_ = inner;
  rows_ = rows;
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
  int first = 0, last = -1;
  if (type == PacketType::CursorShape) {
    rows_->Record(next_, lastSentMs_, SequenceRows::Kind::Cursor, 0, -1, extra_);
  } else if (PayloadRows(geometry_, payload, length, first, last)) {
    rows_->Record(next_, lastSentMs_, SequenceRows::Kind::Rows, first, last, extra_);
  }
  ++next_;
  return result;
}

bool LedgerTransport::PayloadRows(const StripGeometry& g, const uint8_t* payload,
                                     size_t length, int& first, int& last) {
  // Records are in increasing row order; walking their entries finds the
  // start of the last one.
  size_t at = 0;
  bool any = false;
  while (at + kRecordHeaderSize <= length) {
    const uint8_t mask = payload[at];
    const int row = ReadI16(payload + at + 1);
    at += kRecordHeaderSize;
    for (int k = 0; k < kSubstringsPerRow; ++k) {
      if ((mask & kBitTable[k]) == 0) continue;
      if (at >= length) return false;
      const int body = g.BodyBytes(payload[at]);
      if (body < 0) return false;
      at += 1 + static_cast<size_t>(body);
    }
    if (at > length || row < 0) return false;
    if (!any) first = row;
    last = row;
    any = true;
  }
  return any;
}

}  // namespace qc
