// SPDX-License-Identifier: GPL-3.0-or-later
// TrafficBudget: the bytes the sender may spend on traffic that nobody's
// screen change caused: repairs, heals, rolling refresh slices and
// full-screen updates asked for by receivers (and, through Charge, any
// other extra datagrams a transport adds). Anyone on the network can send
// requests, so what requests can make the sender send must be bounded.
//
// The budget is a byte balance. It earns kBaseBytesPerSecond of time plus
// kStreamShareNum/kStreamShareDen of every fresh byte sent (so that a
// crowd of lossy receivers of a busy screen is still served), up to
// kBurstBytes. Extra traffic may go out while the balance is positive and
// is charged after it went out: one send may take the balance below zero
// (a full-screen update of a photograph), and then nothing extra goes out
// until the debt is earned back. However many requests arrive, the extra
// bytes over any stretch of time stay below the burst plus what was
// earned.
//
// A pure class on one thread (the capture work thread); the caller passes
// the time (ms tick count, wrapping) and the transport's count of bytes
// other than parity (CaptureTransport::StreamBytesSent).
#pragma once

#include <cstdint>

namespace qc {

class TrafficBudget {
 public:
  // 20 kB/s: a 1080p text screen's full-screen update (about 66 kB at
  // level 6, 90 kB at level 1) every 4.5 s, or 10 repairs of a 2 kB
  // datagram each second. Extra bytes cost the sender more CPU than fresh
  // ones (whole rows are encoded and deflated again, a full-screen update's
  // every row), even at level 1: spent in full on a terminal printing 50
  // lines a second (about 250 kB/s), this budget costs about 4% of a core
  // here (bench/attack.sh).
  static constexpr int64_t kBaseBytesPerSecond = 20000;
  // An eighth of the fresh stream: at 5% loss receivers ask for about 12%
  // of it again (repairs, heals, slices); the burst covers the peaks.
  static constexpr int64_t kStreamShareNum = 1;
  static constexpr int64_t kStreamShareDen = 8;
  // What may be spent at once after a quiet while: a joiner's full-screen
  // update and the repairs around it go out without waiting.
  static constexpr int64_t kBurstBytes = 200000;

  // A new transmission: a full balance; the counter starts at totalBytes.
  void Reset(uint32_t nowMs, uint32_t totalBytes);
  // Earns what the time since the last call and the fresh bytes sent since
  // then (the counter's growth less what was charged) are worth.
  void Observe(uint32_t nowMs, uint32_t totalBytes);
  // Extra bytes that went out.
  void Charge(uint32_t bytes);
  bool Allows() const { return balance_ > 0; }
  // Ms until the balance is positive again from time alone (0 when it is).
  int MsUntilAllowed() const;
  int64_t Balance() const { return balance_; }
  // Extra bytes charged since construction.
  uint64_t Charged() const { return charged_; }

 private:
  int64_t balance_ = kBurstBytes;
  int64_t remainder_ = 0;  // byte-ms and stream bytes not yet worth a byte
  uint32_t lastMs_ = 0;
  uint32_t lastTotal_ = 0;
  uint32_t chargedSince_ = 0;  // charged since the last Observe
  uint64_t charged_ = 0;
};

}  // namespace qc
