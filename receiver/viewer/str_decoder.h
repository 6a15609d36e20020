// StrDecoder: applies one inflated update payload to the receiver's
// framebuffer (the sender's frame layout, byte for byte) and reports the
// first and last row it touched. Runs on the update thread only.
//
// Payloads come from the network: Decode never reads past the payload and
// never writes outside the framebuffer. On a malformed record it stops,
// keeps the records already applied and returns false.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/strip_format.h"

namespace qc {

class StrDecoder {
 public:
  StrDecoder();
  virtual ~StrDecoder();

  // Binds the framebuffer (height rows of width x bytesPerPixel bytes,
  // top-down, not owned) and fixes the geometry. False for a width of 0 or
  // above 4096, a height of 0, or bytes per pixel other than 2 and 4.
  bool Init(uint8_t* framebuffer, int bytesPerPixel, int width, int height);

  // Applies the records of the payload. firstRow/lastRow: rows of the first
  // and last record applied. Returns false when the payload is malformed
  // (the rows before the bad record stay applied; firstRow/lastRow then
  // cover what was applied, or are both -1 when nothing was).
  bool Decode(const uint8_t* data, size_t length, int& firstRow, int& lastRow);
};

}  // namespace qc
