// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/packet_ring.h"

#include <cstring>

#include "common/byte_order.h"

namespace qc {

PacketRing::PacketRing() : bytes_(new uint8_t[kSize]) {}

void PacketRing::Reset() {
  writePos_ = 0;
  readPos_.store(0, std::memory_order_relaxed);
  written_.store(0, std::memory_order_relaxed);
  readCount_ = 0;
  wrapMark_.store(0, std::memory_order_relaxed);
  dropped_.store(0, std::memory_order_relaxed);
}

bool PacketRing::HasRoom() const {
  // The next record may need [writePos, writePos + 2 + 60000). Unread bytes
  // lie in [readPos, writePos); a lap is kSize bytes, so the region is free
  // as long as it ends within one lap of the reader.
  uint64_t readPos = readPos_.load(std::memory_order_acquire);
  return writePos_ + 2 + kMaxRecord <= readPos + kSize;
}

uint8_t* PacketRing::WriteSlot() {
  if (!HasRoom()) return nullptr;
  return bytes_.get() + writePos_ % kSize + 2;
}

void PacketRing::Commit(size_t length) {
  size_t offset = static_cast<size_t>(writePos_ % kSize);
  WriteU16(bytes_.get() + offset, static_cast<uint16_t>(length));
  size_t next = offset + 2 + length;
  uint32_t count = written_.load(std::memory_order_relaxed) + 1;
  if (MustWrap(next)) {
    wrapMark_.store(count, std::memory_order_relaxed);
    writePos_ += kSize - offset;  // the rest of the lap is skipped
  } else {
    writePos_ += 2 + length;
  }
  written_.store(count, std::memory_order_release);
}

bool PacketRing::Store(const uint8_t* data, size_t length) {
  if (length == 0 || length > kMaxRecord) return false;
  uint8_t* slot = WriteSlot();
  if (slot == nullptr) return false;
  memcpy(slot, data, length);
  Commit(length);
  return true;
}

bool PacketRing::HasData() const {
  return readCount_ != written_.load(std::memory_order_acquire);
}

size_t PacketRing::Take(uint8_t* out) {
  if (!HasData()) return 0;
  uint64_t pos = readPos_.load(std::memory_order_relaxed);
  size_t offset = static_cast<size_t>(pos % kSize);
  size_t length = ReadU16(bytes_.get() + offset);
  // The writer stores only lengths of 1..60000 that fit the lap; anything
  // else would mean a broken ring, never worth reading past.
  if (length == 0 || length > kMaxRecord || offset + 2 + length > kSize) length = 0;
  if (length > 0) memcpy(out, bytes_.get() + offset + 2, length);
  size_t next = offset + 2 + length;
  uint64_t advance = MustWrap(next) ? kSize - offset : 2 + length;
  ++readCount_;
  // Publish after the copy: only now may the writer reuse these bytes.
  readPos_.store(pos + advance, std::memory_order_release);
  return length;
}

}  // namespace qc
