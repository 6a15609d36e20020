// SPDX-License-Identifier: GPL-3.0-or-later
// BatchDeflater: the deflate side of the sender's datagrams. Every payload
// becomes one self-contained zlib segment (one deflate call with a full
// flush on a stream reset to its initial state, which makes the same bytes
// as a new stream without allocating), with the parameters the wire
// prescribes. Each stream is set up in one place (Stream) and kept as long
// as its level does not change.
//
// Two ways in. Deflate works at once, on the caller's stream. A batch (a
// full-screen update) hands payloads that surely fit one datagram to a ring
// of kSlots slots: helper threads, one stream each, deflate them while the
// caller goes on; Work deflates the oldest queued one on the caller's
// stream or waits for a helper to finish it, and Finished/Release hand the
// results back in the order they were queued.
//
// Threads: one thread (the capture work thread) calls everything; the
// helpers touch only slots handed to them under the ring's lock. The
// destructor stops the helpers.
#pragma once

#include <zlib.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/protocol.h"

namespace qc {

class BatchDeflater {
 public:
  // Slots of the batch ring (each a payload and its datagram).
  static constexpr int kSlots = 8;

  // One payload of a batch and, once deflated, its datagram: the deflated
  // bytes start kCompressedHeaderSize bytes into `packet`, room the caller
  // fills with the datagram's header.
  struct Slot {
    PacketType type = PacketType::FullUpdate;
    int level = 0;
    int rc = Z_OK;  // the zlib code of the deflate
    size_t length = 0;
    size_t produced = 0;
    uint8_t payload[kMaxPayload];
    uint8_t packet[kCompressedHeaderSize + kMaxPayload];
  };

  BatchDeflater() = default;
  ~BatchDeflater() { StopHelpers(); }
  BatchDeflater(const BatchDeflater&) = delete;
  BatchDeflater& operator=(const BatchDeflater&) = delete;

  // Deflates payload (its length taken as 16 bits) at `level` into out, a
  // kMaxPayload-byte area. Z_OK, or the code of the step that failed
  // (Message() says more); produced is kMaxPayload when the area filled up
  // (the flush may be incomplete).
  int Deflate(const uint8_t* payload, size_t length, int level, uint8_t* out, size_t& produced) {
    return own_.Deflate(payload, length, level, out, produced);
  }
  // zlib's message of the caller's stream, or "".
  const char* Message() const { return own_.Message(); }

  // Starts a batch: an empty ring, the helpers started on first use (one
  // per further core; none if threads cannot be made: Work then deflates
  // every slot).
  void Begin();
  bool Full() const { return pending_ == kSlots; }
  int Pending() const { return pending_; }
  // Copies the payload into the next slot (the ring must not be Full).
  void Queue(const uint8_t* payload, size_t length, PacketType type, int level);
  // Deflates the oldest queued slot here, or waits until a helper finished
  // the oldest one.
  void Work();
  // The oldest slot once it is deflated (null otherwise), and its release.
  const Slot* Finished();
  void Release();

 private:
  // A deflate stream with the wire's parameters at one level.
  struct Stream {
    ~Stream() {
      if (ready) deflateEnd(&z);
    }
    int Deflate(const uint8_t* payload, size_t length, int level, uint8_t* out,
                size_t& produced);
    const char* Message() const { return z.msg != nullptr ? z.msg : ""; }
    z_stream z{};
    int level = 0;
    bool ready = false;
  };
  enum class State { Free, Queued, Taken, Done };

  void HelperThread();
  void StopHelpers();

  Stream own_;  // the caller's
  std::unique_ptr<Slot[]> slots_;
  State states_[kSlots] = {};
  int head_ = 0;
  int pending_ = 0;
  std::vector<std::thread> helpers_;
  std::mutex mutex_;                  // guards states_, head_, pending_, stop_
  std::condition_variable queued_;    // a slot to deflate, or the end
  std::condition_variable finished_;  // a slot was deflated
  bool stop_ = false;
};

}  // namespace qc
