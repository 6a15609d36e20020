// SPDX-License-Identifier: GPL-3.0-or-later
// The remote cursor: the sender's cursor drawn by the receiver over the
// picture. A cursor shape payload (34-byte header, bottom-up colour bitmap,
// bottom-up 1-bit mask) becomes a drawable image; position datagrams move it.
// Both invalidate where the cursor was and where it will be.
//
// Threads: decoding and updates run on the update thread; the window's paint
// reads the state on the GUI thread. Everything paint reads is guarded by the
// cursor lock (RemoteCursor::Lock()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "receiver/viewer/viewer_geometry.h"

namespace qc {

class ViewerSurface;

// A drawable cursor image, top-down.
struct RemoteCursorImage {
  int width = 0;
  int height = 0;
  int hotX = 0;
  int hotY = 0;
  // Premultiplied ARGB32 (0xAARRGGBB), width x height. Transparent pixels
  // are 0; pixels of a cursor without alpha are fully opaque or transparent.
  std::vector<uint32_t> argb;
  // width x height bytes, 1 where the cursor inverts the picture below it
  // (monochrome AND = 1, XOR = 1, and masked colour pixels that are not
  // black); empty when the cursor inverts nothing. Such pixels are
  // transparent in argb.
  std::vector<uint8_t> invert;
};

// Builds the image from an inflated cursor shape payload. Supports colour
// bitmaps of 16, 24 and 32 bits per pixel (bit fields or standard layout;
// 32-bit pixels with any non-zero byte 3 are taken as alpha), monochrome
// cursors (mask holds AND above XOR) and colour cursors with an AND mask.
// 32-bit colour pixels carry straight alpha in byte 3 (the image is
// premultiplied here). Rows are read with the bitmap row padding to 4 bytes
// when the payload holds it, else unpadded. Never reads outside
// [payload, payload + length). A payload without any bitmap gives an empty
// image (nothing is drawn). False (image untouched) when the payload is
// malformed: shorter than its header or than the bitmaps it announces, or a
// colour depth other than 16, 24 and 32 bits without a mask to fall back on.
bool BuildCursorImage(const uint8_t* payload, size_t length, RemoteCursorImage& out);

// The cursor fields paint reads, guarded by RemoteCursor::Lock().
struct RemoteCursorState {
  int16_t x = 0;  // position of the hot spot, framebuffer pixels
  int16_t y = 0;
  int16_t lastX = 0;  // position when last drawn
  int16_t lastY = 0;
  int32_t hotX = 0;
  int32_t hotY = 0;
  int32_t width = 32;
  int32_t height = 32;
  int32_t lastWidth = 32;
  int32_t lastHeight = 32;
  bool changed = false;   // set by updates, cleared by paint
  bool hasImage = false;  // no image until the first shape datagram
  RemoteCursorImage image;
};

// What paint draws, in framebuffer pixels relative to the scroll position.
struct CursorDraw {
  int originX = 0;
  int originY = 0;
  int width = 0;
  int height = 0;
};

// Paint's part, called with the lock held: where to draw (the new place
// when the cursor changed, else the last drawn one), and, when it changed,
// records the position and size as drawn and clears the flag.
CursorDraw TakeCursorForPaint(RemoteCursorState& state, int scrollX, int scrollY);

class RemoteCursor {
 public:
  // Back to the start values (no image, 32 x 32, position (0, 0)).
  void Reset();

  // Update thread: a new shape from an inflated payload. Replaces the image
  // under the lock; false when the payload is malformed (nothing changes).
  bool DecodeShape(const uint8_t* payload, size_t length);
  // Update thread: new position, stored under the lock.
  void SetPosition(int16_t x, int16_t y);
  // Update thread: invalidates the old area, takes the hot spot of the
  // current image when the shape changed, invalidates the new area and sets
  // the changed flag, all under the lock.
  void Update(bool shapeChanged, ViewerSurface& surface);

  std::mutex& Lock() { return lock_; }
  // Read or write only while holding Lock().
  RemoteCursorState& State() { return state_; }

 private:
  std::mutex lock_;
  RemoteCursorState state_;
  RemoteCursorImage scratch_;  // built outside the lock, then swapped in
};

}  // namespace qc
