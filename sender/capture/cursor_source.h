// SPDX-License-Identifier: GPL-3.0-or-later
// CursorSource: what the capture engine needs of the mouse cursor. The X11
// source (sender/capture/x11/x11_cursor_source.h) is the program's; tests
// use an in-memory fake (tests/support/fake_sources.h).
//
// Threads: every call runs on the capture work thread.
#pragma once

#include <cstdint>
#include <vector>

namespace qc {

struct CursorState {
  // Names the cursor image; a new value means a new image.
  uint32_t handle = 0;
  bool showing = false;
  // Screen position of the hot spot.
  int x = 0;
  int y = 0;
};

// A cursor image with straight (not premultiplied) alpha.
struct CursorImage {
  uint32_t handle = 0;  // the handle of the image actually read
  int width = 0;
  int height = 0;
  int hotX = 0;
  int hotY = 0;
  // width x height pixels, top row first, each 0xAARRGGBB.
  std::vector<uint32_t> pixels;
};

class CursorSource {
 public:
  virtual ~CursorSource() = default;
  // The cursor's handle, visibility and position. False when the query
  // failed.
  virtual bool Query(CursorState& state) = 0;
  // Reads the image of the current cursor. False when it cannot be read.
  virtual bool ReadImage(CursorImage& image) = 0;
};

}  // namespace qc
