// SPDX-License-Identifier: GPL-3.0-or-later
// WebViewer: the gateway's receiver. It is the viewer the tray controller
// (qvTray) drives, as in the headless qvrecv: qvViewer with its init,
// sequence check, update requests and restarts. Its surface, instead of a
// window, collects what changed for the gateway and wakes it.
#pragma once

#include <QByteArray>
#include <QRect>
#include <atomic>
#include <mutex>
#include <vector>

#include "receiver/shell/qv_tray.h"
#include "receiver/viewer/viewer.h"
#include "receiver/viewer/viewer_surface.h"

namespace qc {

class WebViewer : public ViewerControl, public ViewerSurface {
 public:
  class Listener {
   public:
    virtual ~Listener() = default;
    // Any thread: changes are waiting (called once until TakeChanges).
    virtual void Wake() = 0;
    // GUI thread, inside Stop(): the picture's memory is about to go.
    virtual void PictureStopping() = 0;
  };

  struct Changes {
    bool newPicture = false;   // a transmission started: the whole picture
    std::vector<QRect> rects;  // framebuffer pixels, possibly outside it
    // The video region's access units (PictureStream::VideoMessage) and
    // the rectangles painted from them.
    std::vector<QByteArray> videoUnits;
    std::vector<QRect> videoRects;
  };

  void SetListener(Listener* listener) { listener_ = listener; }

  // ViewerControl (GUI thread). Showing, hiding and full screen mean nothing
  // here.
  bool Init(qvTray& tray) override;
  void Stop() override { viewer_.Stop(); }
  bool IsReceiving() const override { return viewer_.IsReceiving(); }
  bool IsFullScreen() const override { return false; }
  void SetRestarting() override {}
  void ShowWindow(bool) override {}
  void SetFullScreen(bool) override {}

  // ViewerSurface.
  void ViewerStarted() override;
  void ViewerStopping() override;
  void PlaceWindow() override;
  void InvalidateFramebufferRect(const Rect& r) override;
  void UpdateWindow() override;
  void VideoUnit(const VideoHeader& h, const uint8_t* unit, size_t length,
                 const Rect& painted) override;

  // GUI thread: what changed since the last call.
  void TakeChanges(Changes& out);
  qvViewer& Viewer() { return viewer_; }

 private:
  // Beyond this many rectangles the pending ones are merged into their
  // bounding rectangle, so a gateway that lags keeps a bounded list.
  static constexpr size_t kMaxPending = 256;
  // Units waiting for a gateway that lags are dropped beyond this many; the
  // browsers then wait for the next key unit.
  static constexpr size_t kMaxPendingUnits = 60;
  static constexpr qsizetype kMaxPendingUnitBytes = 16 << 20;

  qvViewer viewer_;
  Listener* listener_ = nullptr;
  std::mutex mutex_;  // guards pending_
  Changes pending_;
  std::atomic<bool> woken_{false};
  qsizetype pendingUnitBytes_ = 0;  // in pending_.videoUnits; guarded by mutex_
};

}  // namespace qc
