// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/datagram_signer.h"

#include <system_error>

#include "common/log_file.h"

namespace qc {

DatagramSigner::~DatagramSigner() { Stop(); }

bool DatagramSigner::Load(const PrivateKey& key) {
  if (!signer_.Load(key)) {
    Log().Print("qcSender: The signing key cannot be used\n");
    return false;
  }
  FingerprintBytes(key.publicKey, fingerprint_.data());
  return true;
}

bool DatagramSigner::Start(UdpSocket* socket, const SocketAddress& to, uint16_t screenId) {
  Flush();
  std::lock_guard<std::mutex> flush(flushMutex_);
  nonce_ = RandomNonce();
  number_ = 0;
  nextIndex_ = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (list_.empty()) {
    // Everything a transmission needs, once: nothing is allocated per
    // datagram.
    list_.resize(kMaxDatagram);
    held_.bytes.reserve(kMaxHeldBytes);
    held_.lengths.reserve(kMaxHeldDatagrams);
    sending_.bytes.reserve(kMaxHeldBytes);
    sending_.lengths.reserve(kMaxHeldDatagrams);
  }
  socket_ = socket;
  to_ = to;
  screenId_ = screenId;
  stopping_ = false;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread(&DatagramSigner::Thread, this);
    } catch (const std::system_error&) {
      Log().Print("qcSender: Unable to start the signing thread\n");
      return false;
    }
  }
  return true;
}

void DatagramSigner::Queue(const uint8_t* data, size_t length) {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (held_.bytes.size() + length <= kMaxHeldBytes &&
          held_.lengths.size() < kMaxHeldDatagrams) {
        if (held_.lengths.empty()) firstHeld_ = Clock::now();
        held_.bytes.insert(held_.bytes.end(), data, data + length);
        held_.lengths.push_back(static_cast<uint32_t>(length));
        if (held_.lengths.size() == 1) wake_.notify_one();
        return;
      }
    }
    Flush();  // full: the caller waits while the held datagrams go out
  }
}

void DatagramSigner::Flush() {
  std::lock_guard<std::mutex> flush(flushMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_.lengths.empty()) return;
    if (list_.empty()) {  // never started: nowhere to send
      held_.bytes.clear();
      held_.lengths.clear();
      return;
    }
    std::swap(held_, sending_);
    lastList_ = Clock::now();
    ++listsSent_;
  }
  SendBatch(sending_);
  sending_.bytes.clear();
  sending_.lengths.clear();
}

void DatagramSigner::SendBatch(const Held& batch) {
  const size_t count = batch.lengths.size();
  SignatureListHeader h;
  h.screenId = screenId_;
  h.count = static_cast<uint16_t>(count);
  h.fingerprint = fingerprint_;
  h.nonce = nonce_;
  h.number = number_++;
  h.firstIndex = nextIndex_;
  h.timeMs = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
  nextIndex_ += static_cast<uint32_t>(count);
  uint8_t* list = list_.data();
  BuildSignatureListHeader(h, list);
  size_t at = 0;
  for (size_t i = 0; i < count; ++i) {
    HashDatagram(batch.bytes.data() + at, batch.lengths[i],
                 list + kSignatureListHeaderSize + i * kDatagramHashSize);
    at += batch.lengths[i];
  }
  const size_t signedBytes = kSignatureListHeaderSize + count * kDatagramHashSize;
  if (!signer_.Sign(list, signedBytes, list + signedBytes)) {
    Log().Print("qcSender: Signing failed; %d datagrams not sent\n", static_cast<int>(count));
    return;
  }
  UdpSocket* socket;
  SocketAddress to;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    socket = socket_;
    to = to_;
  }
  if (socket == nullptr || !socket->IsOpen()) return;
  const size_t listSize = signedBytes + kSignatureSize;
  // Two copies: one lost list must not cost its datagrams.
  bool ok = socket->SendTo(list, listSize, to);
  ok = socket->SendTo(list, listSize, to) && ok;
  at = 0;
  for (size_t i = 0; i < count; ++i) {
    ok = socket->SendTo(batch.bytes.data() + at, batch.lengths[i], to) && ok;
    at += batch.lengths[i];
  }
  if (!ok && socket->IsOpen()) {
    Log().Print("qcSender: Sending signed packets failed (error %ld)\n",
                static_cast<long>(socket->LastError()));
  }
}

void DatagramSigner::Thread() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (held_.lengths.empty()) {
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point due =
        std::max(firstHeld_ + std::chrono::milliseconds(kGatherMs),
                 lastList_ + std::chrono::milliseconds(kMinIntervalMs));
    if (Clock::now() < due) {
      wake_.wait_until(lock, due);
      continue;
    }
    lock.unlock();
    Flush();
    lock.lock();
  }
}

void DatagramSigner::Stop() {
  Flush();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

uint32_t DatagramSigner::ListsSent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return listsSent_;
}

}  // namespace qc
