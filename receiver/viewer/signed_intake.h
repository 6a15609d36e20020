// SPDX-License-Identifier: GPL-3.0-or-later
// SignedIntake: a receiver that trusts a sender's public key takes only the
// datagrams that sender's signature lists name (common/
// transmission_signing.h, sender/capture/datagram_signer.h).
//
// - A list is checked cheaply first (its key fingerprint, its transmission,
//   its number, its time), then its signature; a list that passes names the
//   hashes of the datagrams that follow it. Verifications are rationed
//   (kVerificationsPerSecond), so a flood of forged lists costs a receiver
//   little; the second copy of a list is recognised without verifying.
// - A datagram is taken when it matches a named hash not yet used, listed
//   less than kEntryLifetimeMs ago: an altered or forged datagram matches
//   nothing, and a replayed one finds its entry used or gone.
// - The first taken init message fixes the transmission (its nonce): lists
//   of other transmissions are dropped from then on. A new transmission
//   must be signed later than anything this intake accepted before, and
//   within kMaxClockSkewMs of this machine's clock, so that a recording of
//   an earlier transmission of the same key is not taken for a new one.
//
// Threads: the read thread of qvViewer; the counters from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/transmission_signing.h"

namespace qc {

struct SignedIntakeCounters {
  uint32_t lists = 0;     // lists verified
  uint32_t forged = 0;    // lists with another key or a bad signature
  uint32_t replayed = 0;  // lists of another or an older transmission, or too old
  uint32_t unsigned_ = 0; // datagrams no list named (forged, altered, replayed, unsigned)
  uint32_t rationed = 0;  // lists dropped unverified: too many to verify
};

class SignedIntake {
 public:
  static constexpr uint32_t kEntryLifetimeMs = 3000;
  static constexpr size_t kEntries = 8192;
  static constexpr int64_t kMaxClockSkewMs = 5 * 60 * 1000;
  static constexpr int kVerificationsPerSecond = 40;

  enum class Verdict { Take, List, Drop };

  // Loads the key; false when it cannot be used (logged).
  bool Trust(const PublicKey& key);
  // Unsigned transmissions are followed again.
  void Untrust() { required_ = false; }
  bool Required() const { return required_; }
  const PublicKey& Key() const { return verifier_.Key(); }
  // A new cycle: no transmission, no entries (the time of the latest list
  // accepted is kept).
  void Reset();
  // wallMs: this machine's clock (ms since 1970); nowMs: a tick count.
  Verdict Check(const uint8_t* data, size_t length, uint32_t nowMs, int64_t wallMs);
  // The datagram just taken fixed the transmission.
  void FixTransmission() { fixed_ = true, fixedNonce_ = lastNonce_; }
  SignedIntakeCounters Counters() const;

 private:
  struct Entry {
    std::array<uint8_t, kDatagramHashSize> hash;
    uint64_t nonce;
    uint32_t listedMs;
    bool used;
  };
  Verdict CheckList(const uint8_t* data, size_t length, uint32_t nowMs, int64_t wallMs);
  bool Ration(uint32_t nowMs);

  Verifier verifier_;
  std::array<uint8_t, kFingerprintSize> fingerprint_{};
  bool required_ = false;
  std::unique_ptr<Entry[]> entries_;
  size_t head_ = 0, count_ = 0;  // entries_[head_ .. head_ + count_) are live
  bool fixed_ = false;
  uint64_t fixedNonce_ = 0;
  uint64_t lastNonce_ = 0;  // nonce of the entry matched last
  bool haveList_ = false;
  uint64_t listNonce_ = 0;  // the last verified list
  uint32_t listNumber_ = 0;
  std::array<uint8_t, kDatagramHashSize> listHash_{};
  int64_t latestTimeMs_ = 0;  // kept across cycles
  uint32_t rationMs_ = 0;
  int rationLeft_ = kVerificationsPerSecond;
  std::atomic<uint32_t> lists_{0}, forged_{0}, replayed_{0}, unsigned_{0}, rationed_{0};
};

}  // namespace qc
