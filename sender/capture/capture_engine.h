// SPDX-License-Identifier: GPL-3.0-or-later
// The capture engine and its owner, as each sees the other. qcCapture
// (capture.h) is the engine of the programs; the tray controller (qcTray)
// is its owner. Tests of the controller use a fake engine, and tests of the
// engine a fake owner.
#pragma once

#include <cstdint>

#include "sender/capture/screen_area.h"
#include "sender/capture/transport.h"
#include "sender/capture/video_region.h"

namespace qc {

// What the engine needs from its owner.
class CaptureOwner {
 public:
  virtual ~CaptureOwner() = default;
  // Where the engine and its encoder send: qcSender in the program, a
  // recorder in tests. Asked once, in Init; must outlive the engine.
  virtual CaptureTransport& Sender() = 0;
  // The "UpdatePeriod" setting, in ms. Any thread.
  virtual int UpdatePeriod() const = 0;
  // The video region's settings, read once in Init.
  virtual VideoSettings Video() const { return {}; }
  // The single fatal path; may be called from the work thread, and must
  // not destroy the engine there.
  virtual void FatalError() = 0;
  // A change went out that a watcher would call one: rows of the screen
  // beyond the owner's own icon (SetOwnIconArea), a quarter of a full-screen
  // update, the cursor's shape or position. Keep-alives, repairs and the
  // disconnection are none. The tray icon animates on it: were its own
  // frames counted, a tray on the shared screen would keep the sender
  // sending for ever. Work thread.
  virtual void ChangeSent() {}
  // An error message box without owner. The default writes it to standard
  // error; the program shows it as well. Called from Init only.
  virtual void ShowErrorMessage(const char* caption, const char* text);
};

// The engine as its owner drives it. Everything but RequestRefresh,
// RequestRepair, IsPaused, IsPolling and VideoActive runs on the owner's
// (UI) thread.
class CaptureEngine {
 public:
  virtual ~CaptureEngine() = default;  // stops the work thread
  // Screen set-up and work thread; the engine reaches the transport, the
  // update period and the fatal path through the owner. Once.
  virtual bool Init(CaptureOwner* owner) = 0;
  // Off: returns once no step is running, and none runs until it is on
  // again, so that the caller may then reopen or close the transport.
  virtual void SetPolling(bool on) = 0;
  // The update period changed: the engine paces itself by the new one.
  virtual void UpdatePeriodChanged() = 0;
  virtual void SendDisconnection() = 0;
  // A full-screen update is wanted; any thread.
  virtual void RequestRefresh() = 0;
  // A receiver (at address `from`) missed datagrams first..last of
  // screenId; any thread.
  virtual void RequestRepair(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) = 0;
  // Where the tray icon lies on the screen (empty: unknown); changes
  // confined to it do not count for ChangeSent.
  virtual void SetOwnIconArea(const ScreenRect& /*screenArea*/) {}
  virtual void SetPaused(bool paused) = 0;
  virtual bool IsPaused() const = 0;   // any thread
  virtual bool IsPolling() const = 0;  // any thread
  virtual void OnKeepAliveTimer() = 0;
  virtual void OnDisplayChange() = 0;
  // Whether the chosen area could not be shared and the primary monitor is
  // sent instead (after Init).
  virtual bool AreaFellBack() const { return false; }
  // Whether a video region goes out as H.264 now (any thread).
  virtual bool VideoActive() const { return false; }
  // Logs what the transmission has sent so far, and how much of it went
  // beyond the screen's changes (any thread; the next step writes it).
  virtual void LogAccount() {}
};

}  // namespace qc
