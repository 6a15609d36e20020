// The viewer window's geometry as pure functions: placement, size limits,
// scroll bars, scroll requests and the full-screen fit. No Qt and no state:
// the window (viewer_window.cpp) keeps the state and calls these on the GUI
// thread; tests call them directly.
//
// Units: "outer" sizes include the window manager's frame, "client" sizes
// are the area inside the frame (image plus scroll bars in windowed mode).
// Framebuffer sizes are the sender's screen in pixels.
#pragma once

#include <cstdint>

#include "receiver/viewer/viewer_geometry.h"

namespace qc::viewer_window {

struct Extent {
  int width = 0;
  int height = 0;
  bool operator==(const Extent&) const = default;
};


// Thickness of the window manager's frame around the client area.
struct FrameMargins {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct ScrollPosition {
  int x = 0;
  int y = 0;
  bool operator==(const ScrollPosition&) const = default;
};

// The outer size that shows the whole framebuffer without scroll bars.
Extent MaxOuterSize(Extent framebuffer, FrameMargins frame);

// Outer rectangle of a newly placed window: at most the work area's size and
// at most maxOuter, centred in the work area.
Rect PlaceCentred(Rect workArea, Extent maxOuter);

// Both scroll bars disappear once the window is at least maxOuter in both
// directions; otherwise they are shown (disabled where nothing can scroll).
bool ScrollBarsHidden(Extent outer, Extent maxOuter);

// One scroll bar's settings: value runs 0..maximum, page is the visible part.
struct ScrollBarRange {
  int maximum = 0;
  int page = 0;
  int value = 0;
  bool operator==(const ScrollBarRange&) const = default;
};
// For a framebuffer dimension, the client dimension and the scroll position.
ScrollBarRange ScrollBarFor(int framebufferExtent, int clientExtent, int position);

// ScrollBy's clamping: the delta that moves pos by at most (dx, dy) while
// keeping the new position within 0..framebuffer - client, and at 0 when the
// client area is larger than the framebuffer. (qc::ClampScrollDelta applies
// the two bounds the other way round, which drives the position negative in
// that case.)
struct ScrollDelta {
  int dx = 0;
  int dy = 0;
  bool operator==(const ScrollDelta&) const = default;
};
ScrollDelta ScrollByDelta(ScrollDelta wanted, ScrollPosition pos, Extent framebuffer,
                          Extent client);

// Full screen: the scale percentage (the nearest one to the screen's, never
// above 100, the same in both directions, lowered until the scaled image
// fits the screen) and the offsets that centre the image. Scroll (0, 0).
// (qc::FitToScreen keeps the nearest percentage even when the image then
// overhangs the screen by a few pixels.)
ViewTransform FullScreenTransform(Extent framebuffer, Extent screen);

// Size of the image in the window at scale percentage s (s = 100: unscaled).
Extent ScaledImageSize(Extent framebuffer, int s);

// Interactive resizing is limited through the window's maximum size, which
// the window manager applies to every edge it drags: the client area at most
// the framebuffer's size, so the outer size at most maxOuter.
Extent MaxClientSize(Extent framebuffer);

}  // namespace qc::viewer_window
