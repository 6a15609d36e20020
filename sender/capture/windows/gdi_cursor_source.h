// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows mouse cursor as the capture engine's CursorSource.
//
// GetCursorInfo gives the handle, visibility and hot-spot position;
// GetIconInfo and GetDIBits give the image. A colour cursor's pixels keep
// their alpha when they carry one, otherwise its AND mask decides what is
// transparent; a monochrome cursor's AND and XOR masks (one bitmap of twice
// the height) become black, white and transparent pixels. Pixels the system
// would invert are shown black, the way receivers can draw them.
//
// Threads: the capture work thread only.
#pragma once

#include "sender/capture/cursor_source.h"

namespace qc {

class GdiCursorSource : public CursorSource {
 public:
  bool Query(CursorState& state) override;
  bool ReadImage(CursorImage& image) override;

  // One pixel from the AND mask bit and the XOR colour (0x00RRGGBB).
  static uint32_t MaskedPixel(bool andBit, uint32_t xorColour);
};

}  // namespace qc
