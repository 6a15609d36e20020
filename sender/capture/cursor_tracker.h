// SPDX-License-Identifier: GPL-3.0-or-later
// CursorTracker: keeps what receivers know of the sender's cursor current.
// After each polling step it sends a new shape when the cursor's image
// changed and the position when it moved inside the shared area; at the end
// of a full-screen update it sends both (or the hidden cursor), so that new
// receivers get them. On a partial area a pointer that leaves it is hidden
// (a fully transparent shape); when it returns, shape and position go out
// again.
//
// Threads: the capture work thread only (Bind before it starts).
#pragma once

#include <cstdint>
#include <memory>

#include "sender/capture/cursor_source.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/transport.h"

namespace qc {

class CursorTracker {
 public:
  // Without a source (no cursor capture) nothing of the cursor is ever sent.
  explicit CursorTracker(std::unique_ptr<CursorSource> cursor) : cursor_(std::move(cursor)) {}

  // Where it sends, and the shared area in screen pixels; partial when it
  // is less than the whole screen.
  void Bind(CaptureTransport* transport, const ScreenRect& area, bool partial) {
    transport_ = transport;
    area_ = area;
    partial_ = partial;
  }

  // The step after each polling step, and the one that ends a full-screen
  // update. Each returns whether a change went out.
  bool OrdinaryStep();
  bool ClosingStep();
  // A receiver lost the shape: it goes out again at the next ordinary step.
  // What the last shape cost to send, in bytes.
  uint32_t ResendShape() {
    haveHandle_ = false;
    return shapeBytes_;
  }

 private:
  // Whether the queried pointer lies in the area; x and y become relative
  // to it.
  bool InArea(CursorState& state) const;
  bool SendShape();
  // Sends a fully transparent shape: receivers then show no cursor.
  bool Hide();
  bool SendPosition(int x, int y);

  std::unique_ptr<CursorSource> cursor_;
  CaptureTransport* transport_ = nullptr;
  ScreenRect area_;
  bool partial_ = false;

  bool haveHandle_ = false;  // false: no shape sent yet
  uint32_t lastHandle_ = 0;
  int32_t lastX_ = 0;
  int32_t lastY_ = 0;
  bool hidden_ = false;      // the transparent shape was sent last
  uint32_t shapeBytes_ = 0;  // what the last shape took
};

}  // namespace qc
