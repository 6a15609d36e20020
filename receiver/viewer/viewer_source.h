// SPDX-License-Identifier: GPL-3.0-or-later
// What a surface needs of the receiving side to run a cycle and paint it:
// qvViewer in the program; the window tests drive the window with a stand-in
// whose update thread they control. Init and Stop run on the owner's (GUI)
// thread; the rest as qvViewer documents them.
#pragma once

#include <cstdint>
#include <mutex>

#include "receiver/viewer/framebuffer.h"
#include "receiver/viewer/remote_cursor.h"
#include "receiver/viewer/viewer_owner.h"
#include "receiver/viewer/viewer_surface.h"

namespace qc {

class ViewerSource {
 public:
  virtual ~ViewerSource() = default;

  // Starts a cycle that reports to owner and draws on surface (neither
  // owned; both must outlive Stop()). False when a step failed (logged).
  virtual bool Init(ViewerOwner* owner, ViewerSurface* surface, uint16_t port) = 0;
  // Ends the cycle; the framebuffer is gone afterwards.
  virtual void Stop() = 0;
  // An init message has arrived since the last Init() (any thread).
  virtual bool IsReceiving() const = 0;
  // The framebuffer for painting; pixels is null before the placement and
  // after Stop(). GUI thread.
  virtual FramebufferView FramebufferInfo() const = 0;
  // The remote cursor for painting: hold CursorLock() while reading or
  // changing CursorState() (paint uses TakeCursorForPaint).
  virtual std::mutex& CursorLock() = 0;
  virtual RemoteCursorState& CursorState() = 0;
};

}  // namespace qc
