// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/packet_ring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "common/byte_order.h"

namespace qc {
namespace {

// Fills a record with its number so that the reader can tell stale bytes.
void Fill(uint8_t* p, size_t length, uint32_t number) {
  for (size_t i = 0; i < length; ++i) p[i] = static_cast<uint8_t>(number * 31 + i * 7);
  if (length >= 4) WriteU32(p, number);
}

bool Matches(const uint8_t* p, size_t length, uint32_t number) {
  if (length >= 4 && ReadU32(p) != number) return false;
  for (size_t i = length >= 4 ? 4 : 0; i < length; ++i) {
    if (p[i] != static_cast<uint8_t>(number * 31 + i * 7)) return false;
  }
  return true;
}

bool Put(PacketRing& ring, size_t length, uint32_t number) {
  uint8_t* slot = ring.WriteSlot();
  if (slot == nullptr) return false;
  Fill(slot, length, number);
  ring.Commit(length);
  return true;
}

TEST(PacketRing, FullSizeRecordsSixteenPerLapThenWrap) {
  PacketRing ring;
  for (uint32_t i = 0; i < 16; ++i) {
    EXPECT_EQ(ring.WriteOffset(), i * 60002u);
    ASSERT_TRUE(Put(ring, 60000, i));
    EXPECT_EQ(ring.WrapMark(), i < 15 ? 0u : 16u);
  }
  // 960032 + 2 + 60000 > 1,000,000: the 17th goes to offset 0.
  EXPECT_EQ(ring.WriteOffset(), 0u);
  // Offset 0 still holds record 0: the ring is full until it is taken.
  EXPECT_EQ(ring.WriteSlot(), nullptr);

  std::vector<uint8_t> out(60000);
  ASSERT_EQ(ring.Take(out.data()), 60000u);
  EXPECT_TRUE(Matches(out.data(), 60000, 0));
  ASSERT_TRUE(Put(ring, 60000, 16));
  for (uint32_t i = 1; i <= 16; ++i) {
    ASSERT_EQ(ring.Take(out.data()), 60000u) << i;
    EXPECT_TRUE(Matches(out.data(), 60000, i)) << i;
    // The reader wraps where the writer did.
    if (i == 14 || i == 15) { EXPECT_EQ(ring.ReadOffset(), i == 14 ? 900030u : 0u); }
  }
  EXPECT_EQ(ring.Take(out.data()), 0u);
  EXPECT_EQ(ring.WrittenCount(), 17u);
  EXPECT_EQ(ring.ReadCount(), 17u);
}

TEST(PacketRing, OverrunDropsNewDatagramsAndNeverHandsOutStaleBytes) {
  PacketRing ring;
  std::vector<uint8_t> datagram(30000);
  uint32_t stored = 0;
  // The reader sleeps: the writer stores what fits, then drops.
  for (uint32_t i = 0; i < 100; ++i) {
    Fill(datagram.data(), datagram.size(), i);
    if (ring.Store(datagram.data(), datagram.size())) {
      ++stored;
    } else {
      ring.CountDropped();
    }
  }
  EXPECT_EQ(stored, 32u);  // (1,000,000 - 60002) / 30002 + 1 records fit
  EXPECT_EQ(ring.DroppedCount(), 100u - stored);
  std::vector<uint8_t> out(60000);
  for (uint32_t i = 0; i < stored; ++i) {
    ASSERT_EQ(ring.Take(out.data()), 30000u);
    EXPECT_TRUE(Matches(out.data(), 30000, i)) << i;
  }
  EXPECT_EQ(ring.Take(out.data()), 0u);
  // After the gap, new datagrams flow again.
  Fill(datagram.data(), datagram.size(), 500);
  ASSERT_TRUE(ring.Store(datagram.data(), datagram.size()));
  ASSERT_EQ(ring.Take(out.data()), 30000u);
  EXPECT_TRUE(Matches(out.data(), 30000, 500));
}

TEST(PacketRing, ConcurrentWriterAndSlowReaderSeeOnlyWholeRecordsInOrder) {
  PacketRing ring;
  constexpr uint32_t kCount = 20000;
  std::thread writer([&] {
    std::vector<uint8_t> scratch(60000);
    std::mt19937 rng(3);
    for (uint32_t i = 0; i < kCount; ++i) {
      size_t length = 4 + rng() % 20000;
      uint8_t* slot = ring.WriteSlot();
      if (slot != nullptr) {
        Fill(slot, length, i);
        ring.Commit(length);
      } else {
        ring.CountDropped();
      }
    }
  });
  std::vector<uint8_t> out(60000);
  uint32_t last = 0, got = 0;
  for (;;) {
    size_t n = ring.Take(out.data());
    if (n == 0) {
      if (got + ring.DroppedCount() == kCount) break;
      std::this_thread::yield();
      continue;
    }
    const uint32_t number = ReadU32(out.data());
    ASSERT_TRUE(Matches(out.data(), n, number));
    ASSERT_TRUE(got == 0 || number > last) << number << " after " << last;
    last = number;
    ++got;
    if (got % 64 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  writer.join();
  EXPECT_EQ(got + ring.DroppedCount(), kCount);
  EXPECT_GT(got, 0u);
}

}  // namespace
}  // namespace qc
