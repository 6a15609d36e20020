// SPDX-License-Identifier: GPL-3.0-or-later
// Pacer: when quarters may be grabbed again and which deflate level is used,
// on times given by the test.
#include "sender/capture/pacer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qc {
namespace {

// A quarter sent whenever it is allowed (a terminal scrolling without end)
// becomes busy after kBusyStreak sends and is then held to kBusyIntervalMs;
// over budget to kSlowIntervalMs at the fast level; a quarter drawn in now
// and then (typing every 100 ms) always goes out one tick after its last
// send. Neither ever waits longer than kSlowIntervalMs.
TEST(Pacer, SparseChangesGoOutAtTheNextTickContinuousOnesAtTheBusyRate) {
  Pacer pacer;
  pacer.Reset(10, 1000);
  EXPECT_EQ(pacer.TickMs(), 2);
  int64_t now = 1000;
  for (int i = 1; i <= 6; ++i) {
    now = pacer.NotBefore(0) + 1;  // changing again as soon as allowed
    pacer.Sent(0, now);
    pacer.Sent(1, 1000 + 100 * i);  // a key every 100 ms
    EXPECT_EQ(pacer.Busy(0), i >= Pacer::kBusyStreak) << i;
    EXPECT_EQ(pacer.NotBefore(0) - now,
              i >= Pacer::kBusyStreak ? Pacer::kBusyIntervalMs : pacer.TickMs()) << i;
    EXPECT_FALSE(pacer.Busy(1)) << i;
    EXPECT_EQ(pacer.NotBefore(1), 1000 + 100 * i + pacer.TickMs());
  }
  EXPECT_EQ(pacer.Level(), Pacer::kNormalLevel);
  // Steps taking 10% of the time: over budget, and busy quarters slower;
  // under half the budget again after a quiet window.
  Pacer loaded;
  loaded.Reset(10, 0);
  for (int64_t t = 10; t <= Pacer::kDutyWindowMs; t += 10) loaded.Worked(t, 1.0);
  EXPECT_TRUE(loaded.OverBudget());
  EXPECT_EQ(loaded.Level(), Pacer::kBusyLevel);
  int64_t at = 0;
  for (int i = 0; i < Pacer::kBusyStreak; ++i) loaded.Sent(2, at = std::max<int64_t>(501, loaded.NotBefore(2) + 1));
  EXPECT_EQ(loaded.NotBefore(2) - at, Pacer::kSlowIntervalMs);
  EXPECT_LE(Pacer::kSlowIntervalMs + loaded.TickMs(), 100);
  loaded.Worked(3 * Pacer::kDutyWindowMs, 10.0);
  EXPECT_FALSE(loaded.OverBudget());
  // A pause longer than the busy interval ends the streak.
  at = pacer.NotBefore(0) + Pacer::kBusyIntervalMs + 1;
  pacer.Sent(0, at);
  EXPECT_FALSE(pacer.Busy(0));
  EXPECT_EQ(pacer.NotBefore(0), at + pacer.TickMs());
}

// A terminal on a loaded machine redraws about every 33 ms: slower than two
// update periods after each tick, still faster than the busy rate. It
// is busy after kBusyStreak sends and then waits its interval; with a long
// update period the streak allows two periods.
TEST(Pacer, ARedrawEvery33MsIsBusyAndTwoLongPeriodsStillKeepAStreak) {
  Pacer pacer;
  pacer.Reset(10, 0);
  int64_t at = 0;
  for (int i = 1; i <= Pacer::kBusyStreak; ++i) {
    at = std::max<int64_t>(at + 33, pacer.NotBefore(3));
    pacer.Sent(3, at);
  }
  EXPECT_TRUE(pacer.Busy(3));
  EXPECT_EQ(pacer.NotBefore(3) - at, Pacer::kBusyIntervalMs);
  Pacer slow;
  slow.Reset(200, 0);  // ticks of 50 ms
  at = 0;
  for (int i = 1; i <= Pacer::kBusyStreak; ++i) {
    at = slow.NotBefore(1) + 150;
    slow.Sent(1, at);
  }
  EXPECT_TRUE(slow.Busy(1));
}

}  // namespace
}  // namespace qc
