// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/viewer_geometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qc {

Rect Intersect(const Rect& a, const Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  int64_t half = (c > 0 ? c : -static_cast<int64_t>(c)) / 2;
  // Round half away from zero: add half the divisor in the direction of
  // the quotient's sign.
  bool negative = (product < 0) != (c < 0);
  int64_t absProduct = product < 0 ? -product : product;
  int64_t absC = c < 0 ? -static_cast<int64_t>(c) : c;
  int64_t q = (absProduct + half) / absC;
  if (negative) q = -q;
  if (q > std::numeric_limits<int>::max() || q < std::numeric_limits<int>::min()) return -1;
  return static_cast<int>(q);
}

namespace {

Extent ScaledImageSize(Extent framebuffer, int s) {
  return {framebuffer.width * s / 100, framebuffer.height * s / 100};
}

}  // namespace

ViewTransform FullScreenTransform(Extent framebuffer, Extent screen) {
  ViewTransform fit;
  if (framebuffer.width <= 0 || framebuffer.height <= 0 || screen.width <= 0 ||
      screen.height <= 0) {
    return fit;
  }
  const int sx = std::min(MulDiv(screen.width, 100, framebuffer.width), 100);
  const int sy = std::min(MulDiv(screen.height, 100, framebuffer.height), 100);
  int s = std::min(sx, sy);
  // Rounding to the nearest percent can make the image a few pixels larger
  // than the screen (1920 at 67 % is 1286 > 1280), which would cut off the
  // sender's right or bottom edge: step down until it fits.
  while (s > 1) {
    const Extent image = ScaledImageSize(framebuffer, s);
    if (image.width <= screen.width && image.height <= screen.height) {
      break;
    }
    --s;
  }
  s = std::max(s, 1);
  const Extent image = ScaledImageSize(framebuffer, s);
  fit.sx = fit.sy = s;
  fit.offX = std::max(0, (screen.width - image.width) / 2);
  fit.offY = std::max(0, (screen.height - image.height) / 2);
  fit.scaled = s != 100;
  return fit;
}

Rect FramebufferToWindow(const Rect& fb, const ViewTransform& t) {
  Rect r{fb.left - t.scrollX, fb.top - t.scrollY, fb.right - t.scrollX, fb.bottom - t.scrollY};
  if (t.scaled && t.sx > 0 && t.sy > 0) {
    r.left = t.sx * (r.left / t.sx);
    r.right = t.sx * ((r.right + t.sx - 1) / t.sx);
    r.top = t.sy * (r.top / t.sy);
    r.bottom = t.sy * ((r.bottom + t.sy - 1) / t.sy);
    r.left = MulDiv(r.left, t.sx, 100) + t.offX;
    r.right = MulDiv(r.right, t.sx, 100) + t.offX;
    r.top = MulDiv(r.top, t.sy, 100) + t.offY;
    r.bottom = MulDiv(r.bottom, t.sy, 100) + t.offY;
  } else {
    r.left += t.offX;
    r.right += t.offX;
    r.top += t.offY;
    r.bottom += t.offY;
  }
  return r;
}

Rect CursorArea(int x, int y, int hotX, int hotY, int width, int height) {
  int left = x - hotX;
  int top = y - hotY;
  return Rect{left, top, left + width, top + height};
}

Rect PlaceCursor(int originX, int originY, int width, int height, const ViewTransform& t) {
  if (t.scaled && t.sx > 0 && t.sy > 0) {
    const int x = (originX + t.scrollX) * t.sx / 100 + t.offX;
    const int y = (originY + t.scrollY) * t.sy / 100 + t.offY;
    return Rect{x, y, x + width * t.sx / 100, y + height * t.sy / 100};
  }
  const int x = originX + t.offX;
  const int y = originY + t.offY;
  return Rect{x, y, x + width, y + height};
}

Extent MaxOuterSize(Extent framebuffer, FrameMargins frame) {
  return {framebuffer.width + frame.left + frame.right,
          framebuffer.height + frame.top + frame.bottom};
}

Rect PlaceCentred(Rect workArea, Extent maxOuter) {
  const int ww = workArea.Width();
  const int wh = workArea.Height();
  const int width = std::min(maxOuter.width, ww);
  const int height = std::min(maxOuter.height, wh);
  const int left = workArea.left + (ww - width) / 2;
  const int top = workArea.top + (wh - height) / 2;
  return {left, top, left + width, top + height};
}

bool ScrollBarsHidden(Extent outer, Extent maxOuter) {
  return outer.width >= maxOuter.width && outer.height >= maxOuter.height;
}

ScrollBarRange ScrollBarFor(int framebufferExtent, int clientExtent, int position) {
  const int page = std::max(clientExtent, 0);
  return {std::max(0, framebufferExtent - page), page, position};
}

int ClampScrollPosition(int pos, int extent, int client) {
  return std::max(0, std::min(pos, extent - std::max(client, 0)));
}

int ScrollRequestDelta(ScrollRequest request, int client, int track, int pos) {
  switch (request) {
    case ScrollRequest::LineBack: return -2;
    case ScrollRequest::LineForward: return 2;
    case ScrollRequest::PageBack: return -(client / 4);
    case ScrollRequest::PageForward: return client / 4;
    case ScrollRequest::ThumbPosition:
    case ScrollRequest::ThumbTrack: return track - pos;
    case ScrollRequest::Other: break;
  }
  return 0;
}

namespace {

// New position = clamp(pos + d, 0, max(0, extent - client)): the upper bound
// comes first, so a client area larger than the framebuffer pins the
// position at 0 instead of driving it negative.
int ClampAxis(int d, int pos, int framebufferExtent, int clientExtent) {
  return std::max(std::min(d, framebufferExtent - clientExtent - pos), -pos);
}

}  // namespace

ScrollDelta ScrollByDelta(ScrollDelta wanted, int x, int y, Extent framebuffer, Extent client) {
  return {ClampAxis(wanted.dx, x, framebuffer.width, client.width),
          ClampAxis(wanted.dy, y, framebuffer.height, client.height)};
}

}  // namespace qc
