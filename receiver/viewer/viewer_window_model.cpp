// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/viewer_window_model.h"

#include <algorithm>

namespace qc {

void ViewerWindowModel::Start(ViewerOwner* owner, bool fullScreenSetting) {
  owner_ = owner;
  fullScreenSetting_ = fullScreenSetting;
  started_ = true;
  fullScreen_ = false;
  placed_ = false;
  windowGone_ = false;
  restarting_ = false;
  transform_ = ViewTransform{};
  framebuffer_ = {};
}

void ViewerWindowModel::Stop() {
  started_ = false;
  placed_ = false;
  fullScreen_ = false;
  transform_ = ViewTransform{};
}

void ViewerWindowModel::WindowGone() {
  if (windowGone_) return;
  windowGone_ = true;
  if (restarting_) {
    restarting_ = false;
  } else if (owner_ != nullptr) {
    owner_->FatalStop(false);
  }
}

void ViewerWindowModel::EndQuietly() {
  started_ = false;
  windowGone_ = true;
}

Rect ViewerWindowModel::Place(Extent framebuffer, FrameMargins frame, Rect workArea) {
  framebuffer_ = framebuffer;
  transform_ = ViewTransform{};
  placed_ = true;
  maxOuter_ = MaxOuterSize(framebuffer, frame);
  return PlaceCentred(workArea, maxOuter_);
}

void ViewerWindowModel::EnterFullScreen(Extent screen) {
  fullScreen_ = true;
  transform_ = FullScreenTransform(framebuffer_, screen);
}

void ViewerWindowModel::ShowUnscaled(Extent screen) {
  transform_ = ViewTransform{};
  transform_.offX = std::max(0, (screen.width - framebuffer_.width) / 2);
  transform_.offY = std::max(0, (screen.height - framebuffer_.height) / 2);
}

void ViewerWindowModel::LeaveFullScreen() {
  fullScreen_ = false;
  transform_ = ViewTransform{};
}

ScrollDelta ViewerWindowModel::ClientResized(Extent client) {
  const int x = ClampScrollPosition(transform_.scrollX, framebuffer_.width, client.width);
  const int y = ClampScrollPosition(transform_.scrollY, framebuffer_.height, client.height);
  const ScrollDelta moved{transform_.scrollX - x, transform_.scrollY - y};
  transform_.scrollX = x;
  transform_.scrollY = y;
  return moved;
}

ScrollBarRange ViewerWindowModel::Bar(bool horizontal, int client) const {
  return horizontal ? ScrollBarFor(framebuffer_.width, client, transform_.scrollX)
                    : ScrollBarFor(framebuffer_.height, client, transform_.scrollY);
}

Rect ViewerWindowModel::LimitDrag(Rect r, bool left, bool top, bool right, bool bottom) const {
  if (left) r.left = std::max(r.left, r.right - maxOuter_.width);
  if (right) r.right = std::min(r.right, r.left + maxOuter_.width + 1);
  if (top) r.top = std::max(r.top, r.bottom - maxOuter_.height);
  if (bottom) r.bottom = std::min(r.bottom, r.top + maxOuter_.height);
  return r;
}

ScrollDelta ViewerWindowModel::Request(bool horizontal, ScrollRequest request, int client,
                                       int track) const {
  const int pos = horizontal ? transform_.scrollX : transform_.scrollY;
  const int delta = ScrollRequestDelta(request, client, track, pos);
  return horizontal ? ScrollDelta{delta, 0} : ScrollDelta{0, delta};
}

ScrollDelta ViewerWindowModel::ScrollBy(ScrollDelta wanted, Extent client) {
  // Full screen shows the whole image from (0, 0).
  if (!Scrollable()) return {};
  const ScrollDelta d =
      ScrollByDelta(wanted, transform_.scrollX, transform_.scrollY, framebuffer_, client);
  transform_.scrollX += d.dx;
  transform_.scrollY += d.dy;
  return d;
}

bool ViewerWindowModel::TogglesFullScreen(ViewerKey key, bool alt) const {
  return (key == ViewerKey::Escape && fullScreen_) || (key == ViewerKey::Return && alt);
}

Rect ViewerWindowModel::ImageRect() const {
  const ViewTransform& t = transform_;
  const int w = t.scaled ? framebuffer_.width * t.sx / 100 : framebuffer_.width;
  const int h = t.scaled ? framebuffer_.height * t.sy / 100 : framebuffer_.height;
  const int left = t.offX - t.scrollX;
  const int top = t.offY - t.scrollY;
  return {left, top, left + w, top + h};
}

bool ViewerWindowModel::TakeCursorFrame(RemoteCursorState& state, CursorFrame& frame) const {
  const CursorDraw d = TakeCursorForPaint(state, transform_.scrollX, transform_.scrollY);
  const RemoteCursorImage& image = state.image;
  const size_t pixels = static_cast<size_t>(std::max(image.width, 0)) *
                        static_cast<size_t>(std::max(image.height, 0));
  if (!state.hasImage || pixels == 0 || image.argb.size() < pixels) return false;
  frame.image = &image;
  frame.target = PlaceCursor(d.originX, d.originY, d.width, d.height, transform_);
  frame.clip = Intersect(frame.target, ImageRect());
  frame.inverts = image.invert.size() >= pixels;
  return !frame.clip.IsEmpty();
}

}  // namespace qc
