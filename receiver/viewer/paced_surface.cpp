// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/paced_surface.h"

#include <algorithm>

namespace qc {

void PacedSurface::SetRefreshRate(double hz) {
  frameIntervalMs_ = hz >= 20.0 && hz <= 240.0 ? static_cast<int>(1000.0 / hz) : 16;
}

// ---------------------------------------------------------------------------
// Update-thread side (ViewerStarted and ViewerStopping: GUI thread).

void PacedSurface::ViewerStarted() {
  std::lock_guard<std::mutex> lock(callMutex_);
  stopping_ = false;
  placeRequested_ = false;
  placeTicket_ = placeServed_ = 0;
  frameDue_ = false;
  frameRequested_ = frameServed_ = 0;
  pendingCount_ = 0;
}

void PacedSurface::ViewerStopping() {
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    stopping_ = true;
    placeRequested_ = false;
    frameDue_ = false;
    pendingCount_ = 0;
  }
  callDone_.notify_all();
}

void PacedSurface::PlaceWindow() {
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    if (stopping_) {
      return;
    }
    placeRequested_ = true;
    ticket = ++placeTicket_;
  }
  Wake();
  std::unique_lock<std::mutex> lock(callMutex_);
  callDone_.wait(lock, [&] { return stopping_ || placeServed_ >= ticket; });
}

void PacedSurface::InvalidateFramebufferRect(const Rect& r) {
  if (r.IsEmpty()) {
    return;
  }
  bool first;
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    if (stopping_) {
      return;
    }
    first = pendingCount_ == 0;
    if (pendingCount_ < kPendingRects) {
      pending_[pendingCount_++] = r;
    } else {
      Rect& last = pending_[kPendingRects - 1];
      last = Rect{std::min(last.left, r.left), std::min(last.top, r.top),
                  std::max(last.right, r.right), std::max(last.bottom, r.bottom)};
    }
  }
  // Painted at the GUI thread's next chance even without UpdateWindow.
  if (first && Shown()) {
    Wake();
  }
}

void PacedSurface::UpdateWindow() {
  const auto now = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(callMutex_);
  if (stopping_) {
    return;
  }
  if (!Shown()) {
    // Hidden: nothing to paint; showing the window repaints all of it.
    pendingCount_ = 0;
    return;
  }
  if (!frameDue_) {
    frameDue_ = true;
    frameDueSince_ = now;
    ++frameRequested_;
    lock.unlock();
    Wake();
    return;
  }
  if (now - frameDueSince_ < std::chrono::milliseconds(kMaxFramesBehind * frameIntervalMs_)) {
    return;
  }
  const uint64_t ticket = frameRequested_;
  callDone_.wait(lock, [&] { return stopping_ || frameServed_ >= ticket; });
}

// ---------------------------------------------------------------------------
// GUI-thread side.

void PacedSurface::ServePlacement() {
  bool place;
  uint64_t ticket;
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    place = placeRequested_ && !stopping_;
    placeRequested_ = false;
    ticket = placeTicket_;
  }
  if (place) {
    DoPlaceWindow();
  }
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    placeServed_ = std::max(placeServed_, ticket);
  }
  callDone_.notify_all();
}

int PacedSurface::FrameDelayMs() const {
  const auto since = std::chrono::steady_clock::now() - lastFrame_;
  const auto interval = std::chrono::milliseconds(frameIntervalMs_);
  if (since >= interval) {
    return 0;
  }
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(interval - since).count() + 1);
}

void PacedSurface::ServeFrame() {
  int count;
  uint64_t target;
  Rect rects[kPendingRects];
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    count = stopping_ ? 0 : pendingCount_;
    std::copy(pending_, pending_ + count, rects);
    pendingCount_ = 0;
    target = frameRequested_;
    frameDue_ = false;
  }
  if (count > 0) {
    PaintRects(std::span<const Rect>(rects, static_cast<size_t>(count)));
  }
  {
    std::lock_guard<std::mutex> lock(callMutex_);
    frameServed_ = std::max(frameServed_, target);
  }
  callDone_.notify_all();
}

void PacedSurface::FramePainted() {
  lastFrame_ = std::chrono::steady_clock::now();
  ++framesPainted_;
}

bool PacedSurface::PaintQueued(bool inFlight) {
  std::lock_guard<std::mutex> lock(callMutex_);
  return !stopping_ && (frameDue_ || pendingCount_ > 0 || inFlight);
}

void PacedSurface::DropPending() {
  std::lock_guard<std::mutex> lock(callMutex_);
  pendingCount_ = 0;
}

}  // namespace qc
