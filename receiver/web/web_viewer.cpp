// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/web_viewer.h"

#include "receiver/web/picture_stream.h"

namespace qc {

bool WebViewer::Init(qvTray& tray) {
  if (!viewer_.TrustSender(tray.TrustedSender())) return false;
  return viewer_.Init(&tray, this, static_cast<uint16_t>(tray.Port()));
}

void WebViewer::ViewerStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ = Changes{};
  pendingUnitBytes_ = 0;
}

void WebViewer::ViewerStopping() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = Changes{};
    pendingUnitBytes_ = 0;
  }
  if (listener_ != nullptr) listener_->PictureStopping();
}

void WebViewer::PlaceWindow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.newPicture = true;
    pending_.rects.clear();
  }
  UpdateWindow();
}

void WebViewer::InvalidateFramebufferRect(const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  std::lock_guard<std::mutex> lock(mutex_);
  QRect rect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
  if (!pending_.rects.empty()) {
    // Consecutive bands of a scroll or a full update join up here already.
    QRect& last = pending_.rects.back();
    if (last.left() == rect.left() && last.right() == rect.right() &&
        rect.top() <= last.bottom() + 1 && rect.bottom() >= last.top() - 1) {
      last = last.united(rect);
      return;
    }
  }
  if (pending_.rects.size() >= kMaxPending) {
    QRect all = rect;
    for (const QRect& p : pending_.rects) all = all.united(p);
    pending_.rects.assign(1, all);
    return;
  }
  pending_.rects.push_back(rect);
}

void WebViewer::VideoUnit(const VideoHeader& h, const uint8_t* unit, size_t length,
                          const Rect& painted) {
  QByteArray message = PictureStream::VideoMessage(h, unit, length);
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.videoUnits.size() >= kMaxPendingUnits ||
      pendingUnitBytes_ + message.size() > kMaxPendingUnitBytes) {
    pending_.videoUnits.clear();
    pendingUnitBytes_ = 0;
  }
  pendingUnitBytes_ += message.size();
  pending_.videoUnits.push_back(std::move(message));
  if (painted.IsEmpty()) return;
  const QRect rect(QPoint(painted.left, painted.top), QPoint(painted.right - 1, painted.bottom - 1));
  // One region: its frames paint the same rectangle over and over.
  if (pending_.videoRects.empty() || pending_.videoRects.back() != rect) {
    if (pending_.videoRects.size() >= kMaxPending) pending_.videoRects.clear();
    pending_.videoRects.push_back(rect);
  }
}

void WebViewer::UpdateWindow() {
  if (listener_ != nullptr && !woken_.exchange(true)) listener_->Wake();
}

void WebViewer::TakeChanges(Changes& out) {
  woken_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  out.newPicture = pending_.newPicture;
  out.rects.swap(pending_.rects);
  out.videoUnits.swap(pending_.videoUnits);
  out.videoRects.swap(pending_.videoRects);
  pending_.newPicture = false;
  pending_.rects.clear();
  pending_.videoUnits.clear();
  pending_.videoRects.clear();
  pendingUnitBytes_ = 0;
}

}  // namespace qc
