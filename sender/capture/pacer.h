// SPDX-License-Identifier: GPL-3.0-or-later
// Pacer: when the self-paced capture engine may grab each quarter again, and
// which deflate level it uses, from what it sent and how busy its work
// thread was. Pure bookkeeping on times the caller passes in (ms of any
// monotonic clock), so that it is tested without waiting.
//
// A quarter that changes now and then (typing, a clock) is grabbed again
// one tick after its last send: its changes go out at once. A quarter that
// was still changing whenever it was allowed again, kBusyStreak sends in a
// row, is busy: receivers then get its latest state every kBusyIntervalMs
// instead of every intermediate frame. "Still changing" means drawn again
// within kBusyIntervalMs (or two update periods, if longer) of being
// allowed: a terminal on a busy machine redraws some 30 times a second, and
// with two periods of 10 ms alone it never counted as busy, so every one
// of its frames went out. When the work thread's steps take
// more than kDutyBudget of the time, busy quarters wait kSlowIntervalMs and
// payloads are deflated at kBusyLevel until the duty falls below half the
// budget. A changed quarter is always grabbed once its time comes, so the
// final state of the screen is never held back longer than
// kSlowIntervalMs plus one tick.
//
// Threads: the capture work thread only.
#pragma once

#include <cstdint>

namespace qc {

class Pacer {
 public:
  // Sends in a row, each at most StreakSlackMs after the quarter was
  // allowed again, that make a quarter busy.
  static constexpr int kBusyStreak = 3;
  // Rates of a busy quarter: 25 pictures a second, about 16 over budget; both
  // keep the picture less than 100 ms behind the screen.
  static constexpr int kBusyIntervalMs = 40;
  static constexpr int kSlowIntervalMs = 60;
  // Share of one core the steps may take, measured over kDutyWindowMs.
  static constexpr double kDutyBudget = 0.06;
  static constexpr int kDutyWindowMs = 500;
  // Deflate levels: kNormalLevel is the transport's default; kBusyLevel
  // takes about a third of its time for about 20% more bytes.
  static constexpr int kNormalLevel = 6;
  static constexpr int kBusyLevel = 1;

  // The update period (ms); a tick is a quarter of it. Starts every quarter
  // afresh.
  void Reset(int periodMs, int64_t now);
  int TickMs() const { return tick_; }
  // Quarter q sent rows at `now`.
  void Sent(int q, int64_t now);
  // Earliest time quarter q may be grabbed again.
  int64_t NotBefore(int q) const { return quarters_[q].notBefore; }
  bool Busy(int q) const { return quarters_[q].streak >= kBusyStreak; }
  // A step took busyMs of work and ended at `now`.
  void Worked(int64_t now, double busyMs);
  bool OverBudget() const { return overBudget_; }
  int Level() const { return overBudget_ ? kBusyLevel : kNormalLevel; }

 private:
  int StreakSlackMs() const { return period_ * 2 > kBusyIntervalMs ? period_ * 2 : kBusyIntervalMs; }
  struct Quarter {
    int64_t notBefore = 0;
    int streak = 0;
  };
  int period_ = 10;
  int tick_ = 2;
  Quarter quarters_[4];
  int64_t windowStart_ = 0;
  double windowBusy_ = 0;
  bool overBudget_ = false;
};

}  // namespace qc
