// SPDX-License-Identifier: GPL-3.0-or-later
// RepairPlanner: which rows the capture engine sends again, and why.
//
// - Repair requests: a receiver names the sequence numbers it missed; the
//   rows those datagrams carried are sent again with their current content
//   (as ordinary updates). While the stream flows (something went out in
//   the last kHealDelayMs), rows that later datagrams carried again (in
//   every substring the lost one had there: SequenceRows) are left out: a
//   screen that keeps changing (a scrolling page, a terminal) sends most
//   rows again within a frame or two, and a receiver that lost one of them
//   and the next too asks for the next as well. A receiver counts its
//   request answered when a datagram numbered after it comes, the next
//   change or the heal; on a still screen nothing else would come, and the
//   rows go out again. Requests from many receivers for
//   the same numbers cause one repair. A request for a change sent less
//   than kFollowMs ago waits until then: a part of the screen that keeps
//   changing goes out again within that time (the pacer's slowest rate for
//   a busy quarter, and a little), and its next frame carries most of the
//   rows again, which the repair then leaves out. Such early requests come
//   from receivers that lost a run of datagrams to a burst of interference
//   and ask at once. Numbers the sender no longer knows
//   (too old) or another screen identifier ask for a full-screen update
//   instead. Numbers the stream has not reached yet were asked for before
//   it started over (with a full-screen update, which mends them) and are
//   ignored.
// - Healing: a receiver notices a loss only when a later numbered datagram
//   arrives, so the last datagram of a burst could be lost unnoticed. Once
//   nothing was sent for kHealDelayMs, the rows of the last datagram are
//   sent once more; on a screen that stays still nothing else follows.
// - Rolling refresh: while receivers reported losses of changes (not of
//   rows sent again) in the last kRollingMs, and until the rows that
//   changed meanwhile went quiet and had their turn, a thin slice of rows
//   is sent again on every step, the whole screen every kRollingCycleMs,
//   to mend what no request reported: the substrings of its rows that no
//   datagram carried in the last kRollingQuietMs. Those that did change, and go out
//   with each change anyway (a scrolling window would be sent twice); a
//   receiver that lost one of those datagrams asked for it, and when the
//   changes stop, the next pass mends what no request did.
// - Reporters: how many receivers (told apart by address) asked in the
//   last kReportersMs, up to kCrowd: parity pays only for a crowd
//   (ParityEncoder), not for a receiver or two with a poor link.
//
// Threads: Request from any thread (the listen thread); everything else on
// the capture work thread. Nothing is allocated after SetHeight.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "sender/capture/pacer.h"
#include "sender/capture/parity_encoder.h"
#include "sender/capture/repair_ledger.h"

namespace qc {

class RepairPlanner {
 public:
  // A request for a number answered this recently was sent before the
  // answer arrived (the same loss seen by another receiver, or a repeat).
  static constexpr uint32_t kHoldoffMs = 100;
  static constexpr uint32_t kHealDelayMs = 150;
  static constexpr uint32_t kFollowMs = Pacer::kSlowIntervalMs + 10;
  // Numbers waiting for kFollowMs at most; more are repaired at once.
  static constexpr int kWaitingSize = 64;
  static constexpr uint32_t kRollingMs = 5000;
  static constexpr uint32_t kRollingCycleMs = 4000;
  // Slices go out at most this often, so that they fill datagrams.
  static constexpr uint32_t kRollingSliceMs = 100;
  static constexpr uint32_t kRollingQuietMs = 1000;
  // Different requests held between two steps (a range asked again is
  // held once); more ask for a full-screen update. Sixty receivers at 5%
  // loss ask for a few dozen ranges after a full-screen update, during
  // which no step takes them: 64 overflowed, and the full-screen update
  // that followed made the next overflow.
  static constexpr int kInboxSize = 256;
  static constexpr int kCrowd = ParityEncoder::kStartReporters;
  static constexpr uint32_t kReportersMs = 2000;

  struct Plan {
    bool fullUpdate = false;  // a full-screen update is wanted
    bool cursor = false;      // the cursor shape is to be sent again
    int losses = 0;           // requests that reported a loss of known datagrams
    int reporters = 0;        // receivers that asked lately, at most kCrowd
  };

  // Rows of the screen; forgets everything. Before the work thread starts.
  void SetHeight(int height);

  // Any thread: a receiver of screenId (at address `from`) missed
  // first..last. True when the inbox was empty: only then need the work
  // thread be woken (a flood of requests wakes it once per step, not once
  // per request).
  bool Request(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from);

  // Work thread, at the start of a polling step: takes the requests and
  // marks the rows to send again (repairs, heal, rolling slice).
  Plan Take(uint32_t nowMs, uint16_t screenId, SequenceRows& rows, const LedgerTransport& sent);
  // Work thread: ms until Take has something to send without a new request
  // (the heal of the last datagram, the next rolling slice); -1: nothing.
  int WaitMs(uint32_t nowMs, const LedgerTransport& sent) const;
  // Calls each(row, substrings) for every marked row in order (bit 0x80:
  // substring 0; 0xFF: the whole row) and unmarks it.
  template <class Each>
  void TakeMarks(Each&& each);
  // Whether rows are marked and wait for TakeMarks (the caller may hold
  // them back while its traffic budget is spent).
  bool HasMarks() const { return anyMarked_; }

 private:
  struct Range {
    uint16_t screenId;
    uint32_t first, last;
  };
  // Moves the addresses that asked into reporters_ and forgets those that
  // did not ask in the last kReportersMs. Under the inbox lock.
  void NoteReporters(uint32_t nowMs);
  void Mark(int first, int last, uint8_t substrings = 0xFF);
  // Marks the rows (or the cursor) of a requested datagram; while the
  // stream flows, only the substrings that no later datagram carried
  // again. How many rows it marked.
  int MarkRequested(const SequenceRows& rows, const SequenceRows::Entry& e, uint32_t nowMs,
                    bool flowing, Plan& plan);
  void MarkEntry(const SequenceRows::Entry& e, Plan& plan);
  // Whether the rolling refresh runs: receivers reported losses of changes
  // in the last kRollingMs, or rows that changed meanwhile are still to go
  // quiet and wait for their slice (kRollingQuietMs and a cycle after the
  // last such change).
  bool Rolling(uint32_t nowMs) const;
  // Answers a requested number: marks what it needs now, or lets it wait
  // (see kFollowMs). How many rows it marked; `waitMs` grows to the wait.
  int Answer(SequenceRows& rows, SequenceRows::Entry& e, uint32_t nowMs, bool flowing,
             Plan& plan, uint32_t& waitMs);
  // Marks what the numbers whose wait is over still need: what no later
  // datagram carried again.
  void TakeWaiting(uint32_t nowMs, SequenceRows& rows, const LedgerTransport& sent, bool flowing,
                   Plan& plan);

  std::mutex mutex_;  // guards the inbox
  Range inbox_[kInboxSize] = {};
  int inboxCount_ = 0;
  bool inboxFull_ = false;  // a request did not fit, or named another screen
  // Addresses that asked since the last Take (the first kCrowd), and those
  // that asked lately with when.
  uint32_t asking_[kCrowd] = {};
  int askingCount_ = 0;
  struct Reporter {
    uint32_t from, ms;
  };
  Reporter reporters_[kCrowd] = {};
  int reporterCount_ = 0;

  Range taken_[kInboxSize] = {};
  std::vector<uint8_t> marks_;  // the substrings to send of each row
  uint32_t cursorStream_ = 0;   // the stream cursorAnswered_ belongs to
  bool cursorAnswered_ = false;
  uint32_t cursorAnsweredMs_ = 0;
  int height_ = 0;
  bool anyMarked_ = false;

  uint32_t healFrom_ = 0;       // datagrams below this number are healed
  uint32_t healStream_ = 0;     // the stream healFrom_ belongs to
  bool haveLoss_ = false;
  uint32_t lossMs_ = 0;         // last loss report
  uint32_t changeMs_ = 0;       // last change sent while losses were reported
  uint32_t rollMs_ = 0;         // last rolling slice
  uint32_t rollCarry_ = 0;      // rows due times kRollingCycleMs, not yet a row
  int rollRow_ = 0;
  // Requested numbers waiting until dueMs, of stream waitingStream_.
  struct Waiting {
    uint32_t sequence, dueMs;
  };
  Waiting waiting_[kWaitingSize] = {};
  int waitingCount_ = 0;
  uint32_t waitingStream_ = 0;
};

template <class Each>
void RepairPlanner::TakeMarks(Each&& each) {
  if (!anyMarked_) return;
  anyMarked_ = false;
  for (int y = 0; y < height_; ++y) {
    uint8_t& mark = marks_[static_cast<size_t>(y)];
    if (mark == 0) continue;
    each(y, mark);
    mark = 0;
  }
}

}  // namespace qc
