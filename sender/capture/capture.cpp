// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "common/log_file.h"
#include "common/strip_format.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/screen_source.h"

namespace qc {

void CaptureOwner::ShowErrorMessage(const char* caption, const char* text) {
  fprintf(stderr, "%s: %s\n", caption, text);
}

qcCapture::qcCapture(std::unique_ptr<ScreenSource> screen, std::unique_ptr<CursorSource> cursor,
                     const CaptureClock& clock)
    : screen_(std::move(screen)), cursor_(std::move(cursor)), clock_(clock) {}

qcCapture::~qcCapture() {
  if (thread_.joinable()) {
    running_ = false;
    if (hook_ != nullptr) hook_->Stop();
    Wake();
    thread_.join();
  }
  // The encoder writes its statistics now that the work thread is gone.
  encoder_.reset();
}

int qcCapture::QuarterBound(int height, int q) {
  switch (q) {
    case 0: return 0;
    case 1: return height / 4;
    case 2: return height / 2;
    case 3: return 3 * (height / 4);
    default: return height;
  }
}

bool qcCapture::Init(CaptureOwner* owner) {
  if (owner == nullptr || thread_.joinable()) return false;
  owner_ = owner;
  if (!SetUpScreen()) return false;
  ledger_.Bind(&owner->Sender(), &sentRows_, width_, height_, bytesPerPixel_, &clock_);
  transport_ = &ledger_;
  repairs_.SetHeight(height_);
  cursor_.Bind(transport_, ScreenRect{originX_, originY_, areaWidth_, height_}, partialArea_);

  encoder_ = std::make_unique<StrEncoder>();
  encoder_->Init(width_, bytesPerPixel_, frame_, backBuffer_.data(), transport_);
  video_.Configure(owner->Video());
  video_.Init(width_, height_, init_, frame_, backBuffer_.data(), transport_);
  videoEpochMs_ = clock_.NowMs();
  periodMs_ = std::max(1, owner_->UpdatePeriod());

  running_ = true;
  try {
    thread_ = std::thread(&qcCapture::WorkThread, this);
  } catch (const std::system_error& e) {
    running_ = false;
    Log().Print("qcCapture: Creating work thread failed (error %ld)\n",
                static_cast<long>(e.code().value()));
    return false;
  }
  return true;
}

bool qcCapture::SetUpScreen() {
  ScreenFormat format;
  if (screen_ == nullptr || !screen_->Open(format) || format.width <= 0 || format.height <= 0) {
    Log().Print("qcCapture: Unable to get DC\n");
    return false;
  }
  int bitsPerPixel = format.bitsPerPixel == 24 ? 32 : format.bitsPerPixel;
  if (bitsPerPixel < 16 || (bitsPerPixel != 16 && bitsPerPixel != 32)) {
    owner_->ShowErrorMessage(kUnsupportedScreenCaption, kUnsupportedScreenText);
    return false;
  }
  Log().Print("qcCapture: Screen parameters: %d x %d x %d\n", format.width, format.height,
              bitsPerPixel);
  // The strip encoding addresses at most 4096 pixels a row and 32767 rows.
  if (format.width > kMaxFrameWidth || format.height > kMaxScreenRows) {
    Log().Print("qcCapture: Screen larger than %d x %d is not supported\n", kMaxFrameWidth,
                kMaxScreenRows);
    owner_->ShowErrorMessage(kUnsupportedScreenCaption, kUnsupportedScreenText);
    return false;
  }
  areaWidth_ = format.width;
  width_ = SentFrameWidth(format.width);
  height_ = format.height;
  originX_ = format.originX;
  originY_ = format.originY;
  partialArea_ = format.partial;
  areaFellBack_ = format.fellBack;
  bytesPerPixel_ = bitsPerPixel / 8;

  init_ = InitMessage{};
  init_.width = static_cast<uint16_t>(width_);
  init_.height = static_cast<uint16_t>(height_);
  init_.bitsPerPixel = static_cast<uint16_t>(bitsPerPixel);
  init_.redMask = format.redMask;
  init_.greenMask = format.greenMask;
  init_.blueMask = format.blueMask;

  for (int q = 0; q < 4; ++q) {
    quarters_[q].top = QuarterBound(height_, q);
    quarters_[q].bottom = QuarterBound(height_, q + 1);
  }
  pollQuarter_ = 0;
  fullQuarter_ = 0;

  sourceFrame_ = screen_->CreateFrame();
  if (sourceFrame_ == nullptr) {
    Log().Print("qcCapture: Unable to create DIB section\n");
    return false;
  }
  screenBytes_ = static_cast<size_t>(height_) * width_ * bytesPerPixel_;
  frame_ = sourceFrame_;
  try {
    if (width_ != areaWidth_) {
      // The sent frame is wider than the source's: grabbed rows are copied
      // into it, its added columns stay 0.
      paddedFrame_.assign(screenBytes_, 0);
      frame_ = paddedFrame_.data();
    }
    backBuffer_.assign(screenBytes_, 0);
  } catch (const std::bad_alloc&) {
    Log().Print("qcCapture: Unable to allocate back buffer\n");
    return false;
  }
  return true;
}

void qcCapture::SetPolling(bool on) {
  polling_ = on;
  if (!on) {
    // A step that is running finishes before this returns, and none starts
    // after: the caller may then reopen, reset or close the transport.
    std::lock_guard<std::mutex> idle(workMutex_);
  }
  if (owner_ == nullptr) return;
  periodMs_ = std::max(1, owner_->UpdatePeriod());
  if (on) Wake();
}

void qcCapture::UpdatePeriodChanged() {
  // Read at the next step.
  if (owner_ != nullptr) periodMs_ = std::max(1, owner_->UpdatePeriod());
}

void qcCapture::Wake() {
  pollingEvent_.Set();
  if (screen_ != nullptr) screen_->Wake();
}

void qcCapture::SendDisconnectionDatagram() {
  uint8_t datagram[kDisconnectionSize];
  BuildDisconnection(transport_->ScreenId(), datagram);
  transport_->SendRaw(datagram, sizeof datagram);
}

void qcCapture::SendDisconnection() {
  if (transport_ != nullptr) SendDisconnectionDatagram();
  refreshWanted_ = true;
  // A full-screen update cut short by the stop starts over at quarter 0, so
  // that the next transmission begins with its init message.
  restartFullUpdate_ = true;
}

void qcCapture::RequestRefresh() {
  refreshAskedMs_ = clock_.Tick();
  // The work thread hands the request to the budget, which may start the
  // update at once; requests before it took the flag need no new wake.
  if (!refreshWanted_.exchange(true)) Wake();
}
void qcCapture::RequestRepair(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) {
  if (repairs_.Request(screenId, first, last, from)) Wake();
}
void qcCapture::SetOwnIconArea(const ScreenRect& screenArea) {
  {
    std::lock_guard<std::mutex> lock(iconMutex_);
    if (iconArea_ == screenArea) return;
    iconArea_ = screenArea;
  }
  iconAreaChanged_ = true;
}

void qcCapture::TakeOwnIconArea() {
  ScreenRect area;
  {
    std::lock_guard<std::mutex> lock(iconMutex_);
    area = iconArea_;
  }
  // Into frame pixels; an icon outside the shared area is never sent.
  area.x -= originX_;
  area.y -= originY_;
  encoder_->SetQuietArea(area.Intersect(ScreenRect{0, 0, areaWidth_, height_}));
}

bool qcCapture::EncodeChanges(int first, int end) {
  const bool sent = encoder_->EncodeRows(first, end, PacketType::Update);
  if (encoder_->SentBeyondQuietArea()) ChangeSent();
  return sent;
}

void qcCapture::SetPaused(bool paused) { paused_ = paused; }
bool qcCapture::IsPaused() const { return paused_; }
bool qcCapture::IsPolling() const { return polling_; }

void qcCapture::OnKeepAliveTimer() {
  if (transport_ == nullptr) return;
  if (!transport_->SentSinceTick() && (polling_ || paused_)) {
    uint8_t datagram[kKeepAliveSize];
    BuildKeepAlive(transport_->ScreenId(), datagram);
    transport_->SendRaw(datagram, sizeof datagram);
  }
  // Cleared after the keep-alive, which set it too.
  transport_->ClearSentSinceTick();
}

void qcCapture::OnDisplayChange() {
  if (polling_ || paused_) {
    displayChanged_ = true;
    Wake();
  }
}

uint64_t qcCapture::StepsDone() const {
  std::lock_guard<std::mutex> lock(stepMutex_);
  return steps_;
}

bool qcCapture::WaitForSteps(uint64_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(stepMutex_);
  return stepDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return steps_ >= count || finished_.load(); });
}

void qcCapture::FinishStep() {
  {
    std::lock_guard<std::mutex> lock(stepMutex_);
    ++steps_;
  }
  stepDone_.notify_all();
}

void qcCapture::WorkThread() {
  pollingEvent_.Wait();
  Log().Print("qcCapture: Work thread started\n");
  const uint32_t bytesAtStart = transport_->TotalBytesSent();
  const uint64_t parityAtStart = transport_->ParityBytesSent();
  const uint64_t chargedAtStart = traffic_.Charged();
  // What the transmission cost beyond the screen's changes (bench/crowd.sh).
  auto logAccount = [&](const char* when) {
    const unsigned long long sentKb = (transport_->TotalBytesSent() - bytesAtStart) / 1000;
    const unsigned long long parityKb = (transport_->ParityBytesSent() - parityAtStart) / 1000;
    const unsigned long long extraKb = (traffic_.Charged() - chargedAtStart) / 1000;
    Log().Print("qcCapture: Sent %llu kB%s, of which %llu kB parity and %llu kB repairs, "
                "refreshes and requested full-screen updates\n",
                sentKb, when, parityKb, extraKb);
  };
  bool closed = false;
  int64_t pacedPeriod = 0;
  Pause pause;  // none before the first step
  int64_t lastStart = 0;
  while (running_ && !closed) {
    if (!polling_) {
      // Stopped or paused: until started again, or destroyed.
      pollingEvent_.Wait();
      pause = Pause{};
      continue;
    }
    if (hook_ != nullptr) {
      hook_->BeforeStep(pause);
    } else {
      Rest(pause, lastStart);
    }
    if (!running_) break;
    lastStart = clock_.NowUs();
    bool stepped = false;
    {
      // Steps run only while polling; SetPolling(false) waits on this lock
      // for the step in progress.
      std::lock_guard<std::mutex> step(workMutex_);
      if (polling_) {
        closed = !Step(pause, pacedPeriod);
        stepped = !closed;
      }
    }
    if (stepped) FinishStep();
    if (accountWanted_.exchange(false)) logAccount(" so far");
  }
  Log().Print("qcCapture: Work thread finished\n");
  logAccount("");
  if (!closed) SendDisconnectionDatagram();
  refreshWanted_ = true;
  finished_ = true;
  FinishStep();
}

void qcCapture::Rest(const Pause& pause, int64_t lastStart) {
  if (pause.ms <= 0) return;
  if (pause.untilDrawn) {
    screen_->WaitForDamage(pause.ms);
  } else {
    pollingEvent_.WaitFor(pause.ms);
  }
  // Woken again within a tick of the last step (requests arrive whenever
  // anyone sends them): the next step waits for the tick, so that a flood
  // of requests costs at most one step a tick.
  const int64_t since = (clock_.NowUs() - lastStart) / 1000;
  if (since < pacer_.TickMs()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pacer_.TickMs() - since));
  }
}

bool qcCapture::Step(Pause& pause, int64_t& pacedPeriod) {
  if (restartFullUpdate_.exchange(false)) {
    fullQuarter_ = 0;
    budget_.StartOver();
  }
  // The source sees a mode change on its own connection; the handler
  // reports the ones the program hears of.
  if (displayChanged_ || screen_->DisplayChanged()) {
    Log().Print("qcCapture: Screen parameters were changed, terminating Quillcast.\n");
    // Receivers must hear of the end before the transport goes.
    SendDisconnectionDatagram();
    transport_->Close();
    owner_->FatalError();
    return false;
  }
  const int64_t begin = clock_.NowUs();
  const int64_t start = begin / 1000;
  if (pacedPeriod != periodMs_) {
    pacedPeriod = periodMs_;
    pacer_.Reset(periodMs_, start);
  }
  transport_->SetLevel(pacer_.Level());
  if (iconAreaChanged_.exchange(false)) TakeOwnIconArea();
  if (FullUpdateNow()) {
    FullScreenStep();
    pause = Pause{pacer_.TickMs(), false};
  } else if (screen_->TracksDamage()) {
    pause = PacedStep(start);
  } else {
    PollingStep();
    pause = Pause{pacer_.TickMs(), false};
  }
  transport_->FlushParity();
  // The budget's next start, the planner's heal or rolling slice and an
  // open parity group end the sleep too.
  const int pending = PendingWorkMs();
  if (pending >= 0) pause.ms = std::max(1, std::min(pause.ms, pending));
  const int64_t end = clock_.NowUs();
  pacer_.Worked(end / 1000, static_cast<double>(end - begin) / 1000.0);
  return true;
}

void qcCapture::GrabRows(int first, int end, bool maskVideo) {
  screen_->GrabRows(first, end);
  if (frame_ != sourceFrame_) {
    const size_t from = static_cast<size_t>(areaWidth_) * bytesPerPixel_;
    const size_t to = static_cast<size_t>(width_) * bytesPerPixel_;
    for (int y = first; y < end; ++y) {
      std::memcpy(frame_ + to * y, sourceFrame_ + from * y, from);
    }
  }
  video_.AfterGrab(VideoNow(), first, end, maskVideo);
}

void qcCapture::VideoStep() {
  const int64_t now = VideoNow();
  int first = 0, end = 0;
  if (video_.TakeChange(now, first, end)) {
    // The rows the region left go out losslessly, whole.
    GrabRows(first, end);
    video_.ReleaseLeftArea();
    encoder_->EncodeRows(first, end, PacketType::Update);
  }
  video_.SendFrameIfDue(now);
}

void qcCapture::ObserveTraffic() { traffic_.Observe(clock_.Tick(), transport_->StreamBytesSent()); }

bool qcCapture::FullUpdateNow() {
  if (refreshWanted_.exchange(false)) budget_.Request(refreshAskedMs_);
  if (!budget_.ShouldStart(clock_.Tick())) return false;
  // One under way finishes; one that receivers asked for waits for the
  // traffic budget.
  if (fullQuarter_ != 0 || budget_.Immediate()) return true;
  ObserveTraffic();
  return traffic_.Allows();
}

void qcCapture::FullScreenStep() {
  int k = fullQuarter_;
  const uint32_t startBytes = transport_->StreamBytesSent();
  if (k == 0) {
    Log().Print("qcCapture: Sending fullscreen update\n");
    // The update that starts a transmission is owed to every receiver;
    // those asked for later come out of the traffic budget.
    chargeFull_ = !budget_.Immediate();
    if (!chargeFull_) traffic_.Reset(clock_.Tick(), startBytes);
    budget_.Started(clock_.Tick());
    fullStartBytes_ = transport_->StreamBytesSent();
    // Every row now compares as changed (except a row of 0x01 bytes).
    std::memset(backBuffer_.data(), 0x01, backBuffer_.size());
    transport_->ResetStream();
    init_.screenId = transport_->ScreenId();
    uint8_t datagram[kInitSize];
    BuildInit(init_, datagram);
    transport_->SendRaw(datagram, sizeof datagram);
  }
  // The region's real pixels too: new receivers start from them.
  GrabRows(quarters_[k].top, quarters_[k].bottom, false);
  if (chargeFull_) transport_->SetLevel(kExtraLevel);
  // Each payload is its own stream: they are deflated on all cores and
  // sent in order.
  transport_->BeginBatch();
  encoder_->EncodeRows(quarters_[k].top, quarters_[k].bottom, PacketType::FullUpdate);
  transport_->EndBatch();
  ChangeSent();
  transport_->SetLevel(pacer_.Level());
  if (++k == 4) {
    k = 0;
    budget_.Finished(transport_->StreamBytesSent() - fullStartBytes_);
    if (cursor_.ClosingStep()) ChangeSent();
  }
  fullQuarter_ = k;
  if (chargeFull_) traffic_.Charge(transport_->StreamBytesSent() - startBytes);
}

int qcCapture::PendingWorkMs() {
  const uint32_t now = clock_.Tick();
  int wait = repairs_.WaitMs(now, ledger_);
  if ((repairs_.HasMarks() || cursorRepair_) && (wait < 0 || traffic_.MsUntilAllowed() < wait)) {
    wait = traffic_.MsUntilAllowed();
  }
  const int parity = transport_->ParityDueMs();
  if (parity >= 0 && (wait < 0 || parity < wait)) wait = parity;
  if (budget_.Wanted()) {
    int start = static_cast<int>(budget_.NextStartMs(now) - now);
    if (!budget_.Immediate() && fullQuarter_ == 0) {
      start = std::max(start, traffic_.MsUntilAllowed());
    }
    if (wait < 0 || start < wait) wait = start;
  }
  return wait;
}

void qcCapture::ApplyRepairs() {
  const RepairPlanner::Plan plan =
      repairs_.Take(clock_.Tick(), transport_->ScreenId(), sentRows_, ledger_);
  if (plan.fullUpdate) RequestRefresh();
  transport_->NoteLosses(plan.losses, plan.reporters);
  if (plan.cursor) cursorRepair_ = true;
  ObserveTraffic();
  // What the budget cannot pay for now waits (the marks, the cursor).
  if (!traffic_.Allows()) return;
  if (cursorRepair_) {
    cursorRepair_ = false;
    pointerDue_ = true;  // the shape goes out at this step's cursor query
    traffic_.Charge(cursor_.ResendShape());
  }
  if (!repairs_.HasMarks()) return;
  const uint32_t startBytes = transport_->StreamBytesSent();
  // Extra traffic is deflated at the cheapest level: it is paid for in
  // budget bytes, and its CPU is what an attacker could make us spend.
  transport_->SetLevel(kExtraLevel);
  ledger_.SetExtra(true);
  // The marked rows of the frame hold what was last grabbed there; making
  // the reference differ in every byte of the marked substrings makes the
  // encoder send those whole. Every other byte of the frame still equals
  // the reference, so one pass over the span of the marks sends the marked
  // substrings only, packed into as few datagrams as their bytes need (the
  // rows one repair needs may lie apart).
  const size_t row = static_cast<size_t>(width_) * bytesPerPixel_;
  const size_t substring = row / kSubstringsPerRow;
  int low = height_, high = 0;
  repairs_.TakeMarks([&](int y, uint8_t substrings) {
    const uint8_t* f = frame_ + row * y;
    uint8_t* r = backBuffer_.data() + row * y;
    for (int k = 0; k < kSubstringsPerRow; ++k) {
      if ((substrings & kBitTable[k]) == 0) continue;
      for (size_t i = k * substring; i < (k + 1) * substring; ++i) {
        r[i] = static_cast<uint8_t>(~f[i]);
      }
    }
    low = std::min(low, y);
    high = std::max(high, y + 1);
  });
  if (low < high) encoder_->EncodeRows(low, high, PacketType::Update);
  ledger_.SetExtra(false);
  transport_->SetLevel(pacer_.Level());
  traffic_.Charge(transport_->StreamBytesSent() - startBytes);
}

void qcCapture::PollingStep() {
  ApplyRepairs();
  const Quarter& quarter = quarters_[pollQuarter_];
  GrabRows(quarter.top, quarter.bottom);
  EncodeChanges(quarter.top, quarter.bottom);
  pollQuarter_ = (pollQuarter_ + 1) % 4;
  VideoStep();
  CursorStep();
}

Pause qcCapture::PacedStep(int64_t now) {
  // Without pointer events the cursor is queried once a period; with them a
  // move ends the wait, and only the backstop bounds it.
  ApplyRepairs();
  const bool pointerEvents = screen_->TracksPointer();
  int64_t next = now + (pointerEvents ? kPointerBackstopMs : periodMs_.load());
  bool pending = false;
  const int64_t videoNow = VideoNow();
  for (int q = 0; q < 4; ++q) {
    int from = 0, to = 0;
    screen_->DrawnBand(quarters_[q].top, quarters_[q].bottom, from, to);
    if (from >= to) continue;
    if (now < pacer_.NotBefore(q) && !video_.WantsRows(videoNow, from, to)) {
      // Drawn again too soon: grabbed when its time comes, so its latest
      // state still goes out.
      pending = true;
      next = std::min(next, pacer_.NotBefore(q));
      continue;
    }
    // Only the drawn rows: every other row of the frame already equals the
    // back buffer, as the encoder requires.
    GrabRows(from, to);
    if (EncodeChanges(from, to)) {
      pacer_.Sent(q, now);
    }
  }
  // A wait for a quarter's turn is not on the X connection: the pointer's
  // events are read at the latest a period later.
  if (pending) next = std::min(next, now + periodMs_);
  VideoStep();
  // A playing region is watched even when nothing is drawn: its end (the
  // video stopped) must be seen to make the picture exact again.
  if (video_.Active()) {
    const int untilFrame = video_.MsUntilFrame(VideoNow());
    next = std::min<int64_t>(next, now + (untilFrame > 0 ? untilFrame : VideoRegion::kWatchMs));
  }
  if (!pointerEvents) {
    CursorStep();
  } else if (screen_->TakePointerEvent() || pointerDue_) {
    // All moves since the last query make one, at most once a tick.
    pointerDue_ = true;
    const int64_t allowed = lastPointerQuery_ + pacer_.TickMs();
    if (now < allowed) {
      pending = true;
      next = std::min(next, allowed);
    } else {
      PointerQuery(now);
    }
  } else if (now >= lastPointerQuery_ + kPointerBackstopMs) {
    PointerQuery(now);
  }
  if (pointerEvents) next = std::min(next, lastPointerQuery_ + kPointerBackstopMs);
  return Pause{static_cast<int>(std::max<int64_t>(1, next - now)), !pending};
}

void qcCapture::PointerQuery(int64_t now) {
  pointerDue_ = false;
  lastPointerQuery_ = now;
  CursorStep();
}

}  // namespace qc
