// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/signed_intake.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"

namespace qc {

bool SignedIntake::Trust(const PublicKey& key) {
  if (!verifier_.Load(key)) {
    Log().Print("qvViewer: The sender key cannot be used\n");
    return false;
  }
  FingerprintBytes(key, fingerprint_.data());
  if (!entries_) entries_ = std::make_unique<Entry[]>(kEntries);
  required_ = true;
  Reset();
  return true;
}

void SignedIntake::Reset() {
  head_ = count_ = 0;
  fixed_ = false;
  haveList_ = false;
}

SignedIntakeCounters SignedIntake::Counters() const {
  return {lists_.load(), forged_.load(), replayed_.load(), unsigned_.load(), rationed_.load()};
}

bool SignedIntake::Ration(uint32_t nowMs) {
  if (nowMs - rationMs_ >= 1000) {
    rationMs_ = nowMs;
    rationLeft_ = kVerificationsPerSecond;
  }
  if (rationLeft_ == 0) return false;
  --rationLeft_;
  return true;
}

SignedIntake::Verdict SignedIntake::CheckList(const uint8_t* data, size_t length, uint32_t nowMs,
                                              int64_t wallMs) {
  SignatureListHeader h;
  const uint8_t* hashes = nullptr;
  if (!ParseSignatureList(data, length, h, hashes) || h.fingerprint != fingerprint_) {
    forged_.fetch_add(1, std::memory_order_relaxed);
    return Verdict::List;
  }
  std::array<uint8_t, kDatagramHashSize> whole;
  HashDatagram(data, length, whole.data());
  // The second copy of the list just verified.
  if (haveList_ && h.nonce == listNonce_ && h.number == listNumber_) {
    if (whole != listHash_) forged_.fetch_add(1, std::memory_order_relaxed);
    return Verdict::List;
  }
  const bool sameTransmission = haveList_ && h.nonce == listNonce_;
  const bool stale = (fixed_ && h.nonce != fixedNonce_) ||
                     (sameTransmission && h.number <= listNumber_) ||
                     (!sameTransmission && (static_cast<int64_t>(h.timeMs) < latestTimeMs_ ||
                                            static_cast<int64_t>(h.timeMs) > wallMs + kMaxClockSkewMs ||
                                            static_cast<int64_t>(h.timeMs) < wallMs - kMaxClockSkewMs));
  if (stale) {
    replayed_.fetch_add(1, std::memory_order_relaxed);
    return Verdict::List;
  }
  if (!Ration(nowMs)) {
    rationed_.fetch_add(1, std::memory_order_relaxed);
    return Verdict::List;
  }
  const size_t signedBytes = length - kSignatureSize;
  if (!verifier_.Verify(data, signedBytes, data + signedBytes)) {
    forged_.fetch_add(1, std::memory_order_relaxed);
    return Verdict::List;
  }
  lists_.fetch_add(1, std::memory_order_relaxed);
  haveList_ = true;
  listNonce_ = h.nonce;
  listNumber_ = h.number;
  listHash_ = whole;
  if (static_cast<int64_t>(h.timeMs) > latestTimeMs_) latestTimeMs_ = static_cast<int64_t>(h.timeMs);
  for (size_t i = 0; i < h.count; ++i) {
    if (count_ == kEntries) {  // the oldest goes
      head_ = (head_ + 1) % kEntries;
      --count_;
    }
    Entry& e = entries_[(head_ + count_) % kEntries];
    std::memcpy(e.hash.data(), hashes + i * kDatagramHashSize, kDatagramHashSize);
    e.nonce = h.nonce;
    e.listedMs = nowMs;
    e.used = false;
    ++count_;
  }
  return Verdict::List;
}

SignedIntake::Verdict SignedIntake::Check(const uint8_t* data, size_t length, uint32_t nowMs,
                                          int64_t wallMs) {
  if (length >= 2 && ReadU16(data) == kSignatureListType) {
    return CheckList(data, length, nowMs, wallMs);
  }
  // Entries listed too long ago are gone.
  while (count_ > 0 && nowMs - entries_[head_].listedMs >= kEntryLifetimeMs) {
    head_ = (head_ + 1) % kEntries;
    --count_;
  }
  std::array<uint8_t, kDatagramHashSize> hash;
  HashDatagram(data, length, hash.data());
  for (size_t i = 0; i < count_; ++i) {
    Entry& e = entries_[(head_ + i) % kEntries];
    if (e.used || e.hash != hash || (fixed_ && e.nonce != fixedNonce_)) continue;
    e.used = true;
    lastNonce_ = e.nonce;
    return Verdict::Take;
  }
  unsigned_.fetch_add(1, std::memory_order_relaxed);
  return Verdict::Drop;
}

}  // namespace qc
