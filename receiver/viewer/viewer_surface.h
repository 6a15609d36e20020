// SPDX-License-Identifier: GPL-3.0-or-later
// Where the viewer shows the picture: the Qt viewer window in qvrecv,
// nothing at all (NullSurface) in a headless receiver, tests and benchmarks.
// The surface reads the picture back through its ViewerSource.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/video_datagram.h"
#include "receiver/viewer/viewer_geometry.h"

namespace qc {

class ViewerSurface {
 public:
  virtual ~ViewerSurface() = default;

  // GUI/owner thread, from Init(), before the threads start: a new cycle
  // begins; UpdateWindow works normally from now on.
  virtual void ViewerStarted() = 0;

  // GUI/owner thread, from Stop(), before it waits for the update thread:
  // from now until the next ViewerStarted(), PlaceWindow and UpdateWindow
  // must return at once, and a call already blocked in them must be
  // released. After Stop() returns the framebuffer memory is gone: do not
  // paint from it while the source is not receiving.
  virtual void ViewerStopping() = 0;

  // Update thread, once per cycle, after the framebuffer exists: size the
  // window for the framebuffer (centred, at most the work area), show it,
  // and enter full screen when the setting asks for it. May wait for the
  // GUI thread (see ViewerStopping).
  virtual void PlaceWindow() = 0;

  // Update thread: the framebuffer rectangle r (pixels, right and bottom
  // exclusive; may reach outside the framebuffer) changed; map it to the
  // window (FramebufferToWindow) and mark it for repainting. Also called
  // with the cursor lock held, so it must never wait for the GUI thread.
  virtual void InvalidateFramebufferRect(const Rect& r) = 0;

  // Update thread, after every datagram of the transmission: have what was
  // invalidated painted with the next display frame. It may return before
  // the paint; it waits only when the surface has fallen more than a few
  // frames behind, so decoding never runs far ahead of the screen. Returns
  // at once when the surface is stopping or hidden.
  virtual void UpdateWindow() = 0;

  // Update thread: a whole access unit of the video region arrived (H.264,
  // Annex B; the bytes are valid during the call), and the viewer painted
  // it into the framebuffer at `painted` (empty: not shown, e.g. while the
  // decoder recovers from a loss). Surfaces that show the framebuffer only
  // repaint that rectangle; the browser gateway also forwards the unit.
  virtual void VideoUnit(const VideoHeader& h, const uint8_t* unit, size_t length,
                         const Rect& painted) {
    (void)h, (void)unit, (void)length;
    if (!painted.IsEmpty()) InvalidateFramebufferRect(painted);
  }
};

// A surface that shows nothing.
class NullSurface : public ViewerSurface {
 public:
  void ViewerStarted() override {}
  void ViewerStopping() override {}
  void PlaceWindow() override {}
  void InvalidateFramebufferRect(const Rect&) override {}
  void UpdateWindow() override {}
};

}  // namespace qc
