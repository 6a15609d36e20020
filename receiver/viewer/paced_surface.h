// SPDX-License-Identifier: GPL-3.0-or-later
// PacedSurface: the thread handoff every viewer window shares. The update
// thread's surface calls only record what is wanted and wake the GUI thread
// (the platform's Wake); the GUI thread serves them: the placement, while
// PlaceWindow waits, and the invalidated rectangles, painted together once
// per display frame. A flood of datagrams so costs one paint per frame, not
// one per datagram. UpdateWindow waits only when the frame it asked for is
// overdue by more than kMaxFramesBehind frame periods (a busy GUI thread):
// decoding never runs far ahead of the screen, and a band caught
// half-decoded by one frame is repainted by the next. Every wait ends at
// once when the viewer is stopping (ViewerStopping), so stopping never
// deadlocks with an update thread inside a call.
//
// A window derives from it and supplies Wake (any thread: have the GUI
// thread call ServePlacement and, paced with FrameDelayMs, ServeFrame),
// DoPlaceWindow and PaintRects (GUI thread).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

#include "receiver/viewer/viewer_surface.h"

namespace qc {

class PacedSurface : public ViewerSurface {
 public:
  // Rectangles waiting for their frame; more than fit merge into the last.
  static constexpr int kPendingRects = 16;
  // A frame the update thread asked for that is this many frame periods
  // overdue makes it wait for the paint: the GUI thread is busy elsewhere,
  // and decoding further would only widen the gap between picture and screen.
  static constexpr int kMaxFramesBehind = 2;

  // The display frame (16 ms at 60 Hz), and how many frames were painted.
  int FrameIntervalMs() const { return frameIntervalMs_; }
  uint64_t FramesPainted() const { return framesPainted_; }

  // ViewerSurface.
  void ViewerStarted() override;
  void ViewerStopping() override;
  void PlaceWindow() override;
  void InvalidateFramebufferRect(const Rect& r) override;
  void UpdateWindow() override;

 protected:
  // Any thread: have the GUI thread serve the calls soon.
  virtual void Wake() = 0;
  // GUI thread, from ServePlacement: PlaceWindow's work.
  virtual void DoPlaceWindow() = 0;
  // GUI thread, from ServeFrame: paint this frame's rectangles (at least one).
  virtual void PaintRects(std::span<const Rect> rects) = 0;

  // Frames follow the display's refresh rate; one that is not sensible
  // (from 20 to 240 Hz) gives 60 Hz. Before the threads start.
  void SetRefreshRate(double hz);

  // GUI thread: serves a waiting PlaceWindow and releases it.
  void ServePlacement();
  // GUI thread: 0 when the next frame may be painted now, else the
  // milliseconds until it may.
  int FrameDelayMs() const;
  // GUI thread: paints the waiting rectangles (none while stopping) and
  // releases an UpdateWindow waiting for this frame.
  void ServeFrame();
  // GUI thread, from PaintRects: a frame goes to the screen now.
  void FramePainted();
  // True while rectangles or an asked-for frame wait, or inFlight (a frame
  // not yet on the screen); false while stopping.
  bool PaintQueued(bool inFlight);

  // Whether the window is seen: a hidden one drops what UpdateWindow asks,
  // since showing it paints all of it.
  bool Shown() const { return shown_.load(std::memory_order_relaxed); }
  void SetShown(bool shown) { shown_.store(shown, std::memory_order_relaxed); }
  // The whole window is about to be painted: older rectangles are covered.
  void DropPending();

 private:
  int frameIntervalMs_ = 16;
  std::chrono::steady_clock::time_point lastFrame_{};  // GUI thread
  uint64_t framesPainted_ = 0;                           // GUI thread

  std::mutex callMutex_;
  std::condition_variable callDone_;
  bool stopping_ = true;         // between ViewerStopping and ViewerStarted
  bool placeRequested_ = false;
  uint64_t placeTicket_ = 0;
  uint64_t placeServed_ = 0;
  bool frameDue_ = false;        // UpdateWindow asked for a frame not yet painted
  std::chrono::steady_clock::time_point frameDueSince_{};
  uint64_t frameRequested_ = 0;  // frame tickets
  uint64_t frameServed_ = 0;
  int pendingCount_ = 0;
  Rect pending_[kPendingRects];
  std::atomic<bool> shown_{false};
};

}  // namespace qc
