// SPDX-License-Identifier: GPL-3.0-or-later
// ScreenSource: what the capture engine needs of the screen. The X11 source
// (sender/capture/x11/x11_screen_source.h) is the program's; tests use an
// in-memory fake (tests/support/fake_sources.h).
//
// Threads: Open and CreateFrame run on the thread that calls qcCapture::Init;
// everything else but Wake runs on the capture work thread only, after Init.
#pragma once

#include <cstdint>

namespace qc {

// The shared area of the screen as the platform reports it.
struct ScreenFormat {
  int width = 0;
  int height = 0;
  // Bits per pixel of the frame the source fills: 16 or 32 for the screens
  // the engine supports. 24 means a 24-bit screen that the source captures
  // into 32-bit pixels. Anything below 16 (or 0 for a layout the source
  // cannot capture) makes the engine refuse the screen.
  int bitsPerPixel = 0;
  // Colour masks of the frame's pixels; 0 when the platform reports none.
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
  // Where the area lies on the screen (the cursor's position is sent
  // relative to it), and whether it is less than the whole screen (a
  // pointer outside it is then hidden from receivers).
  int originX = 0;
  int originY = 0;
  bool partial = false;
  // The choice could not be honoured; the primary monitor is shared.
  bool fellBack = false;
};

class ScreenSource {
 public:
  virtual ~ScreenSource() = default;

  // Connects to the screen and describes it. False when the screen cannot
  // be reached (the source may log why).
  virtual bool Open(ScreenFormat& format) = 0;

  // Creates the capture frame: height rows of width x B bytes (B = 2 or 4
  // from the format), top-down, rows back to back with no padding, zeroed.
  // The source owns it; it stays valid until the source is destroyed.
  // nullptr on failure.
  virtual uint8_t* CreateFrame() = 0;

  // Copies rows first..end-1 of the screen into the same rows of the frame,
  // leaving every other row untouched. For 32-bit frames byte 3 of every
  // pixel is 0 afterwards. False when the copy failed (the rows then hold
  // what they held before).
  virtual bool GrabRows(int first, int end) = 0;

  // Whether anything may have been drawn in rows first..end-1 since they
  // were last grabbed. A source that cannot tell returns true.
  virtual bool MayHaveChanged(int first, int end) = 0;

  // The rows of first..end-1 that may have been drawn since their last
  // grab, as one band from..to-1 (from == to: none). The default is the
  // whole range when MayHaveChanged says so.
  virtual void DrawnBand(int first, int end, int& from, int& to) {
    from = first;
    to = MayHaveChanged(first, end) ? end : first;
  }

  // Whether the source tracks drawing at all (MayHaveChanged can say no).
  virtual bool TracksDamage() const = 0;

  // Sleeps until something may have been drawn, Wake is called or timeoutMs
  // passed, whichever comes first. Only for sources that track damage; the
  // default returns at once.
  virtual void WaitForDamage(int /*timeoutMs*/) {}
  // Ends a WaitForDamage in progress, or the next one. Any thread.
  virtual void Wake() {}

  // Whether WaitForDamage also ends when the pointer moves or the cursor
  // changes its shape. Without it the engine queries the pointer once per
  // update period.
  virtual bool TracksPointer() const { return false; }
  // Whether the pointer moved or the cursor changed since the last call.
  virtual bool TakePointerEvent() { return false; }

  // Whether the screen's mode changed since Open (the frame no longer
  // matches the screen).
  virtual bool DisplayChanged() = 0;
};

}  // namespace qc
