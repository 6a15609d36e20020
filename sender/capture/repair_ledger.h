// SPDX-License-Identifier: GPL-3.0-or-later
// What the sender remembers of the datagrams it numbered, so that a
// receiver's repair request can be answered with the rows it missed.
//
// SequenceRows is a fixed ring: one slot per sequence number modulo its
// size, holding the first and last row the datagram carried (or that it was
// a cursor shape) and when it went out. Nothing is allocated per datagram.
// Beside it, for each substring of each row, the number of the last datagram
// that carried it: a row of a lost datagram that later datagrams carried
// again, in every substring it had there, needs no repair. A receiver that
// has those later datagrams has the row as new or newer; one that lost
// them too asks for them, and the last of them is repaired.
//
// LedgerTransport stands between the capture engine and its transport:
// it passes everything through and, for every numbered datagram that went
// out, notes its rows under the number the transport gave it (it keeps the
// same count: 0 after ResetStream, one more per datagram sent).
//
// Threads: both belong to the capture work thread, apart from the
// pass-through calls the transport allows from the GUI thread (SendRaw,
// ScreenId, the sent-since-tick flag).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/byte_order.h"
#include "common/strip_format.h"
#include "sender/capture/capture_clock.h"
#include "sender/capture/transport.h"

namespace qc {

class SequenceRows {
 public:
  // A few seconds of datagrams at full speed; a number older than either
  // limit is no longer known.
  static constexpr uint32_t kSlots = 4096;
  static constexpr uint32_t kKeepMs = 5000;

  enum class Kind : uint8_t { None, Rows, Cursor };
  struct Entry {
    uint32_t sequence = 0;
    uint32_t sentMs = 0;
    uint32_t answeredMs = 0;  // when a request for it was last answered
    int16_t first = 0;        // rows first..last (inclusive)
    int16_t last = -1;
    Kind kind = Kind::None;
    bool answered = false;
    bool extra = false;  // rows sent again (a repair, heal or refresh slice)
  };

  // Rows of the frame; forgets every number.
  void SetHeight(int height);
  // Forgets every number (the stream starts again at 0).
  void Clear();
  void Record(uint32_t sequence, uint32_t nowMs, Kind kind, int first, int last,
              bool extra = false);
  // The datagram numbered `sequence` carried the substrings `mask` (bit
  // 0x80: substring 0) of `row`.
  void Carried(int row, uint8_t mask, uint32_t sequence);
  // The substrings of `row` (bit 0x80: substring 0) whose last carrier is
  // the datagram numbered `sequence`.
  uint8_t LastCarried(uint32_t sequence, int row) const;
  // The substrings of `row` that no datagram carried in the last quietMs.
  uint8_t QuietSince(int row, uint32_t nowMs, uint32_t quietMs);
  // The entry of a number sent less than kKeepMs ago, or null.
  Entry* Find(uint32_t sequence, uint32_t nowMs);

 private:
  static constexpr uint32_t kNoCarrier = ~0u;
  Entry slots_[kSlots];
  std::vector<uint32_t> carrier_;  // kSubstringsPerRow per row
};

class LedgerTransport final : public CaptureTransport {
 public:
  // The transport passed on to, the table written, the frame geometry that
  // the row records follow, and the clock.
  void Bind(CaptureTransport* inner, SequenceRows* rows, int width, int height,
            int bytesPerPixel, const CaptureClock* clock);

  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  uint32_t TotalBytesSent() const override { return inner_->TotalBytesSent(); }
  bool SendRaw(const uint8_t* data, size_t length) override { return inner_->SendRaw(data, length); }
  bool ResetStream() override;
  void Close() override { inner_->Close(); }
  void SetLevel(int level) override { inner_->SetLevel(level); }
  // A batched payload answers Sent when handed over and keeps the number it
  // was counted under, even if it fails later (see qcSender).
  void BeginBatch() override { inner_->BeginBatch(); }
  void EndBatch() override { inner_->EndBatch(); }
  uint16_t ScreenId() const override { return inner_->ScreenId(); }
  bool SentSinceTick() const override { return inner_->SentSinceTick(); }
  void ClearSentSinceTick() override { inner_->ClearSentSinceTick(); }
  void NoteLosses(int datagrams, int reporters) override {
    inner_->NoteLosses(datagrams, reporters);
  }
  void FlushParity() override { inner_->FlushParity(); }
  int ParityDueMs() const override { return inner_->ParityDueMs(); }
  uint64_t ParityBytesSent() const override { return inner_->ParityBytesSent(); }

  // Whether the datagrams sent from now on carry rows sent again (repairs,
  // heals, refresh slices) rather than changes.
  void SetExtra(bool extra) { extra_ = extra; }
  // The number the next datagram gets; when the last one went out.
  uint32_t NextSequence() const { return next_; }
  uint32_t LastSentMs() const { return lastSentMs_; }
  // When the last datagram of changes (not extra) went out.
  uint32_t LastChangeMs() const { return lastChangeMs_; }
  // Counts the stream resets: numbers of different streams are unrelated.
  uint32_t Stream() const { return stream_; }

  // Calls visit(row, mask) for each record of an update payload, in order;
  // false when it holds none (or is cut short; records before the fault
  // were visited).
  template <class Visit>
  static bool WalkRecords(const StripGeometry& g, const uint8_t* payload, size_t length,
                          Visit&& visit);

 private:
  CaptureTransport* inner_ = nullptr;
  SequenceRows* rows_ = nullptr;
  StripGeometry geometry_;
  const CaptureClock* clock_ = nullptr;
  uint32_t next_ = 0;
  uint32_t lastSentMs_ = 0;
  uint32_t lastChangeMs_ = 0;
  uint32_t stream_ = 0;
  bool extra_ = false;
};

template <class Visit>
bool LedgerTransport::WalkRecords(const StripGeometry& g, const uint8_t* payload, size_t length,
                                  Visit&& visit) {
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
    visit(row, mask);
    any = true;
  }
  return any;
}

}  // namespace qc
