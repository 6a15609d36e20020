// SPDX-License-Identifier: GPL-3.0-or-later
// DatagramSigner: signs everything a sender transmits. The transport hands
// it every datagram it would send (whatever the type: picture, cursor,
// init, keep-alive, disconnection, and any type added later); the signer
// holds them briefly, then sends one signature list (0xFFF4, see
// common/transmission_signing.h) naming their hashes, twice, and the
// datagrams themselves, unchanged and in order.
//
// Cost and delay: one Ed25519 signature per list, and at most one list
// every kMinIntervalMs (10 a second: below 1% of a core to sign here, and
// to verify on each receiver). A datagram after a quiet spell waits only
// kGatherMs, so that the rest of a step's datagrams share its list; under
// a continuous stream datagrams wait up to kMinIntervalMs.
//
// Loss: each list goes out twice, so a lost copy costs nothing; a datagram
// whose lists were both lost is lost to receivers (they ask for a repair,
// which goes out under a later list). A lost datagram never makes another
// unverifiable.
//
// Threads: Queue and Flush from any thread (the capture work thread and
// the user-interface thread of the transport); Start and Stop while
// nothing is queued by others. The signer's own thread sends the lists.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "common/transmission_signing.h"
#include "platform/udp_socket.h"

namespace qc {

class DatagramSigner {
 public:
  static constexpr int kMinIntervalMs = 100;
  static constexpr int kGatherMs = 2;
  // Held at most before a list is sent at once, whatever the interval (a
  // full-screen update of a photograph is about 2.6 MB).
  static constexpr size_t kMaxHeldBytes = 4u << 20;
  static constexpr size_t kMaxHeldDatagrams = 1024;

  DatagramSigner() = default;
  ~DatagramSigner();  // Stop()
  DatagramSigner(const DatagramSigner&) = delete;
  DatagramSigner& operator=(const DatagramSigner&) = delete;

  // The key; false when it cannot be used (logged).
  bool Load(const PrivateKey& key);
  const PublicKey& Key() const { return signer_.Key(); }

  // A new transmission through socket (owned by the caller, open until
  // Stop) to `to`: a fresh nonce, lists and datagrams counted from 0.
  // Starts the thread the first time.
  bool Start(UdpSocket* socket, const SocketAddress& to, uint16_t screenId);
  // Holds one datagram (at most 60000 bytes) for the next list.
  void Queue(const uint8_t* data, size_t length);
  // Signs and sends everything held, now.
  void Flush();
  // Flushes, then ends the thread.
  void Stop();

  // Lists sent so far (tests, statistics).
  uint32_t ListsSent() const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Held {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> lengths;
  };
  void Thread();
  // Sends `batch` under one list; flushMutex_ held.
  void SendBatch(const Held& batch);

  Signer signer_;
  std::array<uint8_t, kFingerprintSize> fingerprint_{};
  UdpSocket* socket_ = nullptr;
  SocketAddress to_;
  uint16_t screenId_ = 0;

  mutable std::mutex mutex_;  // guards held_, the times and the flags
  std::condition_variable wake_;
  Held held_;
  Clock::time_point firstHeld_{};
  Clock::time_point lastList_{};
  bool stopping_ = false;
  uint32_t listsSent_ = 0;

  std::mutex flushMutex_;  // one flush at a time, so lists go out in order
  Held sending_;           // flushMutex_
  std::vector<uint8_t> list_;  // flushMutex_
  uint64_t nonce_ = 0;         // flushMutex_
  uint32_t number_ = 0;        // flushMutex_
  uint32_t nextIndex_ = 0;     // flushMutex_
  std::thread thread_;
};

}  // namespace qc
