// SPDX-License-Identifier: GPL-3.0-or-later
// qcCapture: the sender's engine. A work thread grabs the screen quarter by
// quarter, lets the strip encoder send the rows that changed, keeps the
// cursor current (CursorTracker), and runs the full-screen updates that let
// new and damaged receivers start over. It also sends the keep-alives and
// the disconnection.
//
// Pacing. The work thread paces itself on its clock (see Pacer): with
// damage tracking it grabs the quarters drawn in, as soon as their pace
// allows, and otherwise sleeps in the screen source until something is
// drawn. When the source also wakes it for pointer moves and cursor shape
// changes, it queries the cursor at once (at most once a tick), and
// otherwise only every kPointerBackstopMs; without those events, once per
// update period. A source that tracks no damage gets one quarter in turn
// per tick. A full-screen update runs one quarter per step, its payloads
// deflated on all cores. Between two steps the thread sleeps for what the
// step chose (a Pause), unless a StepHook stands in for the sleep (tests).
// The keep-alive timer and the display-change handler are the owner's (UI
// thread); the destructor does not call back into the owner. The owner's
// FatalError may be called on the work thread and must not destroy the
// engine there.
//
// The screen source reports display changes it sees itself (an X RandR
// resize), whenever they happen; OnDisplayChange adds those the program
// hears of, while transmitting or paused.
//
// Threads: the constructor, Init, the destructor, SetPolling,
// UpdatePeriodChanged, SendDisconnection, SetPaused and the two handlers
// run on the UI thread; RequestRefresh and RequestRepair may be called from
// any thread (the listen thread). The work thread is the only user of the
// screen source, the frames, the encoder and the cursor tracker.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "platform/auto_reset_event.h"
#include "sender/capture/capture_clock.h"
#include "sender/capture/capture_engine.h"
#include "sender/capture/cursor_tracker.h"
#include "sender/capture/full_update_budget.h"
#include "sender/capture/pacer.h"
#include "sender/capture/repair_ledger.h"
#include "sender/capture/repair_planner.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/str_encoder.h"
#include "sender/capture/traffic_budget.h"
#include "sender/capture/transport.h"

namespace qc {

class ScreenSource;
class CursorSource;
struct ScreenFormat;

// Text of the message box for a screen the engine cannot capture.
inline constexpr char kUnsupportedScreenCaption[] = "Quillcast Error";
inline constexpr char kUnsupportedScreenText[] =
    "Quillcast does not support current screen parameters.\n"
    "Please switch to a display mode with 16, 24 or 32 bit colors.";

// The sleep a step chose before the next: at most ms, and in the screen
// source (which ends it when something is drawn) when untilDrawn.
struct Pause {
  int ms = 0;
  bool untilDrawn = false;
};

// Stands in for the sleep between two steps: tests drive the work thread
// one step at a time.
class StepHook {
 public:
  virtual ~StepHook() = default;
  // Work thread, before each step while polling: returns when the step may
  // run. `pause` is the sleep the engine would have taken (zero before the
  // first step after a start).
  virtual void BeforeStep(const Pause& pause) = 0;
  // The engine is being destroyed: BeforeStep returns now, and at once
  // from then on. UI thread.
  virtual void Stop() = 0;
};

class qcCapture final : public CaptureEngine {
 public:
  // With pointer events, how often an idle engine still queries the cursor:
  // a warped pointer makes no event.
  static constexpr int kPointerBackstopMs = 500;
  // The deflate level of what the traffic budget pays for.
  static constexpr int kExtraLevel = 1;

  // cursor may be null (no cursor capture: cursor-off, nothing of the
  // cursor is ever sent). The clock must outlive the engine.
  qcCapture(std::unique_ptr<ScreenSource> screen, std::unique_ptr<CursorSource> cursor,
            const CaptureClock& clock = SteadyClock::Instance());
  ~qcCapture() override;  // stops the work thread (destroy)
  qcCapture(const qcCapture&) = delete;
  qcCapture& operator=(const qcCapture&) = delete;

  // Screen set-up, encoder, events, work thread. Once. The engine sends
  // through owner->Sender().
  bool Init(CaptureOwner* owner) override;
  // Tests: drives the work thread in place of its sleeps. Before Init; the
  // hook must outlive the engine.
  void SetStepHook(StepHook* hook) { hook_ = hook; }

  void SetPolling(bool on) override;
  void UpdatePeriodChanged() override;
  void SendDisconnection() override;
  // A full-screen update is wanted (listen thread, menu command); the
  // budget decides when it starts.
  void RequestRefresh() override;
  // Their rows go out again at the next polling step.
  void RequestRepair(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) override;
  // Changes confined to the icon are sent as any other but do not count
  // for ChangeSent. Any thread; taken at the next step.
  void SetOwnIconArea(const ScreenRect& screenArea) override;
  void SetPaused(bool paused) override;
  bool IsPaused() const override;
  bool IsPolling() const override;
  bool AreaFellBack() const override { return areaFellBack_; }
  bool VideoActive() const override { return video_.Active(); }
  void LogAccount() override { accountWanted_ = true; }
  void OnKeepAliveTimer() override;
  void OnDisplayChange() override;

  // For tests and benchmarks: steps finished by the work thread so far (its
  // end counts as one), and a wait until at least `count` steps finished or
  // the thread ended. False on timeout.
  uint64_t StepsDone() const;
  bool WaitForSteps(uint64_t count, int timeoutMs);
  // Whether the work thread has left its loop (display change, destroy).
  bool WorkThreadFinished() const { return finished_.load(); }

  // Quarter q (0..3) covers rows QuarterBound(h, q) to
  // QuarterBound(h, q + 1) - 1: 0, h/4, h/2, 3 x (h/4), h. The remainder
  // rows of a height that is not a multiple of 4 fall into quarter 3.
  static int QuarterBound(int height, int q);

 private:
  struct Quarter {
    int top = 0;     // first row
    int bottom = 0;  // one past the last row
  };

  bool SetUpScreen();
  void WorkThread();
  // One step under the step lock, if polling; false when it ended the
  // engine (display change).
  bool Step(Pause& pause, int64_t& pacedPeriod);
  // The sleep between two steps; lastStart: when the last step began (us).
  void Rest(const Pause& pause, int64_t lastStart);
  // Whether this step is (part of) a full-screen update.
  bool FullUpdateNow();
  // Wakes the work thread from any wait.
  void Wake();
  void FullScreenStep();
  // On a source that tracks no damage: quarter after quarter, one a step.
  void PollingStep();
  // Sends again the rows the repair planner marked (repairs, heal, rolling
  // refresh), as ordinary updates of the frame's content, while the
  // traffic budget allows; the marks wait otherwise.
  void ApplyRepairs();
  // Brings the traffic budget up to now.
  void ObserveTraffic();
  // ms until the full-update budget, the repair planner or an open parity
  // group wants a step, or -1 when none does.
  int PendingWorkMs();
  // One step on a source that tracks damage: every drawn quarter whose
  // pace allows it, then the cursor. Returns the sleep it allows.
  Pause PacedStep(int64_t now);
  // The cursor step of a paced step with pointer events.
  void PointerQuery(int64_t now);
  // Grabs rows first..end-1 of the screen into the sent frame. With
  // maskVideo a video region's pixels are kept out of the lossless stream.
  void GrabRows(int first, int end, bool maskVideo = true);
  // The video region's step: its changes, then its frame when one is due.
  void VideoStep();
  // The clock in ms since Init: the video region's time.
  int64_t VideoNow() const { return clock_.NowMs() - videoEpochMs_; }
  void CursorStep() {
    if (cursor_.OrdinaryStep()) ChangeSent();
  }
  void FinishStep();
  // Hands a new icon area to the encoder, in frame pixels.
  void TakeOwnIconArea();
  // Encodes rows first..end-1 as an update; tells the owner when they held
  // a change beyond its icon. Whether the last payload was sent.
  bool EncodeChanges(int first, int end);
  void ChangeSent() { owner_->ChangeSent(); }
  // The disconnection datagram of the current screen identifier.
  void SendDisconnectionDatagram();

  CaptureOwner* owner_ = nullptr;
  std::unique_ptr<StrEncoder> encoder_;
  std::unique_ptr<ScreenSource> screen_;
  CursorTracker cursor_;
  const CaptureClock& clock_;
  StepHook* hook_ = nullptr;
  CaptureTransport* transport_ = nullptr;

  // The shared area: areaWidth x height pixels at (originX, originY) of the
  // screen; partial when it is less than the whole screen. Frames go out
  // width_ pixels wide.
  int areaWidth_ = 0;
  int width_ = 0;
  int height_ = 0;
  int originX_ = 0;
  int originY_ = 0;
  bool partialArea_ = false;
  bool areaFellBack_ = false;
  InitMessage init_;  // the screen identifier is filled in when sent
  // The frame the encoder reads: the source's own, or a copy of it padded
  // to the sent width (SentFrameWidth) when the area's width is not a
  // multiple of 8.
  uint8_t* frame_ = nullptr;
  uint8_t* sourceFrame_ = nullptr;  // owned by the screen source
  std::vector<uint8_t> paddedFrame_;
  std::vector<uint8_t> backBuffer_;
  size_t screenBytes_ = 0;

  std::mutex iconMutex_;  // guards iconArea_
  ScreenRect iconArea_;   // screen pixels
  std::atomic<bool> iconAreaChanged_{false};

  AutoResetEvent pollingEvent_;
  std::atomic<bool> running_{false};
  std::atomic<bool> displayChanged_{false};
  std::atomic<bool> refreshWanted_{true};
  std::atomic<bool> accountWanted_{false};
  std::atomic<uint32_t> refreshAskedMs_{0};  // when refreshWanted_ was last set
  SequenceRows sentRows_;
  LedgerTransport ledger_;  // the encoder's and the engine's transport
  RepairPlanner repairs_;
  FullUpdateBudget budget_;
  // Bounds what requests make the engine send: repairs, heals, rolling
  // slices and the full-screen updates receivers ask for.
  TrafficBudget traffic_;
  bool chargeFull_ = false;  // the running full-screen update was asked for
  bool cursorRepair_ = false;  // a request wants the shape again
  uint32_t fullStartBytes_ = 0;
  std::atomic<bool> restartFullUpdate_{false};
  int bytesPerPixel_ = 0;
  Quarter quarters_[4];
  int pollQuarter_ = 0;
  int fullQuarter_ = 0;
  std::atomic<bool> polling_{false};
  std::atomic<bool> paused_{false};
  std::atomic<int> periodMs_{10};  // the update period, read by the work thread
  Pacer pacer_;
  VideoRegion video_;
  int64_t videoEpochMs_ = 0;
  bool pointerDue_ = false;       // a pointer event awaits its query
  int64_t lastPointerQuery_ = 0;  // ms, of the self-paced cursor queries

  std::thread thread_;
  std::atomic<bool> finished_{false};
  // Held by the work thread for the length of a step.
  std::mutex workMutex_;
  mutable std::mutex stepMutex_;
  std::condition_variable stepDone_;
  uint64_t steps_ = 0;
};

}  // namespace qc
