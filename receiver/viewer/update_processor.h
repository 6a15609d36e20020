// SPDX-License-Identifier: GPL-3.0-or-later
// UpdateProcessor: the update thread's work on one datagram, apart from the
// thread and the ring, so that tests can drive it directly. It keeps the
// transmission's identifier, the framebuffer and its decoder, the remote
// cursor, the inflate stream and the expected sequence number.
//
// Datagrams of other transmissions are dropped with "qvViewer: Ignoring
// packet"; datagrams of the transmission are checked before they are read
// (length of their type's header; usable geometry for init messages) and
// dispatched by type. A compressed datagram that does not inflate, or whose
// payload the decoder or the cursor reader rejects, is dropped with a log
// line and answered with one update request; the receiver goes on. The
// sequence check follows every compressed datagram: a gap is answered with a
// repair request for its numbers (CheckRepairs asks again while no later
// datagram follows), anything a repair cannot mend with an update request.
//
// Forward error correction: while the sender sends parity datagrams, a gap
// does not ask at once. The datagrams after it are held (ParityDecoder)
// until a parity rebuilds the lost one, then applied in order; only when
// no parity rebuilds it within kHoldMs, or none to come can (they moved on
// past it, or the last that can have it came), are they applied and the gap
// asked for. A gap that a parity with it could not give is asked for when
// a parity comes after its loss showed kAskTriedAfterMs ago. kParityReach or
// more lost in a row are asked for at once: they need as many parities, a
// group apart each. A parity shows the loss of the numbers it has after the
// last that came, as a later datagram would: the last datagrams before the
// screen stands still are held for and asked for too. A datagram is a member
// of several parities: those that miss members are kept and solved together
// (ParityDecoder::Solve) each time another comes. Requests wait a random back-off of up to
// kBackoffMs and are not sent when other receivers asked for all the
// numbers since the loss could show (ViewerOwner::HeardRepairRequest); a
// gap that shows close behind one still in its back-off joins that request.
//
// Threads: everything runs on the update thread, except the cursor state,
// which paint reads under the cursor lock.
#pragma once

#include <zlib.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/parity_format.h"
#include "common/protocol.h"
#include "receiver/viewer/remote_cursor.h"
#include "receiver/viewer/framebuffer.h"
#include "receiver/viewer/parity_decoder.h"
#include "receiver/viewer/video_decoder.h"

namespace qc {

class StrDecoder;
class ViewerOwner;
class ViewerSurface;
struct ViewerStats;

class UpdateProcessor {
 public:
  UpdateProcessor();
  ~UpdateProcessor();
  UpdateProcessor(const UpdateProcessor&) = delete;
  UpdateProcessor& operator=(const UpdateProcessor&) = delete;

  // A new cycle: binds owner and surface (not owned), creates the decoder
  // and the inflate stream, resets cursor, counters and the expected number.
  // False with "qvViewer: Failed to init zlib stream: %d:%s" when zlib
  // cannot start a stream.
  bool Begin(ViewerOwner* owner, ViewerSurface* surface);
  // End of a cycle: releases framebuffer, decoder, cursor image and stream.
  void End();

  // The transmission starts with this usable init message: framebuffer
  // (cleared, bound to the decoder), whole-picture invalidation,
  // PlaceWindow, UpdateWindow, UpdateTrayIcon(Receiving).
  void Start(const InitMessage& init);

  // One datagram taken from the ring, in arrival order.
  void Process(const uint8_t* data, size_t length);

  // Whether the transmission has been silent (no datagram of its screen
  // identifier) for kTransmissionSilenceMs at nowMs (a tick count). The
  // first time it is, the end is logged and the owner asked to restart the
  // viewer, as a disconnection datagram would.
  bool CheckSilence(uint32_t nowMs);

  // Ends the hold on a held loss that timed out, or that parities could not
  // give (kAskTriedAfterMs, after a parity came); asks again for gaps that
  // no later datagram followed within the retry time (the request or the
  // whole repair was lost), a few times with growing pauses, then for a
  // full-screen update. Update thread, after each datagram and when WaitMs
  // says.
  void CheckRepairs(uint32_t nowMs);

  // A gap stays open until a datagram numbered after the one that revealed
  // it arrives; it is asked for again after kRepairRetryMs, doubling, at
  // most kRepairTries times in all.
  static constexpr uint32_t kRepairRetryMs = 200;
  static constexpr int kRepairTries = 4;
  static constexpr int kOpenGaps = 8;
  // The sender closes a parity group at most 60 ms after its first
  // datagram; a loss then waits this long for its group's parity, or for
  // those of the next two groups, which may have it as a member too.
  static constexpr uint32_t kHoldMs = 160;
  // A hole that a parity with it could not give (two losses of its group,
  // or a loss and a lost parity) waits for the next group's parity, 60-80 ms
  // on at a busy screen's rate, and often one more. A request is quicker:
  // the sender answers it with its next frame, within 70 ms of the lost
  // datagram's send. So such a hole is asked for when a parity comes (that
  // one, or the next) and its loss showed this long ago: a younger one has
  // the next parity within 100 ms of showing, and is asked for only if that
  // cannot give it either. (30 ms asked less, for a p95 of 92-105 ms with
  // bursts against 87-102 in six runs; 10 ms asked more for no better.)
  static constexpr uint32_t kAskTriedAfterMs = 20;
  // How far behind a loss datagrams are held (the parity slots hold the
  // group and these).
  static constexpr uint32_t kHoldSpan = 24;
  // Parity counts as sent while one came within this many numbered
  // datagrams (a parity follows every group of up to 7, a few groups may
  // go without when the sender's parity share is spent). Counted in
  // datagrams, not time: after a pause in the screen's changes the sender
  // still sends parity, and the first losses after it wait for it.
  static constexpr uint32_t kParityActiveDatagrams = 64;
  // Requests wait 0..kBackoffMs: on a LAN a request reaches every receiver
  // within a millisecond or two, so most of a crowd missing the same
  // datagram hears the first asker and stays quiet.
  static constexpr uint32_t kBackoffMs = 30;
  // A gap seen while an earlier one still waits for its back-off, at most
  // this many received numbers after it, joins its request: a receiver of a
  // crowd asks mostly for two losses of one parity group (groups of 4), and
  // one request for both costs the sender the rows of the one or two
  // datagrams between them, far less than a second request from each of
  // sixty receivers.
  static constexpr uint32_t kMergeSpan = 2;

  // ms until CheckRepairs has something to do (a held loss times out, a
  // request's back-off ends), at most limitMs.
  int WaitMs(uint32_t nowMs, int limitMs) const;

  bool HasFramebuffer() const { return framebufferReady_.load(std::memory_order_acquire); }
  Framebuffer& Picture() { return framebuffer_; }
  RemoteCursor& Cursor() { return cursor_; }
  void FillStats(ViewerStats& stats) const;

 private:
  // Inflates a compressed datagram's data (after its header) into out_ with
  // a fresh stream. Returns the zlib result code of the one inflate call (or
  // the init error).
  int Inflate(const uint8_t* data, size_t length, size_t& produced);
  bool FreshStream();
  // data and length: what follows the header.
  void ApplyUpdate(const CompressedHeader& header, const uint8_t* data, size_t length);
  void ApplyCursorShape(const CompressedHeader& header, const uint8_t* data, size_t length);
  void SequenceCheck(uint32_t sequence);
  // The numbers start over (a new stream: an init message, or the first
  // datagrams of the full-screen update that follows a lost one).
  void StartNumbers();
  // A numbered datagram whose header parsed: kept for parity, held behind
  // a loss, or applied.
  void Numbered(uint16_t type, const CompressedHeader& header, const uint8_t* data,
                size_t length);
  void Apply(uint16_t type, const CompressedHeader& header, const uint8_t* data, size_t length);
  void OnParity(const uint8_t* data, size_t length);
  // Solves the kept parities for the holes waited for; what they rebuild
  // is logged and applied with what follows.
  void RebuildHeld(uint32_t nowMs);
  // Applies the held datagrams that follow in order; past a hole only when
  // force (or the hold timed out at nowMs). quiet: holes are not reported (a
  // new stream follows). askTried: holes that Tried are asked for too.
  void Drain(uint32_t nowMs, bool force, bool quiet, bool askTried = false);
  // Whether a parity that has `sequence` as a member came and could not
  // give it, and its loss showed kAskTriedAfterMs or more before nowMs.
  bool Tried(uint32_t sequence, uint32_t nowMs) const;
  // The numbers first..end-1 (not end) showed lost at nowMs: the first
  // datagram numbered after them came (or a parity showed the next one
  // lost). Rebuilds and answers are timed from then.
  void Shown(uint32_t first, uint32_t end, uint32_t nowMs);
  // When the loss of `sequence` showed; nowMs when it was not held.
  uint32_t ShownMs(uint32_t sequence, uint32_t nowMs) const;
  // A parity of the transmission came (parsed): its numbers are noted.
  void Heard(const ParityHeader& h);
  // Whether no parity to come can have `sequence` as a member: the last one
  // heard begins after it, or kParityReach parities that end at or after it
  // came.
  bool PastParity(uint32_t sequence) const;
  bool ParityActive() const { return parityHeard_ && sinceParity_ < kParityActiveDatagrams; }
  uint32_t Backoff();
  // Sends a due repair request unless another receiver asked for it.
  void AskDue(uint32_t nowMs);
  // A gap first..last revealed by datagram `seen`: one repair request.
  void AskForRepair(uint32_t first, uint32_t last, uint32_t seen);
  // One update request for the current datagram at most.
  void RequestUpdate();
  void Reject(const char* what, uint16_t type, size_t length);

  ViewerOwner* owner_ = nullptr;
  ViewerSurface* surface_ = nullptr;
  uint16_t screenId_ = 0;
  uint32_t expected_ = 0;
  uint32_t lastHeardMs_ = 0;  // tick count of the last datagram of screenId_
  bool silenceReported_ = false;
  bool requestedForThis_ = false;
  struct Gap {
    uint32_t first, last, seen, askedMs;
    uint32_t sinceMs;  // when its loss showed
    int tries;
    bool pending;        // waiting for its back-off to end
    uint32_t dueMs;      // when the back-off ends
    uint32_t pendingMs;  // heard requests count from then
  };
  Gap gaps_[kOpenGaps] = {};
  int openGaps_ = 0;

  ParityDecoder parity_;
  bool parityHeard_ = false;
  bool parityCame_ = false;  // since the last CheckRepairs
  uint32_t sinceParity_ = 0;  // numbered datagrams since the last parity
  // The last numbers of the last kParityReach parities heard (in the order
  // heard, a ring), how many were heard of this stream (counted up to
  // 2 kParityReach), and the first number of the last one.
  uint32_t parityEnds_[kParityReach] = {};
  int parities_ = 0;
  uint32_t lastParityFirst_ = 0;
  bool holding_ = false;
  uint32_t holdSinceMs_ = 0;
  uint32_t held_ = 0;  // highest number held (or shown lost by a parity)
  struct Loss {
    uint32_t sequence, ms;
  };
  Loss shown_[ParityDecoder::kSlots] = {};  // by number: when its loss showed
  uint32_t random_ = 1;

  z_stream stream_{};
  bool streamActive_ = false;
  std::unique_ptr<StrDecoder> decoder_;
  Framebuffer framebuffer_;
  std::atomic<bool> framebufferReady_{false};
  RemoteCursor cursor_;
  VideoDecoder video_;  // the video region, painted into framebuffer_
  std::unique_ptr<uint8_t[]> out_;  // inflate output area, 60000 bytes

  std::atomic<uint32_t> processed_{0};
  std::atomic<uint32_t> ignored_{0};
  std::atomic<uint32_t> rejected_{0};
  std::atomic<uint32_t> lost_{0};
  std::atomic<uint32_t> requests_{0};
  std::atomic<uint32_t> applied_{0};
  std::atomic<uint32_t> rebuilt_{0};
  std::atomic<uint32_t> suppressed_{0};
};

}  // namespace qc
