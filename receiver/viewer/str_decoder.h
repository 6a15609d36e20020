// SPDX-License-Identifier: GPL-3.0-or-later
// StrDecoder: applies one inflated update payload to the receiver's
// framebuffer (the sender's frame layout, byte for byte) and reports the
// band of rows it touched. Runs on the update thread only.
//
// Payloads come from the network: Decode never reads past the payload and
// never writes outside the framebuffer. Each record is checked whole before
// any of it is written. A record is malformed when it runs past the end of
// the payload, names a row outside 0..height-1, holds a Copy in row 0, a tag
// with a colour count of 0 or 34..63 without the Copy bit, or a palette
// index beyond its palette. Decode then stops, keeps the records already
// applied and returns false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/strip_format.h"

namespace qc {

class StrDecoder {
 public:
  StrDecoder();
  virtual ~StrDecoder();
  StrDecoder(const StrDecoder&) = delete;
  StrDecoder& operator=(const StrDecoder&) = delete;

  // Binds the framebuffer (height rows of width x bytesPerPixel bytes,
  // top-down, not owned) and fixes the geometry. False for a width of 0 or
  // above 4096, a height of 0, bytes per pixel other than 2 and 4, or no
  // framebuffer.
  bool Init(uint8_t* framebuffer, int bytesPerPixel, int width, int height);

  // Applies the records of the payload. firstRow/lastRow: the lowest and
  // highest row of the records applied (in a well-formed payload, whose rows
  // increase, the rows of the first and the last record). Returns false when
  // the payload is empty or malformed; the records before the bad one stay
  // applied and firstRow/lastRow cover them, or are both -1 when none was.
  bool Decode(const uint8_t* data, size_t length, int& firstRow, int& lastRow);

 private:
  // One checked entry of a record: substring, tag and where its body starts.
  struct Entry {
    uint16_t body;
    uint8_t substring;
    uint8_t tag;
  };

  // Checks the record at data (available bytes). Returns its length, or 0
  // when it is malformed; fills row and the entries to apply.
  size_t CheckRecord(const uint8_t* data, size_t available, int& row, Entry* entries,
                     int& count) const;
  // Whether every index of a palette entry of n colours names a colour.
  bool IndicesInPalette(const uint8_t* indexData, int colours) const;
  template <class Pixel>
  void ApplyRecord(const uint8_t* record, int row, const Entry* entries, int count);

  StripGeometry g_;
  int height_ = 0;
  uint8_t* framebuffer_ = nullptr;
};

}  // namespace qc
