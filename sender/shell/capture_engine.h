// SPDX-License-Identifier: GPL-3.0-or-later
// The capture engine as the tray controller sees it. The program adapts
// qcCapture to it (capture_engine_adapter.h); tests use a fake, so the
// controller's state machine is tested without a screen.
#pragma once

#include <cstdint>

#include "sender/capture/screen_area.h"

namespace qc {

class qcTray;

class CaptureEngine {
 public:
  virtual ~CaptureEngine() = default;  // stops the work thread
  // The engine reaches the transport, the update period and the fatal path
  // through the tray.
  virtual bool Init(qcTray& tray) = 0;
  virtual void SetPolling(bool on) = 0;
  // The update period changed: the engine paces itself by the new one.
  virtual void RestartPollTimer() = 0;
  virtual void SendDisconnection() = 0;
  // refresh-wanted := true; any thread.
  virtual void RequestRefresh() = 0;
  // A receiver missed datagrams first..last of screenId; any thread. An
  // engine that cannot repair serves a full-screen update.
  virtual void RequestRepair(uint16_t screenId, uint32_t first, uint32_t last) {
    (void)screenId, (void)first, (void)last;
    RequestRefresh();
  }
  // Where the tray icon lies on the screen (empty: unknown); changes
  // confined to it do not advance the icon. UI thread.
  virtual void SetOwnIconArea(const ScreenRect& /*screenArea*/) {}
  virtual void SetPaused(bool paused) = 0;
  virtual bool IsPaused() const = 0;   // any thread
  virtual bool IsPolling() const = 0;  // any thread
  virtual void OnFullUpdateTimer() = 0;
  virtual void OnKeepAliveTimer() = 0;
  virtual void OnDisplayChange() = 0;
  // Whether the chosen area could not be shared and the primary monitor is
  // sent instead.
  virtual bool AreaFellBack() const { return false; }
  // Whether a video region goes out as H.264 now (any thread).
  virtual bool VideoActive() const { return false; }
};

}  // namespace qc
