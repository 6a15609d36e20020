#include "receiver/viewer/viewer_geometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qc {

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

ViewTransform FitToScreen(int sw, int sh, int w, int h) {
  ViewTransform t;
  if (sw <= 0 || sh <= 0 || w <= 0 || h <= 0) return t;
  int sx = std::min(MulDiv(sw, 100, w), 100);
  int sy = std::min(MulDiv(sh, 100, h), 100);
  if (sx < sy) {
    sy = sx;
    t.offX = 0;
    t.offY = (sh - h * sx / 100) / 2;
  } else if (sx == sy) {
    t.offX = (sw - w * sx / 100) / 2;
    t.offY = (sh - h * sy / 100) / 2;
  } else {
    sx = sy;
    t.offY = 0;
    t.offX = (sw - w * sy / 100) / 2;
  }
  t.sx = sx;
  t.sy = sy;
  t.scaled = sx != 100 || sy != 100;
  return t;
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

void UnscaledPaintSource(const Rect& paint, const ViewTransform& t, int& srcX, int& srcY) {
  srcX = t.scrollX + paint.left - t.offX;
  srcY = t.scrollY + paint.top - t.offY;
}

StretchRects ScaledPaintRects(const Rect& paint, const ViewTransform& t) {
  StretchRects s;
  int sx = t.sx > 0 ? t.sx : 100;
  int sy = t.sy > 0 ? t.sy : 100;
  Rect q{paint.left - t.offX, paint.top - t.offY, paint.right - t.offX, paint.bottom - t.offY};
  q.left = sx * (q.left / sx);
  q.right = sx * ((q.right + sx - 1) / sx) + 2;
  q.top = sy * (q.top / sy);
  q.bottom = sy * ((q.bottom + sy - 1) / sy) + 2;
  s.dest = Rect{t.offX + q.left, t.offY + q.top, t.offX + q.right, t.offY + q.bottom};
  int srcLeft = q.left * 100 / sx;
  int srcTop = q.top * 100 / sy;
  s.source = Rect{srcLeft, srcTop, srcLeft + q.Width() * 100 / sx, srcTop + q.Height() * 100 / sy};
  return s;
}

Rect CursorArea(int x, int y, int hotX, int hotY, int width, int height) {
  int left = x - hotX;
  int top = y - hotY;
  return Rect{left, top, left + width, top + height};
}

CursorPlacement PlaceCursor(int originX, int originY, int width, int height,
                            const ViewTransform& t, int fbWidth, int fbHeight) {
  CursorPlacement p;
  int X, Y, w = width, h = height, R, B;
  if (t.scaled && t.sx > 0 && t.sy > 0) {
    X = (originX + t.scrollX) * t.sx / 100 + t.offX;
    Y = (originY + t.scrollY) * t.sy / 100 + t.offY;
    w = w * t.sx / 100;
    h = h * t.sy / 100;
    R = t.offX + fbWidth * t.sx / 100;
    B = t.offY + fbHeight * t.sy / 100;
  } else {
    X = originX + t.offX;
    Y = originY + t.offY;
    R = t.offX + fbWidth;
    B = t.offY + fbHeight;
  }
  p.image = Rect{X, Y, X + w, Y + h};
  if (Y + h > B) p.fillBottom = Rect{X, B, X + w, Y + h};
  if (X + w > R) p.fillRight = Rect{R, Y, X + w, Y + h};
  return p;
}

int ClampScrollPosition(int pos, int extent, int client) {
  return std::max(0, std::min(pos, extent - std::max(client, 0)));
}

int ClampScrollDelta(int delta, int pos, int extent, int client) {
  return std::min(std::max(delta, -pos), extent - client - pos);
}

int ScrollRequestDelta(int request, int client, int track, int pos) {
  switch (request) {
    case 0: return -2;
    case 1: return 2;
    case 2: return -(client / 4);
    case 3: return client / 4;
    case 4:
    case 5: return track - pos;
    default: return 0;
  }
}

}  // namespace qc
