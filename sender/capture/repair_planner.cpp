// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/repair_planner.h"

#include <algorithm>

#include "common/log_file.h"

namespace qc {

void RepairPlanner::SetHeight(int height) {
  height_ = std::max(0, height);
  marks_.assign(static_cast<size_t>(height_), 0);
  cursorAnswered_ = false;
  anyMarked_ = false;
  haveLoss_ = false;
  rollRow_ = 0;
  rollCarry_ = 0;
  reporterCount_ = 0;
}

bool RepairPlanner::Request(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool wasEmpty = inboxCount_ == 0 && !inboxFull_;
  if (askingCount_ < kCrowd &&
      std::find(asking_, asking_ + askingCount_, from) == asking_ + askingCount_) {
    asking_[askingCount_++] = from;
  }
  // The identifier is checked on the work thread, with the transport's.
  // A crowd asks for the same numbers many times over: held once.
  for (int i = 0; i < inboxCount_; ++i) {
    const Range& r = inbox_[i];
    if (r.screenId == screenId && r.first == first && r.last == last) return false;
  }
  if (inboxCount_ == kInboxSize) {
    inboxFull_ = true;
    return false;
  }
  inbox_[inboxCount_++] = Range{screenId, first, last};
  return wasEmpty;
}

void RepairPlanner::NoteReporters(uint32_t nowMs) {
  int kept = 0;
  for (int i = 0; i < reporterCount_; ++i) {
    const Reporter r = reporters_[i];
    if (nowMs - r.ms < kReportersMs &&
        std::find(asking_, asking_ + askingCount_, r.from) == asking_ + askingCount_) {
      reporters_[kept++] = r;
    }
  }
  // Those that asked now replace the oldest.
  for (int i = 0; i < askingCount_; ++i) {
    if (kept == kCrowd) {  // the oldest goes
      std::move(reporters_ + 1, reporters_ + kCrowd, reporters_);
      --kept;
    }
    reporters_[kept++] = Reporter{asking_[i], nowMs};
  }
  reporterCount_ = kept;
  askingCount_ = 0;
}

void RepairPlanner::Mark(int first, int last, uint8_t substrings) {
  first = std::max(first, 0);
  last = std::min(last, height_ - 1);
  if (substrings == 0) return;
  for (int y = first; y <= last; ++y) marks_[static_cast<size_t>(y)] |= substrings;
  if (first <= last) anyMarked_ = true;
}

int RepairPlanner::MarkRequested(const SequenceRows& rows, const SequenceRows::Entry& e,
                                 uint32_t nowMs, bool flowing, Plan& plan) {
  if (e.kind == SequenceRows::Kind::Cursor) {
    if (cursorAnswered_ && nowMs - cursorAnsweredMs_ < kHoldoffMs) return 0;
    cursorAnswered_ = true;
    cursorAnsweredMs_ = nowMs;
    plan.cursor = true;
    return 1;
  }
  const int first = std::max<int>(e.first, 0);
  const int last = std::min<int>(e.last, height_ - 1);
  int marked = 0;
  for (int y = first; y <= last; ++y) {
    // A later datagram carried all this one had of the row (a change, or
    // the repair of another request): the receiver has it, or asks for it.
    // A datagram of a repair itself is repaired again: whoever names it
    // lost the repair.
    const uint8_t substrings = flowing ? rows.LastCarried(e.sequence, y) : 0xFF;
    if (substrings == 0) continue;
    marks_[static_cast<size_t>(y)] |= substrings;
    ++marked;
  }
  if (marked > 0) anyMarked_ = true;
  return marked;
}

void RepairPlanner::MarkEntry(const SequenceRows::Entry& e, Plan& plan) {
  if (e.kind == SequenceRows::Kind::Cursor) {
    plan.cursor = true;
  } else {
    Mark(e.first, e.last);
  }
}

bool RepairPlanner::Rolling(uint32_t nowMs) const {
  return haveLoss_ && height_ > 0 &&
         (nowMs - lossMs_ < kRollingMs ||
          nowMs - changeMs_ < kRollingQuietMs + kRollingCycleMs + kRollingSliceMs);
}

static void LogRepairing(uint32_t first, uint32_t last) {
  Log().Print("qcCapture: Repairing packets %lu to %lu\n", static_cast<unsigned long>(first),
              static_cast<unsigned long>(last));
}

int RepairPlanner::Answer(SequenceRows& rows, SequenceRows::Entry& e, uint32_t nowMs,
                          bool flowing, Plan& plan, uint32_t& waitMs) {
  for (int i = 0; i < waitingCount_; ++i) {
    if (waiting_[i].sequence != e.sequence) continue;
    waitMs = std::max(waitMs, waiting_[i].dueMs - nowMs);
    return 0;
  }
  if (flowing && e.kind == SequenceRows::Kind::Rows && !e.extra &&
      nowMs - e.sentMs < kFollowMs && waitingCount_ < kWaitingSize) {
    waiting_[waitingCount_++] = Waiting{e.sequence, e.sentMs + kFollowMs};
    waitMs = std::max(waitMs, e.sentMs + kFollowMs - nowMs);
    return 0;
  }
  e.answered = true;
  e.answeredMs = nowMs;
  return MarkRequested(rows, e, nowMs, flowing, plan);
}

void RepairPlanner::TakeWaiting(uint32_t nowMs, SequenceRows& rows, const LedgerTransport& sent,
                                bool flowing, Plan& plan) {
  if (sent.Stream() != waitingStream_) {
    waitingStream_ = sent.Stream();
    waitingCount_ = 0;
  }
  int kept = 0;
  uint32_t runFirst = 0, runLast = 0;  // numbers repaired in a row, logged as one
  bool run = false;
  const auto logRun = [&] {
    if (run) LogRepairing(runFirst, runLast);
    run = false;
  };
  for (int i = 0; i < waitingCount_; ++i) {
    const Waiting w = waiting_[i];
    if (static_cast<int32_t>(nowMs - w.dueMs) < 0) {
      waiting_[kept++] = w;
      continue;
    }
    SequenceRows::Entry* e = rows.Find(w.sequence, nowMs);
    if (e == nullptr) continue;
    e->answered = true;
    e->answeredMs = nowMs;
    if (MarkRequested(rows, *e, nowMs, flowing, plan) == 0) continue;
    if (run && w.sequence == runLast + 1) {
      runLast = w.sequence;
    } else {
      logRun();
      run = true;
      runFirst = runLast = w.sequence;
    }
  }
  logRun();
  waitingCount_ = kept;
}

int RepairPlanner::WaitMs(uint32_t nowMs, const LedgerTransport& sent) const {
  int wait = -1;
  for (int i = 0; i < waitingCount_; ++i) {
    const int32_t due = static_cast<int32_t>(waiting_[i].dueMs - nowMs);
    if (wait < 0 || due < wait) wait = std::max(0, due);
  }
  const uint32_t healFrom = sent.Stream() == healStream_ ? healFrom_ : 0;
  if (sent.NextSequence() > healFrom) {
    const uint32_t quiet = nowMs - sent.LastSentMs();
    wait = quiet >= kHealDelayMs ? 0 : static_cast<int>(kHealDelayMs - quiet);
  }
  if (Rolling(nowMs)) {
    const uint32_t since = nowMs - rollMs_;
    const int slice = since >= kRollingSliceMs ? 0 : static_cast<int>(kRollingSliceMs - since);
    if (wait < 0 || slice < wait) wait = slice;
  }
  return wait;
}

RepairPlanner::Plan RepairPlanner::Take(uint32_t nowMs, uint16_t screenId, SequenceRows& rows,
                                        const LedgerTransport& sent) {
  Plan plan;
  int count = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Requests of another screen, and a flood that overran the inbox, ask
    // for a full-screen update only, as a plain refresh request does.
    for (int i = 0; i < inboxCount_; ++i) {
      if (inbox_[i].screenId == screenId) {
        taken_[count++] = inbox_[i];
      } else {
        plan.fullUpdate = true;
      }
    }
    plan.fullUpdate = plan.fullUpdate || inboxFull_;
    inboxCount_ = 0;
    inboxFull_ = false;
    NoteReporters(nowMs);
  }
  plan.reporters = reporterCount_;
  bool knownLoss = false;
  bool unknownLogged = false;
  // Numbers of another stream are unrelated.
  if (sent.Stream() != cursorStream_) {
    cursorStream_ = sent.Stream();
    cursorAnswered_ = false;
  }
  // While the stream flows, a datagram numbered after the request follows
  // (the next change, or the heal) and tells the receiver its request was
  // answered; on a still screen only the rows sent again would.
  const bool flowing = nowMs - sent.LastSentMs() < kHealDelayMs;
  TakeWaiting(nowMs, rows, sent, flowing, plan);
  for (int i = 0; i < count; ++i) {
    const Range r = taken_[i];
    // The same range asked again since the last step (many receivers, or
    // one asking again and again) was just answered.
    bool repeat = false;
    for (int k = 0; k < i && !repeat; ++k) {
      repeat = taken_[k].first == r.first && taken_[k].last == r.last;
    }
    if (repeat) continue;
    int marked = 0;
    uint32_t waitMs = 0;
    bool reported = false;
    for (uint32_t s = r.first;; ++s) {
      // A number this stream has not reached was asked for before the
      // stream started over, and the full-screen update that started it
      // mends it. (Answered with another full-screen update, such requests
      // in flight from a crowd restart the stream again and again.)
      if (s >= sent.NextSequence()) break;
      SequenceRows::Entry* e = rows.Find(s, nowMs);
      if (e == nullptr) {
        plan.fullUpdate = true;
        if (!unknownLogged) {
          Log().Print("qcCapture: Packet %lu is not known any more, sending fullscreen update\n",
                      static_cast<unsigned long>(s));
          unknownLogged = true;
        }
        break;
      }
      // Only the loss of a change keeps the rolling refresh going: in a
      // lossy crowd someone loses part of every slice, and on a still
      // screen the slices' own losses would keep it going for ever.
      if (!e->extra) knownLoss = true;
      // Its rows were all answered (or held off) this recently: a request
      // flood costs a lookup per number, not a pass over the rows.
      if (!e->answered || nowMs - e->answeredMs >= kHoldoffMs) {
        reported = true;
        marked += Answer(rows, *e, nowMs, flowing, plan, waitMs);
      }
      if (s == r.last) break;
    }
    if (reported) ++plan.losses;
    if (marked > 0) LogRepairing(r.first, r.last);
    if (waitMs > 0) {
      Log().Print("qcCapture: Packets %lu to %lu wait %lu ms for the next frame\n",
                  static_cast<unsigned long>(r.first), static_cast<unsigned long>(r.last),
                  static_cast<unsigned long>(waitMs));
    }
  }
  // Only a loss of datagrams the sender knows starts the rolling refresh.
  if (knownLoss) {
    if (!Rolling(nowMs)) {  // a new rolling pass
      rollMs_ = nowMs;
      rollCarry_ = 0;
    }
    haveLoss_ = true;
    lossMs_ = nowMs;
  }
  // A row that changed while losses were reported may have been lost
  // unreported (a request can be lost too): the refresh goes on until it
  // went quiet and its slice came.
  if (haveLoss_ && nowMs - lossMs_ < kRollingMs) changeMs_ = sent.LastChangeMs();

  // Heal: the last datagram again, once, when nothing followed it.
  if (sent.Stream() != healStream_) {
    healStream_ = sent.Stream();
    healFrom_ = 0;
  }
  if (sent.NextSequence() > healFrom_ && nowMs - sent.LastSentMs() >= kHealDelayMs) {
    if (SequenceRows::Entry* e = rows.Find(sent.NextSequence() - 1, nowMs)) MarkEntry(*e, plan);
    healFrom_ = sent.NextSequence() + 1;  // the heal's own datagram needs none
  }

  // Rolling refresh: a slice on every step while Rolling.
  if (Rolling(nowMs)) {
    const uint32_t elapsed = std::min<uint32_t>(nowMs - rollMs_, kRollingCycleMs);
    if (elapsed >= kRollingSliceMs) {
      // The whole height every cycle however the steps fall: the part of a
      // row that the time gave is kept for the next slice.
      const uint64_t due = uint64_t{elapsed} * static_cast<uint64_t>(height_) + rollCarry_;
      const int slice = static_cast<int>(due / kRollingCycleMs);
      rollCarry_ = static_cast<uint32_t>(due % kRollingCycleMs);
      rollMs_ = nowMs;
      for (int i = 0; i < slice; ++i) {
        Mark(rollRow_, rollRow_, rows.QuietSince(rollRow_, nowMs, kRollingQuietMs));
        rollRow_ = (rollRow_ + 1) % height_;
      }
    }
  }
  return plan;
}

}  // namespace qc
