// SPDX-License-Identifier: GPL-3.0-or-later
// Pure geometry of the viewer and its window: how framebuffer rectangles map
// onto the window under scrolling, full-screen offsets and scaling, where
// the remote cursor is drawn, where the window is placed, when it shows
// scroll bars and how scroll requests move it. No state, no threads, no Qt:
// the core and the window call these, and tests check them as tables.
//
// Conventions: rectangles are (left, top, right, bottom) with right and
// bottom exclusive. Divisions truncate toward zero (C++ integer division),
// MulDiv rounds to nearest like the classic 64-bit multiply-divide. "Outer"
// sizes include the window manager's frame, "client" sizes are the area
// inside it (image plus scroll bars in windowed mode).
#pragma once

#include <cstdint>

namespace qc {

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

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

// The rectangle both cover (empty when they do not meet).
Rect Intersect(const Rect& a, const Rect& b);

// a * b / c computed in 64 bits and rounded to nearest, halves away from
// zero. Returns -1 when c is 0 or the result does not fit 32 bits.
int MulDiv(int a, int b, int c);

// How the framebuffer is shown in the window. Windowed: scroll position may
// be non-zero, no scaling, no offsets. Full screen: scroll (0, 0), offsets
// centre the image, sx == sy <= 100 (percent; 100 = one framebuffer pixel
// per window pixel), scaled when below 100.
struct ViewTransform {
  int scrollX = 0;
  int scrollY = 0;
  bool scaled = false;
  int sx = 100;
  int sy = 100;
  int offX = 0;
  int offY = 0;
  bool operator==(const ViewTransform&) const = default;
};

// Full screen: the scale percentage (the nearest one to the screen's, never
// above 100, the same in both directions, lowered until the scaled image
// fits the screen) and the offsets that centre the image. Scroll (0, 0).
// Degenerate sizes (<= 0) give an unscaled fit.
ViewTransform FullScreenTransform(Extent framebuffer, Extent screen);

// Window rectangle to invalidate for a changed framebuffer rectangle:
// minus the scroll position; when scaled, widened to whole multiples of the
// scale percentages and mapped with MulDiv; then shifted by the offsets.
Rect FramebufferToWindow(const Rect& fb, const ViewTransform& t);

// Framebuffer rectangle covered by a cursor image whose hot spot is at
// (x, y): top-left = position - hot spot, size w x h.
Rect CursorArea(int x, int y, int hotX, int hotY, int width, int height);

// Window rectangle of the drawn cursor, given its origin (position - hot
// spot - scroll position) and size: scaled with the image when the view is.
Rect PlaceCursor(int originX, int originY, int width, int height, const ViewTransform& t);

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

// Scroll position after a size change of the client area:
// max(0, min(pos, extent - max(client, 0))).
int ClampScrollPosition(int pos, int extent, int client);

// What a scroll bar asks for: back is left or up, forward right or down.
enum class ScrollRequest {
  LineBack,
  LineForward,
  PageBack,
  PageForward,
  ThumbPosition,  // the thumb released at `track`
  ThumbTrack,     // the thumb dragged to `track`
  Other,          // moves nothing
};

// Delta of a scroll-bar request: a line -2/+2, a page -/+ client/4, the
// thumb track - pos, anything else 0.
int ScrollRequestDelta(ScrollRequest request, int client, int track, int pos);

// A scroll by (dx, dy) limited so that the position stays within
// 0..framebuffer - client, and at 0 when the client area is larger than the
// framebuffer. Returns the delta that is applied.
struct ScrollDelta {
  int dx = 0;
  int dy = 0;
  bool operator==(const ScrollDelta&) const = default;
};
ScrollDelta ScrollByDelta(ScrollDelta wanted, int x, int y, Extent framebuffer, Extent client);

}  // namespace qc
