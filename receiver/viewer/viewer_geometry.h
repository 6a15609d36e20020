// Pure geometry of the viewer: how framebuffer rectangles map onto the
// viewer window under scrolling, full-screen offsets and scaling, where the
// remote cursor is drawn, and how scroll positions are clamped. No state, no
// threads: the core, the Qt window and the tests share these functions.
//
// Conventions: rectangles are (left, top, right, bottom) with right and
// bottom exclusive. Divisions truncate toward zero (C++ integer division),
// MulDiv rounds to nearest like the classic 64-bit multiply-divide.
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
};

// Full-screen fit of a W x H framebuffer on a screen of sw x sh pixels:
// scale percentages (never above 100, equal), offsets that centre the image
// and whether it is scaled. Degenerate sizes (<= 0) give an unscaled fit.
ViewTransform FitToScreen(int screenWidth, int screenHeight, int fbWidth, int fbHeight);

// Window rectangle to invalidate for a changed framebuffer rectangle:
// minus the scroll position; when scaled, widened to whole multiples of the
// scale percentages and mapped with MulDiv; then shifted by the offsets.
Rect FramebufferToWindow(const Rect& fb, const ViewTransform& t);

// Unscaled paint: the framebuffer point copied to the top-left corner of the
// paint rectangle (client coordinates).
void UnscaledPaintSource(const Rect& paint, const ViewTransform& t, int& srcX, int& srcY);

// Scaled paint: the paint rectangle, shifted by the offsets and widened to
// whole scale steps (plus 2 pixels), as a destination rectangle in the
// window and the framebuffer rectangle it is stretched from.
struct StretchRects {
  Rect dest;
  Rect source;
};
StretchRects ScaledPaintRects(const Rect& paint, const ViewTransform& t);

// Framebuffer rectangle covered by a cursor image whose hot spot is at
// (x, y): top-left = position - hot spot, size w x h.
Rect CursorArea(int x, int y, int hotX, int hotY, int width, int height);

// Where paint draws the cursor, given its origin (position - hot spot -
// scroll position) and size, and the black fills that keep it out of the
// margins: the parts of the cursor below and right of the image (only
// non-empty when they exist).
struct CursorPlacement {
  Rect image;       // window rectangle of the drawn cursor
  Rect fillBottom;  // (X, B, X + w, Y + h) when Y + h > B
  Rect fillRight;   // (R, Y, X + w, Y + h) when X + w > R
};
CursorPlacement PlaceCursor(int originX, int originY, int width, int height,
                            const ViewTransform& t, int fbWidth, int fbHeight);

// Scroll position after a size change of the client area to cw x ch:
// max(0, min(pos, extent - max(client, 0))).
int ClampScrollPosition(int pos, int extent, int client);

// ScrollBy's delta limit: min(max(delta, -pos), extent - client - pos).
int ClampScrollDelta(int delta, int pos, int extent, int client);

// Delta of a scroll-bar request: line (0/1) = -2/+2, page (2/3) = -/+ client/4,
// thumb position/track (4/5) = track - pos, anything else 0.
int ScrollRequestDelta(int request, int client, int track, int pos);

}  // namespace qc
