// SPDX-License-Identifier: GPL-3.0-or-later
// StrEncoder: turns the changed rows of the captured screen into update
// payloads in the strip encoding and hands each payload to its PayloadSink
// (qcSender in the program).
//
// It compares the capture frame with the reference frame (the screen as the
// receivers have it) and writes every substring it sends into the reference.
// Construction and Init happen before the capture work thread starts;
// EncodeRows runs on that thread only; the destructor runs after it stopped
// and writes the statistics to the log.
//
// All working storage (the payload under construction, the per-substring
// index buffer) lives in the object: nothing is allocated after construction.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/protocol.h"
#include "common/strip_format.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/transport.h"

namespace qc {

class StrEncoder {
 public:
  // Statistics kinds, in the order of the statistics table.
  enum Kind {
    kOneColour,
    kTwoColour,
    kFourColour,
    kSixteenColour,
    kThirtyTwoColour,
    kRawColour,
    kCopy,
    kKindCount
  };

  StrEncoder();
  virtual ~StrEncoder();  // writes the statistics
  StrEncoder(const StrEncoder&) = delete;
  StrEncoder& operator=(const StrEncoder&) = delete;

  // Binds the frames (H rows of R = width x bytesPerPixel bytes each, not
  // owned) and the sink; fixes the geometry. width <= 4096, B in {2, 4}.
  void Init(int width, int bytesPerPixel, const uint8_t* frame, uint8_t* reference,
            PayloadSink* sink);
  // Encodes the changed rows firstRow..endRow-1 with the given packet type.
  // Each payload decodes from its own bytes: its Copy entries read only
  // substrings that it carries itself, so a receiver that lost an earlier
  // datagram still draws this one right, and a repair of the lost one mends
  // all it spoiled.
  // Returns whether the last payload handed over was sent; false when there
  // was nothing to send.
  bool EncodeRows(int firstRow, int endRow, PacketType type);

  // A rectangle of the frame (pixels) whose changes are sent like any other
  // but told apart: SentBeyondQuietArea says whether the last EncodeRows
  // encoded a changed pixel outside it. Empty (the default): every change
  // counts as beyond it. The capture engine sets it to the sender's own
  // tray icon, whose animation must not count as a change of the screen.
  void SetQuietArea(const ScreenRect& area) { quiet_ = area; }
  bool SentBeyondQuietArea() const { return beyondQuiet_; }

  // Substrings encoded as the kind, and the bytes their entries took (tag
  // included; Copy bytes are filled in when the statistics are written).
  uint32_t KindCount(Kind kind) const { return stats_[kind].count; }
  uint32_t KindBytes(Kind kind) const { return stats_[kind].bytes; }

 private:
  struct KindStats {
    uint32_t count = 0;  // unsigned: long sessions wrap instead of overflowing
    uint32_t bytes = 0;
  };

  template <class Pixel>
  void EncodeRowsOf(int firstRow, int endRow, PacketType type, bool& lastResult);
  // Writes the record of row y (the substrings in mask) at `record`; returns
  // its length. For a record that opens a payload.
  template <class Pixel>
  size_t EncodeRecord(int y, unsigned mask, uint8_t* record);
  // Whether substring k of row y may copy the bytes before it (maskSoFar:
  // the substrings of row y already in its record) or the substring above:
  // only bytes of the payload under construction.
  bool MayCopyPrevious(int y, int k, unsigned maskSoFar) const;
  bool MayCopyAbove(int y, int k) const;
  template <class Pixel>
  uint8_t* EncodeSubstring(const uint8_t* substring, int bytesLeftInRow, bool mayCopyPrevious,
                           bool mayCopyAbove, uint8_t* out);
  bool Flush(PacketType type);
  // Whether substring k of row y (frame f, reference ref, which differ)
  // holds a changed byte outside the quiet area.
  bool ChangedBeyondQuiet(int y, int k, const uint8_t* f, const uint8_t* ref) const;
  bool SendRecords(int first, int end, PacketType type);
  void WriteStatistics();

  StripGeometry g_;
  const uint8_t* frame_ = nullptr;
  uint8_t* reference_ = nullptr;
  PayloadSink* sink_ = nullptr;
  KindStats stats_[kKindCount];
  ScreenRect quiet_;
  bool beyondQuiet_ = false;
  size_t fill_ = 0;  // payload bytes in use
  int records_ = 0;  // records in the payload
  // The payload's last record: its row (-1: none yet) and substring mask.
  int lastRow_ = -1;
  unsigned lastMask_ = 0;
  // Palette index of each pixel of the current substring.
  uint8_t index_[kMaxSubstringPixels] = {};
  // Start of each record of the payload (records are at least 3 bytes), plus
  // one entry for the end: the split points for payloads that do not fit.
  uint16_t recordStart_[kMaxPayload / kRecordHeaderSize + 2] = {};
  // The payload under construction; the next record is built in place after
  // it, hence the room for one more record.
  uint8_t payload_[kMaxPayload + kMaxRecordSize] = {};
  // A piece of a payload cut in two: its first record encoded again, then
  // the rest of its records.
  uint8_t piece_[kMaxPayload + kMaxRecordSize] = {};
};

}  // namespace qc
