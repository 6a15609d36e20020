// SPDX-License-Identifier: GPL-3.0-or-later
// HeardRequests: the repair requests a receiver heard on the request port,
// by anyone, and whether they cover a gap of its own. A gap is covered when
// every number of it was named by requests heard since a given time: one
// request naming them all, or several together (receivers of a crowd lose
// different pairs of one parity group: 5..6 asked by one and 7..8 by
// another cover a gap 5..7). The sender answers each of those, so a
// receiver whose gap is covered need not ask.
//
// Threads: none of its own; RequestListener guards it with its mutex.
#pragma once

#include <cstdint>

namespace qc {

class HeardRequests {
 public:
  // Requests remembered: a crowd's worth for longer than any back-off.
  static constexpr int kRemembered = 64;
  // Gaps longer than this are covered by one request only (the check walks
  // their numbers).
  static constexpr uint32_t kLongestWalked = 64;

  void Clear() {
    for (Entry& e : entries_) e = Entry{};
  }

  void Record(uint16_t screenId, uint32_t first, uint32_t last, uint32_t nowMs) {
    entries_[next_] = Entry{screenId, first, last, nowMs, true};
    next_ = (next_ + 1) % kRemembered;
  }

  // Whether requests of screenId heard at or after sinceMs (tick counts)
  // named every number of first..last.
  bool Covers(uint16_t screenId, uint32_t first, uint32_t last, uint32_t sinceMs) const {
    if (last - first >= kLongestWalked) return Names(screenId, first, last, sinceMs);
    for (uint32_t n = first;; ++n) {
      if (!Names(screenId, n, n, sinceMs)) return false;
      if (n == last) return true;
    }
  }

 private:
  // One request named all of first..last.
  bool Names(uint16_t screenId, uint32_t first, uint32_t last, uint32_t sinceMs) const {
    for (const Entry& e : entries_) {
      // (Parsed requests are ordered and at most kMaxRepairSpan long.)
      if (e.used && e.screenId == screenId && e.first <= first && last <= e.last &&
          static_cast<int32_t>(e.ms - sinceMs) >= 0) {
        return true;
      }
    }
    return false;
  }

  struct Entry {
    uint16_t screenId = 0;
    uint32_t first = 0, last = 0, ms = 0;
    bool used = false;
  };
  Entry entries_[kRemembered];
  int next_ = 0;
};

}  // namespace qc
