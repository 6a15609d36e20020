#include "receiver/viewer/viewer_window_geometry.h"

#include <algorithm>
#include <cstdint>

namespace qc::viewer_window {

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

namespace {

// New position = clamp(pos + d, 0, max(0, extent - client)): the upper bound
// comes first, so a client area larger than the framebuffer pins the
// position at 0 instead of driving it negative.
int ClampAxis(int d, int pos, int framebufferExtent, int clientExtent) {
  return std::max(std::min(d, framebufferExtent - clientExtent - pos), -pos);
}

}  // namespace

ScrollDelta ScrollByDelta(ScrollDelta wanted, ScrollPosition pos, Extent framebuffer,
                          Extent client) {
  return {ClampAxis(wanted.dx, pos.x, framebuffer.width, client.width),
          ClampAxis(wanted.dy, pos.y, framebuffer.height, client.height)};
}

Extent ScaledImageSize(Extent framebuffer, int s) {
  return {framebuffer.width * s / 100, framebuffer.height * s / 100};
}

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

Extent MaxClientSize(Extent framebuffer) {
  return framebuffer;
}

}  // namespace qc::viewer_window
