// SPDX-License-Identifier: GPL-3.0-or-later
// When the capture engine starts a full-screen update. Receivers ask for one
// when they join or lost more than a repair can mend; it is served at once
// when none ran recently, and the pause after one grows with its size, so
// that full-screen updates never take more than kShareBytesPerSecond of the
// stream however many receivers ask. Requests that follow each other
// closely (each within kGatherQuietMs of the one before, for at most
// kGatherMaxMs), and those that arrive while one runs or soon after, are
// served together by one update.
//
// A pure class: the caller passes the time (a ms tick count, wrapping) and
// runs on one thread (the capture work thread).
#pragma once

#include <cstdint>

namespace qc {

class FullUpdateBudget {
 public:
  // The share of the stream full-screen updates may take: 250 kB/s, a fifth
  // of what a 10 Mbit/s link carries. A 1080p text screen (about 66 kB)
  // may then be sent every kMinGapMs, a photo (about 1.4 MB) every 5.6 s.
  static constexpr uint32_t kShareBytesPerSecond = 250000;
  // Least and greatest time from one start to the next while asked.
  static constexpr uint32_t kMinGapMs = 500;
  static constexpr uint32_t kMaxGapMs = 15000;
  // Thirty receivers started together on one busy machine asked over about
  // 550 ms, never more than 160 ms apart; a lone joiner waits 200 ms.
  static constexpr uint32_t kGatherQuietMs = 200;
  static constexpr uint32_t kGatherMaxMs = 1000;

  // Wanted at once, whatever ran before: a new transmission starts with a
  // full-screen update.
  void StartOver() { immediate_ = true; }
  // A receiver asked at requestMs (any request that needs the whole screen).
  void Request(uint32_t requestMs);
  // Whether a full-screen update is to run now: one is under way, or one is
  // wanted and the budget allows it.
  bool ShouldStart(uint32_t nowMs) const;
  // The earliest tick at which ShouldStart may turn true (nowMs when it is,
  // or when nothing is wanted: then no deadline).
  uint32_t NextStartMs(uint32_t nowMs) const;
  bool Wanted() const { return immediate_ || wanted_; }
  // Whether the wanted update is the one that starts a transmission (not
  // asked for by a receiver).
  bool Immediate() const { return immediate_; }

  void Started(uint32_t nowMs);
  // bytes: what the whole update sent.
  void Finished(uint32_t bytes);

  // Time from one start to the next for an update of this many bytes.
  static uint32_t GapFor(uint32_t bytes);

 private:
  bool immediate_ = true;  // the first transmission starts at once
  bool wanted_ = false;
  bool running_ = false;
  bool haveLast_ = false;
  uint32_t wantedSinceMs_ = 0;
  uint32_t lastRequestMs_ = 0;
  uint32_t lastStartMs_ = 0;
  uint32_t gapMs_ = 0;
};

}  // namespace qc
