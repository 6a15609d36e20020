// SPDX-License-Identifier: GPL-3.0-or-later
// qcCapture: the sender's engine. A work thread grabs the screen quarter by
// quarter, lets the strip encoder send the rows that changed, keeps the
// cursor current, and runs the full-screen updates that let new and damaged
// receivers start over. It also sends the keep-alives and the disconnection.
//
// Pacing. In the program the work thread paces itself (see Pacer): with
// damage tracking it grabs the quarters drawn in, as soon as their pace
// allows, and otherwise sleeps in the screen source until something is
// drawn. When the source also wakes it for pointer moves and cursor shape
// changes, it queries the cursor at once (at most once a tick), and
// otherwise only every kPointerBackstopMs; without those events, once per
// update period. A full-screen update runs one quarter per tick, its
// payloads deflated on all cores. An owner that
// runs a poll timer instead (tests, benchmarks: CaptureOwner::RunsPollTimer)
// gets one step, one quarter in turn, per OnPollTimer call. The full-update
// and keep-alive timers and the display-change handler are the owner's
// (GUI thread). Init, SetPolling and RestartPollTimer tell a timer-running
// owner to start or stop its poll timer; the destructor does not call back
// into the owner, which stops its timers itself. The owner's FatalError may
// be called on the work thread and must not destroy the engine there.
//
// The screen source reports display changes it sees itself (an X RandR
// resize), whenever they happen; OnDisplayChange adds those the program
// hears of, while transmitting or paused.
//
// Threads: the constructor, Init, the destructor, SetPolling,
// RestartPollTimer, SendDisconnection, SetPaused and the four handlers run
// on the GUI thread; RequestRefresh may be called from any thread (the
// listen thread). The work thread is the only user of the screen and cursor
// sources, the frames, the encoder and the cursor bookkeeping.
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
#include "platform/tick_clock.h"
#include "sender/capture/full_update_budget.h"
#include "sender/capture/pacer.h"
#include "sender/capture/repair_ledger.h"
#include "sender/capture/repair_planner.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/str_encoder.h"
#include "sender/capture/traffic_budget.h"
#include "sender/capture/transport.h"
#include "sender/capture/video_region.h"

namespace qc {

class ScreenSource;
class CursorSource;
struct ScreenFormat;
struct CursorState;

// Text of the message box for a screen the engine cannot capture.
inline constexpr char kUnsupportedScreenCaption[] = "Quillcast Error";
inline constexpr char kUnsupportedScreenText[] =
    "Quillcast does not support current screen parameters.\n"
    "Please switch to a display mode with 16, 24 or 32 bit colors.";

// What the engine needs from the tray controller.
class CaptureOwner {
 public:
  virtual ~CaptureOwner() = default;
  // Where the engine and its encoder send: qcSender in the program, a
  // recorder in tests. Asked once, in Init; must outlive the engine.
  virtual CaptureTransport& Sender() = 0;
  // The "UpdatePeriod" setting, in ms.
  virtual int UpdatePeriod() const = 0;
  // The single fatal path; may be called from the work thread.
  virtual void FatalError() = 0;
  // Whether the owner runs a poll timer that calls OnPollTimer for each
  // step; otherwise (the program) the engine paces itself and never starts
  // it.
  virtual bool RunsPollTimer() const { return false; }
  // The poll timer: (re)start with the given interval, or stop. GUI thread.
  virtual void StartPollTimer(int /*intervalMs*/) {}
  virtual void StopPollTimer() {}
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

class qcCapture {
 public:
  // Intervals of the two timers that run for the engine's whole life.
  static constexpr int kFullUpdateIntervalMs = 15000;  // the full-update timer
  static constexpr int kKeepAliveIntervalMs = ::qc::kKeepAliveIntervalMs;  // the keep-alive timer
  // With pointer events, how often an idle engine still queries the cursor:
  // a warped pointer makes no event.
  static constexpr int kPointerBackstopMs = 500;
  // The deflate level of what the traffic budget pays for.
  static constexpr int kExtraLevel = 1;

  // cursor may be null (no cursor capture: cursor-off, nothing of the
  // cursor is ever sent).
  qcCapture(std::unique_ptr<ScreenSource> screen, std::unique_ptr<CursorSource> cursor);
  ~qcCapture();  // stops the work thread (destroy)
  qcCapture(const qcCapture&) = delete;
  qcCapture& operator=(const qcCapture&) = delete;

  // Screen set-up, encoder, events, work thread. Once. The engine sends
  // through owner->Sender().
  bool Init(CaptureOwner* owner);

  // Off: returns once no step is running, and none runs until it is on
  // again, so the caller may then reopen or close the transport.
  void SetPolling(bool on);
  void RestartPollTimer();
  void SendDisconnection();
  // A full-screen update is wanted (listen thread, menu command); the
  // budget decides when it starts.
  void RequestRefresh();
  // A receiver of screenId missed the datagrams numbered first..last (any
  // thread): their rows go out again at the next polling step.
  void RequestRepair(uint16_t screenId, uint32_t first, uint32_t last);
  // The engine's clock (ms tick count); tests set their own before Init.
  void SetClock(uint32_t (*clock)()) { clock_ = clock; }
  // Where the owner's tray icon lies, in screen pixels (empty: unknown or
  // not shown). Changes confined to it are sent as any other but do not
  // count for ChangeSent. Any thread; taken at the next step.
  void SetOwnIconArea(const ScreenRect& screenArea);
  void SetPaused(bool paused);
  bool IsPaused() const;
  bool IsPolling() const;
  // Whether the screen source shares the primary monitor instead of the
  // chosen area (after Init).
  bool AreaFellBack() const { return areaFellBack_; }
  // The video region's settings; before Init (they hold for the engine's
  // life). Whether a region goes out as video now: any thread.
  void ConfigureVideo(const VideoSettings& settings) { video_.Configure(settings); }
  bool VideoActive() const { return video_.Active(); }

  // Timer and display-change handlers (GUI thread).
  void OnPollTimer();
  void OnFullUpdateTimer();
  void OnKeepAliveTimer();
  void OnDisplayChange();

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
  // Whether this step is (part of) a full-screen update.
  bool FullUpdateNow();
  // Wakes the work thread from any wait.
  void Wake();
  void FullScreenStep();
  void PollingStep();
  // Sends again the rows the repair planner marked (repairs, heal, rolling
  // refresh), as ordinary updates of the frame's content, while the
  // traffic budget allows; the marks wait otherwise.
  void ApplyRepairs();
  // Brings the traffic budget up to now.
  void ObserveTraffic();
  // Self-paced: ms until the full-update budget or the repair planner wants
  // a step, or -1 when neither does.
  int PendingWorkMs();
  // One self-paced step: every drawn quarter whose pace allows it, then
  // the cursor. Returns how long the thread may sleep (ms), and whether it
  // may sleep in the screen source until something is drawn.
  int PacedStep(int64_t now, bool& waitForDamage);
  void SleepUntilNextStep(int ms, bool waitForDamage);
  // The cursor step of a self-paced step with pointer events.
  void PointerQuery(int64_t now);
  // Grabs quarter q; unless `always`, only when the source says something
  // may have been drawn there. Whether it grabbed.
  bool GrabQuarter(int q, bool always);
  // Grabs rows first..end-1 of the screen into the sent frame. With
  // maskVideo a video region's pixels are kept out of the lossless stream.
  void GrabRows(int first, int end, bool maskVideo = true);
  // The video region's step: its changes, then its frame when one is due.
  void VideoStep();
  // The engine's clock as a count that never wraps (work thread).
  int64_t VideoNow();
  // The cursor after each polling step: a new shape when the image
  // changed, the position when it moved (inside the area only). On a
  // partial area a pointer that leaves it is hidden; when it returns, its
  // shape and position are sent again.
  void OrdinaryCursorStep();
  // The cursor at the end of a full-screen update: shape and position
  // always (or the hidden cursor), so that new receivers get both.
  void ClosingCursorStep();
  // Whether the queried pointer lies in the area; x and y become relative
  // to the area.
  bool InArea(CursorState& state) const;
  bool CaptureCursorShape();
  // Sends a fully transparent shape: receivers then show no cursor.
  void HideCursor();
  void SendCursorPosition(int x, int y);
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
  std::unique_ptr<CursorSource> cursor_;
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

  bool haveCursorHandle_ = false;  // false: no shape sent yet
  uint32_t lastCursorHandle_ = 0;
  int32_t lastCursorX_ = 0;
  int32_t lastCursorY_ = 0;
  bool cursorHidden_ = false;  // the transparent shape was sent last

  std::mutex iconMutex_;  // guards iconArea_
  ScreenRect iconArea_;   // screen pixels
  std::atomic<bool> iconAreaChanged_{false};

  AutoResetEvent pollingEvent_;
  std::atomic<bool> running_{false};
  std::atomic<bool> displayChanged_{false};
  std::atomic<bool> refreshWanted_{true};
  std::atomic<uint32_t> refreshAskedMs_{0};  // when refreshWanted_ was last set
  uint32_t (*clock_)() = &TickCount;
  SequenceRows sentRows_;
  LedgerTransport ledger_;  // the encoder's and the engine's transport
  RepairPlanner repairs_;
  FullUpdateBudget budget_;
  // Bounds what requests make the engine send: repairs, heals, rolling
  // slices and the full-screen updates receivers ask for.
  TrafficBudget traffic_;
  bool chargeFull_ = false;  // the running full-screen update was asked for
  bool cursorRepair_ = false;      // a request wants the shape again
  uint32_t cursorShapeBytes_ = 0;  // what the last shape sent took
  uint32_t fullStartBytes_ = 0;
  std::atomic<bool> restartFullUpdate_{false};
  int bytesPerPixel_ = 0;
  Quarter quarters_[4];
  int pollQuarter_ = 0;
  int fullQuarter_ = 0;
  std::atomic<bool> polling_{false};
  std::atomic<bool> paused_{false};
  bool cursorOff_ = false;
  std::atomic<bool> selfPaced_{false};  // set in Init
  std::atomic<int> periodMs_{10};  // the update period, read by the work thread
  Pacer pacer_;
  VideoRegion video_;
  int64_t videoMs_ = 0;
  uint32_t videoTick_ = 0;
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
