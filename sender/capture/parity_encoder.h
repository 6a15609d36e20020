// SPDX-License-Identifier: GPL-3.0-or-later
// ParityEncoder: forward error correction for the numbered datagrams.
//
// While receivers report losses, every group of consecutively numbered
// datagrams is followed by one parity datagram (common/parity_format.h):
// a receiver that lost any one datagram of a group rebuilds it without
// asking, and one parity heals different losses at different receivers.
// Parity starts when, over a window of at least kWindowMs and
// kWindowDatagrams, receivers reported more than kStartAbove of the
// datagrams lost, and at least kStartReporters receivers asked: a crowd,
// where different receivers lose different datagrams and one parity heals
// many of them. For a receiver or two with some loss the repairs alone
// cost less than parity would (one receiver at 5% loss: about 1.05 times
// the lossless stream with repairs, 1.3 with parity), and the share alone
// does not tell them from a crowd: one receiver at 5% reports more than a
// tenth of a window's datagrams now and then (a window of heals, or bad
// luck), which started parity for the whole class. The groups start at
// kFirstGroup datagrams, grow (up to kMaxGroup) while fewer than
// kGrowBelow of the datagrams still needed a repair (more than one loss in
// a group at some receiver; judged over at least kGrowDatagrams) and
// shrink back while more than kShrinkAbove did, never below kMinGroup: in
// a crowd some receiver fails most groups whatever their size, and smaller
// groups add parity (60 receivers at 5% loss: groups of 3 cost about 1.53 times the
// fresh bytes, groups of 4 about 1.45, for 6 and 11 requests a second).
// Since a request that later datagrams answered costs no repair
// (RepairPlanner), the cheaper groups of 4 are the smallest. Parity stops
// once kQuietDatagrams went out and kQuietMs passed since the last report:
// a still screen sends nothing that could be lost, so a pause in the
// changes (a slide read for a minute) keeps parity on for the changes that
// follow; were it counted, the first second after every pause would go
// unprotected and cost a row repair for each loss. A lossless network
// never sees a parity datagram.
//
// A group closes when it holds its size and its data come to at least
// (size - 1) times its longest datagram's (else one datagram later), when
// the next datagram does not continue its numbers (a stream reset, a failed
// send), and kGroupMs after its first datagram, so that the last datagrams
// of a burst are protected without waiting for more. A parity is as long as its longest
// member, so short datagrams (the end of a band of rows) ride along with
// long ones instead of costing a parity as long as those: in a terminal's
// stream the parity of a group of 4 came to 0.305 of its members' bytes, for
// a quarter at equal lengths. Each datagram is a member of up to three
// parities: its own group's, the next group's and the one after (named
// members, common/parity_format.h), each with its own coefficient in
// GF(2^8) (scheme 2): a single loss is rebuilt from its own group's parity,
// two losses of a group from that and the next group's, three from all
// three, whichever of the group were lost; and one lost parity leaves every
// datagram covered twice. (With XOR parities, two that both have both lost
// datagrams tell them nothing apart: a third of the pairs of a group of 4
// waited for the parity two groups on, past 100 ms.)
// The groups before are left out when their longest datagram is more than
// a quarter longer than the longest of the group that closes (a parity is
// as long as its longest member).
// A short datagram (at most kCopyBytes of data) is also sent again whole,
// kCopyDelayMs later (scheme 3): in a terminal's stream a quarter of the
// datagrams are that short, for a hundredth of the bytes, and a copy takes
// their losses out of the groups, whose parity then rebuilds the long ones
// sooner and more often (60 receivers at 5% loss each: losses mended after
// more than 100 ms from 7-8% to 5-6%, a third fewer requests). The delay
// keeps a burst of interference from taking both.
// A lone datagram with no group before it is no group: its parity would
// only repeat it. Past kGroupMs it waits for the next datagram, and the two
// close at once: a receiver sees the loss of the first only when the
// second comes. Only the last datagram of a burst after a pause waits in
// vain; the heal (150 ms later) is its partner, and when the traffic
// budget holds the heal back, the lone parity goes out after kLoneMs:
// nothing else would show its loss.
//
// When no numbered datagram follows a parity within kSecondParityMs (the
// screen paused, or its next step is late), the parity goes out again as a
// second equation: the XOR of the same members (scheme 1), which any two
// members' coefficients tell apart from the first. Otherwise a receiver
// that lost two of the last group's datagrams, or one and the parity,
// waits for the next group's parity, which in a pause does not come: it
// holds until its hold runs out (160 ms) and asks. Once per parity, and
// only in a pause, so a steady stream sends no more than before.
//
// Loss reports are requests, and anyone on the network can send those: what
// parity may add to the stream is bounded on its own, apart from the
// traffic budget of the repairs. Every protected datagram earns
// kShareNum/kShareDen of its bytes, up to kAllowanceBytes; a group's parity
// goes out only when what was earned covers it (and is then spent), else
// that group has none and its losses are asked for. So forged reports can
// raise the stream by at most that share (plus the allowance once), and a
// run of groups that the timer closes with one or two datagrams (whose
// parity is as long as one of them) cannot double the stream.
//
// Threads: the capture work thread only (the transport's sending thread).
// Times are ms tick counts (wrapping).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/parity_format.h"

namespace qc {

class ParityEncoder {
 public:
  static constexpr int kFirstGroup = 4;
  static constexpr int kMinGroup = 4;
  // A parity spans three groups, so at most 21 datagrams: receivers hold up
  // to 24 behind a loss.
  static constexpr int kMaxGroup = 7;
  static constexpr int kSpan = kParityReach;
  // At the 50-60 datagrams/s of a busy screen a group of 4 fills in about
  // 70 ms; receivers hold what follows a loss until the parity comes (their
  // limit is 160 ms from when the loss showed), so a group
  // still open this long after its first datagram closes early.
  static constexpr uint32_t kGroupMs = 60;
  static constexpr uint32_t kLoneMs = 200;
  // Longer than the gap between a busy screen's steps (the pacer sends a busy
  // quarter at least every 70 ms), so a steady stream sends no second
  // parity; the losses it rebuilds showed with the parity before, so they
  // come back within 100 ms, well inside a receiver's hold.
  static constexpr uint32_t kSecondParityMs = 80;
  // Datagrams with at most kCopyBytes of data are also sent again, whole,
  // kCopyDelayMs later (a burst of interference lasts about 20 ms).
  static constexpr size_t kCopyBytes = 512;
  static constexpr uint32_t kCopyDelayMs = 30;
  static constexpr uint32_t kQuietMs = 10000;
  static constexpr uint32_t kQuietDatagrams = 500;
  // The share of datagrams that needed a repair, measured over windows of
  // at least kWindowMs and kWindowDatagrams.
  static constexpr uint32_t kWindowMs = 1000;
  static constexpr uint32_t kWindowDatagrams = 24;
  static constexpr double kStartAbove = 0.10;
  static constexpr int kStartReporters = 3;
  static constexpr double kShrinkAbove = 0.08;
  static constexpr double kGrowBelow = 0.02;
  // Groups grow only on a window of at least this many datagrams.
  static constexpr uint32_t kGrowDatagrams = 100;
  // Full groups of 4 would cost a quarter; the timer's smaller groups and
  // parity as long as a group's longest datagram bring a terminal's stream
  // of a busy crowd to 30-35% (bench/crowd.sh). A group left without
  // parity costs a request from nearly every receiver that lost one of its
  // datagrams, so the share leaves room above that.
  static constexpr uint64_t kShareNum = 1;
  static constexpr uint64_t kShareDen = 2;
  static constexpr uint64_t kAllowanceBytes = 2 * kMaxDatagram;

  struct Datagram {
    const uint8_t* data = nullptr;
    size_t length = 0;
  };

  // Receivers reported `datagrams` numbers that they could not rebuild;
  // `reporters` receivers asked lately (RepairPlanner).
  void NoteLosses(int datagrams, int reporters, uint32_t nowMs);
  // 0 while no parity is sent, else datagrams per group.
  int GroupSize() const { return group_; }

  // A numbered datagram (whole, header included) went out. Emits through
  // send(Datagram) the parity of the open group when this datagram cannot
  // join it, and the parity of the group this one completes.
  template <class Emit>
  void Add(const uint8_t* datagram, size_t length, uint32_t sequence, uint32_t nowMs,
           Emit&& send) {
    Adapt(nowMs);
    if (groups_[0].count > 0 && !Continues(sequence, length)) Close(send, nowMs);
    SendCopies(nowMs, false, send);
    secondPending_ = false;  // the stream goes on: the next parity has them
    if (Join(datagram, length, sequence, nowMs)) Close(send, nowMs);
    if (group_ > 0 && length >= kCompressedHeaderSize &&
        length - kCompressedHeaderSize <= kCopyBytes && copyCount_ < kPendingCopies) {
      copies_[(copyFirst_ + copyCount_++) % kPendingCopies] =
          PendingCopy{sequence, nowMs + kCopyDelayMs};
    }
  }
  // The copies that are due, the parity of a group open for kGroupMs (a
  // lone datagram that follows no group: kLoneMs) and a parity's second
  // one; with force (before a stream reset) every copy still to send and
  // any open group's parity.
  template <class Emit>
  void Flush(uint32_t nowMs, bool force, Emit&& send) {
    SendCopies(nowMs, force, send);
    if (groups_[0].count > 0 && (force || GroupDueMs(nowMs) == 0)) Close(send, nowMs);
    if (force) secondPending_ = false;
    if (secondPending_ && static_cast<int32_t>(nowMs - secondDueMs_) >= 0) {
      secondPending_ = false;
      Spend(SecondParity(), send);
    }
  }
  // ms until Flush has a group to close, a copy or a second parity to
  // send, -1 when none is pending.
  int DueMs(uint32_t nowMs) const;
  // Forgets the open group without sending its parity, and the group
  // before it (a new screen identifier).
  void Discard();

 private:
  // A group's datagrams: their numbers, and the longest one's data.
  struct Group {
    uint32_t first = 0;
    int count = 0;  // 0: none
    size_t longest = 0;
  };
  bool Continues(uint32_t sequence, size_t length) const;
  // Adds the datagram to the group (opening one); true when the group is
  // to close: full, or a lone datagram's partner came past kGroupMs.
  bool Join(const uint8_t* datagram, size_t length, uint32_t sequence, uint32_t nowMs);
  // Ends the open group; emits its parity when the allowance covers it,
  // and then expects its second one after kSecondParityMs.
  template <class Emit>
  void Close(Emit&& send, uint32_t nowMs) {
    if (!Spend(Finish(), send)) return;
    secondPending_ = true;
    secondDueMs_ = nowMs + kSecondParityMs;
  }
  // Emits d when the allowance covers it.
  template <class Emit>
  bool Spend(const Datagram& d, Emit&& send) {
    if (d.length == 0 || d.length > allowance_) return false;
    allowance_ -= d.length;
    send(d);
    return true;
  }
  Datagram Finish();
  // The parity over h's members (their data at hand in the store, h's
  // lengths and types fields still 0), `length` bytes of data.
  Datagram Encode(ParityHeader h, size_t length);
  // The XOR of the last parity's members (scheme 1). No datagram came
  // since, so the store still holds them.
  Datagram SecondParity();
  int GroupDueMs(uint32_t nowMs) const;
  // Sends the copies that are due (all with force) while the allowance
  // covers them.
  template <class Emit>
  void SendCopies(uint32_t nowMs, bool force, Emit&& send) {
    while (copyCount_ > 0) {
      const PendingCopy c = copies_[copyFirst_];
      if (!force && static_cast<int32_t>(nowMs - c.dueMs) < 0) return;
      copyFirst_ = (copyFirst_ + 1) % kPendingCopies;
      --copyCount_;
      Spend(Copy(c.sequence), send);
    }
  }
  // A copy of datagram `sequence` while the store still has it, else empty.
  Datagram Copy(uint32_t sequence);
  void Adapt(uint32_t nowMs);
  // Whether the open group's parity also covers groups_[k] (k 1, 2): their
  // numbers run on to the open group's, and their longest is at most a
  // quarter longer than its longest.
  bool Spans(int k) const;

  ParityHeader last_;  // the last group's parity, and its data's length
  size_t lastLength_ = 0;
  bool secondPending_ = false;
  uint32_t secondDueMs_ = 0;
  int group_ = 0;
  uint64_t allowance_ = kAllowanceBytes;  // bytes of parity that may go out
  uint64_t earned_ = 0;  // protected bytes times kShareNum, not yet worth a byte
  uint32_t lastLossMs_ = 0;
  uint32_t sinceLoss_ = 0;  // datagrams since the last report
  uint32_t windowStartMs_ = 0;
  uint32_t windowSent_ = 0;
  uint32_t windowLost_ = 0;
  int windowReporters_ = 0;  // the most receivers that asked lately

  // groups_[0] is the open group, groups_[1] and [2] the two closed before.
  Group groups_[kSpan];
  uint32_t openedMs_ = 0;
  size_t openBytes_ = 0;
  size_t openLongest_ = 0;
  uint16_t screenId_ = 0;
  // Copies of the datagrams of the three groups, by number modulo
  // kStoreSlots (allocated with the first group), and the parity datagram
  // built in out_: header, then data.
  static constexpr uint32_t kStoreSlots = kSpan * kMaxGroup;
  uint8_t* StoreData(uint32_t sequence) {
    return store_.get() + static_cast<size_t>(sequence % kStoreSlots) * kMaxDatagram;
  }
  size_t& StoredLength(uint32_t sequence) { return storedLength_[sequence % kStoreSlots]; }
  std::unique_ptr<uint8_t[]> store_;
  size_t storedLength_[kStoreSlots] = {};
  uint8_t out_[kMaxDatagram] = {};
  struct PendingCopy {
    uint32_t sequence = 0;
    uint32_t dueMs = 0;
  };
  static constexpr int kPendingCopies = 16;
  PendingCopy copies_[kPendingCopies];
  int copyFirst_ = 0;
  int copyCount_ = 0;
};

}  // namespace qc
