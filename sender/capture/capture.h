// qcCapture: the sender's engine. A work thread, paced by the poll timer,
// grabs one quarter of the screen per tick, lets the strip encoder send the
// rows that changed, keeps the cursor current, and runs the full-screen
// updates that let new and damaged receivers start over. It also sends the
// keep-alives and the disconnection.
//
// The engine owns no timers: the program calls the three timer handlers and
// the display-change handler from its GUI thread (QTimer), tests call them
// directly. SetPolling and RestartPollTimer tell the owner to start or stop
// the poll timer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "common/protocol.h"
#include "platform/auto_reset_event.h"

namespace qc {

class qcSender;
class ScreenSource;
class CursorSource;
class StrEncoder;

// What the engine needs from the tray controller.
class CaptureOwner {
 public:
  virtual ~CaptureOwner() = default;
  virtual qcSender& Sender() = 0;
  // The "UpdatePeriod" setting, in ms.
  virtual int UpdatePeriod() const = 0;
  // The single fatal path; may be called from the work thread.
  virtual void FatalError() = 0;
  // Timer 1: (re)start with the given interval, or stop. GUI thread.
  virtual void StartPollTimer(int intervalMs) = 0;
  virtual void StopPollTimer() = 0;
};

class qcCapture {
 public:
  // Intervals of the two timers that run for the engine's whole life.
  static constexpr int kFullUpdateIntervalMs = 15000;  // timer 2
  static constexpr int kKeepAliveIntervalMs = 700;     // timer 3

  // cursor may be null (no cursor capture: cursor-off).
  qcCapture(std::unique_ptr<ScreenSource> screen, std::unique_ptr<CursorSource> cursor);
  ~qcCapture();  // stops the work thread (destroy)
  qcCapture(const qcCapture&) = delete;
  qcCapture& operator=(const qcCapture&) = delete;

  // Screen set-up, encoder, events, work thread. Once.
  bool Init(CaptureOwner* owner);

  void SetPolling(bool on);
  void RestartPollTimer();
  void SendDisconnection();
  // refresh-wanted := true (listen thread, menu command).
  void RequestRefresh();
  void SetPaused(bool paused);
  bool IsPaused() const;
  bool IsPolling() const;

  // Timer and display-change handlers (GUI thread).
  void OnPollTimer();        // timer 1
  void OnFullUpdateTimer();  // timer 2
  void OnKeepAliveTimer();   // timer 3
  void OnDisplayChange();
};

}  // namespace qc
