// SPDX-License-Identifier: GPL-3.0-or-later
// The receive ring between the read thread (single writer) and the update
// thread (single reader): 1,000,000 bytes of records, each a 16-bit
// little-endian length L (1..60000) followed by the L bytes of one datagram
// exactly as received. Records follow one another from offset 0; after a
// record is stored, when the next one might not fit (offset + 2 + 60000 >
// 1,000,000) the writer goes back to offset 0. With 60000-byte datagrams a
// lap therefore holds 16 records.
//
// The writer never overwrites records the reader has not taken: when the
// region the next datagram may need still holds unread records, the ring is
// full and the writer drops the datagram (counted). The sequence check of
// the update thread then sees the gap and asks for a full-screen update.
// A reader that falls behind therefore loses new datagrams, never gets
// stale or torn bytes.
//
// The reader applies the same wrap rule to its own offset, so it needs no
// shared wrap position; the wrap mark is kept for diagnostics.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/protocol.h"

namespace qc {

class PacketRing {
 public:
  static constexpr size_t kSize = 1000000;
  static constexpr size_t kMaxRecord = kMaxDatagram;  // 60000

  PacketRing();
  PacketRing(const PacketRing&) = delete;
  PacketRing& operator=(const PacketRing&) = delete;

  // Both sides back to the start. Only while neither thread uses the ring.
  void Reset();

  // Writer: where the next datagram is to be received (room for 60000
  // bytes), or null when the ring is full.
  uint8_t* WriteSlot();
  // Writer: stores the datagram received into WriteSlot() (1..60000 bytes),
  // applies the wrap rule and publishes it (release).
  void Commit(size_t length);
  // Writer: copies a datagram in when there is room (used after it was
  // received elsewhere); false when full.
  bool Store(const uint8_t* data, size_t length);
  // Writer: one datagram was dropped because the ring was full.
  void CountDropped() { dropped_.fetch_add(1, std::memory_order_relaxed); }

  // Reader: copies the next record into out (room for 60000 bytes) and
  // returns its length; 0 when there is none.
  size_t Take(uint8_t* out);
  bool HasData() const;

  // Diagnostics and tests.
  uint32_t WrittenCount() const { return written_.load(std::memory_order_acquire); }
  uint32_t ReadCount() const { return readCount_; }
  uint32_t WrapMark() const { return wrapMark_.load(std::memory_order_relaxed); }
  uint32_t DroppedCount() const { return dropped_.load(std::memory_order_relaxed); }
  size_t WriteOffset() const { return static_cast<size_t>(writePos_ % kSize); }
  size_t ReadOffset() const { return static_cast<size_t>(readPos_.load() % kSize); }

 private:
  bool HasRoom() const;
  static bool MustWrap(size_t offset) { return offset + 2 + kMaxRecord > kSize; }

  std::unique_ptr<uint8_t[]> bytes_;
  // Positions count bytes over all laps: lap x kSize + offset. The bytes a
  // lap leaves unused at its end count as passed when a side wraps.
  uint64_t writePos_ = 0;              // writer only
  std::atomic<uint64_t> readPos_{0};   // written by the reader, read by the writer
  std::atomic<uint32_t> written_{0};   // records stored (writer publishes)
  uint32_t readCount_ = 0;             // reader only
  std::atomic<uint32_t> wrapMark_{0};
  std::atomic<uint32_t> dropped_{0};
};

}  // namespace qc
