// SPDX-License-Identifier: GPL-3.0-or-later
// Forward error correction: the sender's parity groups (when they are sent,
// how they close, how their size follows the loss reports) and the
// receiver's rebuild of a lost datagram from them, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "common/galois_field.h"
#include "common/parity_format.h"
#include "receiver/viewer/parity_decoder.h"
#include "sender/capture/parity_encoder.h"
#include "tests/receiver/receiver_test_util.h"

namespace qc {
namespace {

constexpr uint16_t kId = 0x4321;
using Bytes = std::vector<uint8_t>;

// Numbered datagrams of assorted types and lengths (0 to a few kB of data,
// one with the longest data a group may hold).
std::vector<Bytes> Datagrams(uint32_t first, int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Bytes> out;
  for (int i = 0; i < n; ++i) {
    const size_t data = i == 3 ? kMaxParityData : rng() % 5000;
    Bytes d(kCompressedHeaderSize + data);
    const PacketType type = i % 5 == 4 ? PacketType::CursorShape
                            : i % 2    ? PacketType::Update
                                       : PacketType::FullUpdate;
    BuildCompressedHeader({static_cast<uint16_t>(type), kId, first + i}, d.data());
    for (size_t b = kCompressedHeaderSize; b < d.size(); ++b) d[b] = static_cast<uint8_t>(rng());
    out.push_back(std::move(d));
  }
  return out;
}

// Datagram seq with `data` bytes of data.
Bytes Sized(uint32_t seq, size_t data) {
  Bytes d = Datagrams(seq, 1, seq)[0];
  d.resize(kCompressedHeaderSize + data, 0x5A);
  return d;
}

// What the encoder sent: parities, and copies of short datagrams apart.
struct Recorder {
  std::vector<Bytes> parity;
  std::vector<Bytes> copies;
  auto Emit() {
    return [this](ParityEncoder::Datagram d) {
      (d.data[9] == kParitySchemeCopy ? copies : parity).emplace_back(d.data, d.data + d.length);
    };
  }
};

void Feed(ParityEncoder& enc, Recorder& rec, const std::vector<Bytes>& ds, uint32_t first,
          uint32_t nowMs) {
  for (size_t i = 0; i < ds.size(); ++i) {
    enc.Add(ds[i].data(), ds[i].size(), first + static_cast<uint32_t>(i), nowMs, rec.Emit());
  }
}

TEST(ParityEncoderTest, NothingIsSentUntilACrowdReportsLossesAndGroupsCloseWhenFullBrokenOrOld) {
  ParityEncoder enc;
  Recorder rec;
  Feed(enc, rec, Datagrams(0, 40, 1), 0, 1000);
  enc.Flush(5000, true, rec.Emit());
  EXPECT_TRUE(rec.parity.empty());  // a lossless stream costs what it did
  // Losses of one or two receivers are left to the repairs, however many
  // of the datagrams they report (a poor link, a window of heals).
  for (uint32_t t = 5000; t < 8000; t += 100) {
    const auto d = Datagrams(t, 1, t);
    enc.Add(d[0].data(), d[0].size(), t, t, rec.Emit());
    enc.NoteLosses(1, ParityEncoder::kStartReporters - 1, t);
  }
  EXPECT_EQ(enc.GroupSize(), 0);
  EXPECT_TRUE(rec.parity.empty());

  const uint32_t now = test::StartParity(enc, 9000);
  ASSERT_EQ(enc.GroupSize(), ParityEncoder::kFirstGroup);
  static_assert(ParityEncoder::kFirstGroup == 4, "the places below are those of groups of 4");
  // A group is full when it holds its size and three times its longest in
  // bytes: a short datagram rides along (the first group); with two the
  // second stays open for more.
  const std::vector<Bytes> ds = {Sized(100, 4000), Sized(101, 500), Sized(102, 3900),
                                 Sized(103, 4100), Sized(104, 4000), Sized(105, 300),
                                 Sized(106, 200), Sized(107, 3900)};
  Feed(enc, rec, ds, 100, now);
  ASSERT_EQ(rec.parity.size(), 1u);  // the first group; the second is open
  ParityHeader h;
  ASSERT_TRUE(ParseParityHeader(rec.parity[0].data(), rec.parity[0].size(), h));
  EXPECT_EQ(h.screenId, kId);
  EXPECT_EQ(h.first, 100u);
  EXPECT_EQ(h.count, ParityEncoder::kFirstGroup);
  EXPECT_EQ(h.scheme, kParitySchemeCoded);
  EXPECT_EQ(h.members, 0xFu);
  EXPECT_EQ(rec.parity[0].size(), h.DataOffset() + 4100);  // as the longest

  // The open group of four waits kGroupMs, then closes (the copies of its
  // short datagrams go first). Its parity also has the group before, whose
  // longest (4100) is at most a quarter longer than its own (4000).
  EXPECT_EQ(enc.DueMs(now), static_cast<int>(ParityEncoder::kCopyDelayMs));
  enc.Flush(now + ParityEncoder::kCopyDelayMs, false, rec.Emit());
  EXPECT_EQ(rec.copies.size(), 3u);  // 101, 105 and 106
  EXPECT_EQ(enc.DueMs(now + ParityEncoder::kCopyDelayMs),
            static_cast<int>(ParityEncoder::kGroupMs - ParityEncoder::kCopyDelayMs));
  enc.Flush(now + ParityEncoder::kGroupMs - 1, false, rec.Emit());
  EXPECT_EQ(rec.parity.size(), 1u);
  enc.Flush(now + ParityEncoder::kGroupMs, false, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 2u);
  ASSERT_TRUE(ParseParityHeader(rec.parity[1].data(), rec.parity[1].size(), h));
  EXPECT_EQ(h.first, 100u);
  EXPECT_EQ(h.members, 0xFFu);
  EXPECT_EQ(rec.parity[1].size(), h.DataOffset() + 4100);
  // Its second parity would follow a pause (ParityDecoderTest), but the
  // next datagram comes first.
  EXPECT_EQ(enc.DueMs(now + ParityEncoder::kGroupMs),
            static_cast<int>(ParityEncoder::kSecondParityMs));
  // A lone datagram after a gap in the numbers waits for the next (its
  // parity would repeat it); past the group's time the two close at once.
  // Without a partner it closes after kLoneMs (the last datagram of a
  // burst whose heal was held back). A lone datagram right after a group
  // of datagrams as long closes after kGroupMs, its parity with that group
  // too.
  const std::vector<Bytes> pair = {Sized(110, 1000), Sized(111, 900), Sized(112, 1000)};
  const uint32_t lone = now + 100;
  enc.Add(pair[0].data(), pair[0].size(), 110, lone, rec.Emit());
  EXPECT_EQ(enc.DueMs(lone), static_cast<int>(ParityEncoder::kLoneMs));
  enc.Flush(lone + ParityEncoder::kLoneMs - 1, false, rec.Emit());
  EXPECT_EQ(rec.parity.size(), 2u);
  enc.Add(pair[1].data(), pair[1].size(), 111, lone + ParityEncoder::kLoneMs - 1, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 3u);
  ASSERT_TRUE(ParseParityHeader(rec.parity[2].data(), rec.parity[2].size(), h));
  EXPECT_EQ(h.first, 110u);
  EXPECT_EQ(h.count, 2);
  enc.Add(pair[2].data(), pair[2].size(), 112, lone + 1000, rec.Emit());
  EXPECT_EQ(enc.DueMs(lone + 1000), static_cast<int>(ParityEncoder::kGroupMs));
  enc.Flush(lone + 1000 + ParityEncoder::kGroupMs, false, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 4u);
  ASSERT_TRUE(ParseParityHeader(rec.parity[3].data(), rec.parity[3].size(), h));
  EXPECT_EQ(h.first, 110u);
  EXPECT_EQ(h.count, 3);
  EXPECT_EQ(h.members, 0b111u);
  EXPECT_EQ(rec.parity[3].size(), h.DataOffset() + 1000);
  rec.parity.resize(2);

  ParityEncoder fresh;
  const uint32_t later = test::StartParity(fresh, now + 1000);

  // A number that does not follow (a send failed, a new stream) closes the
  // open group first; data too long for a parity datagram joins none.
  const auto more = Datagrams(200, 2, 3);
  Feed(fresh, rec, more, 200, later);
  const auto gap = Datagrams(205, 1, 4);
  fresh.Add(gap[0].data(), gap[0].size(), 205, later, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 3u);
  ASSERT_TRUE(ParseParityHeader(rec.parity[2].data(), rec.parity[2].size(), h));
  EXPECT_EQ(h.first, 200u);
  EXPECT_EQ(h.count, 2);
  Bytes huge(kCompressedHeaderSize + kMaxParityData + 1, 7);
  BuildCompressedHeader({static_cast<uint16_t>(PacketType::Update), kId, 206}, huge.data());
  fresh.Add(huge.data(), huge.size(), 206, later, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 4u);  // 205 alone
  fresh.Flush(later, true, rec.Emit());
  EXPECT_EQ(rec.parity.size(), 4u);  // 206 is in no group
  // A group with two short datagrams takes one more, however short, and no
  // more; the group before (206 was in none) is not its to span.
  const std::vector<Bytes> five = {Sized(300, 4000), Sized(301, 100), Sized(302, 100),
                                   Sized(303, 4000), Sized(304, 100)};
  Feed(fresh, rec, five, 300, later);
  ASSERT_EQ(rec.parity.size(), 5u);
  ASSERT_TRUE(ParseParityHeader(rec.parity[4].data(), rec.parity[4].size(), h));
  EXPECT_EQ(h.first, 300u);
  EXPECT_EQ(h.count, 5);
  EXPECT_EQ(h.members, 0b11111u);
}

TEST(ParityEncoderTest, TheGroupSizeFollowsTheReportsAndParityStopsOnAQuietNetwork) {
  ParityEncoder enc;
  Recorder rec;
  uint32_t now = 0;
  uint32_t seq = 0;
  auto second = [&](int lossesPerDatagram, int datagrams) {
    // One second of datagrams with the given share needing a repair.
    for (int i = 0; i < datagrams; ++i) {
      const auto d = Datagrams(seq, 1, seq);
      enc.Add(d[0].data(), d[0].size(), seq++, now, rec.Emit());
      if (lossesPerDatagram > 0 && i % lossesPerDatagram == 0) {
        enc.NoteLosses(1, ParityEncoder::kStartReporters, now);
      }
      now += 1000 / datagrams;
    }
  };
  now = test::StartParity(enc, now);
  EXPECT_EQ(enc.GroupSize(), ParityEncoder::kFirstGroup);
  // Nothing needed a repair: larger groups, up to the largest.
  for (int i = 0; i < 4; ++i) second(0, 50);
  EXPECT_EQ(enc.GroupSize(), ParityEncoder::kMaxGroup);
  // 20% needed a repair: smaller groups, down to the smallest.
  second(5, 50);
  second(5, 50);
  EXPECT_LT(enc.GroupSize(), ParityEncoder::kMaxGroup);
  for (int i = 0; i < 4; ++i) second(5, 50);
  EXPECT_EQ(enc.GroupSize(), ParityEncoder::kMinGroup);
  // A still screen for a minute: nothing was sent that could be lost, and
  // the changes that follow are protected.
  now += 60000;
  second(0, 50);
  EXPECT_GT(enc.GroupSize(), 0);
  for (uint32_t quiet = 0; quiet <= ParityEncoder::kQuietMs; quiet += 1000) second(0, 50);
  EXPECT_EQ(enc.GroupSize(), 0);
  const size_t sent = rec.parity.size();
  second(0, 50);
  enc.Flush(now + 1000, true, rec.Emit());
  EXPECT_EQ(rec.parity.size(), sent);
}

TEST(ParityEncoderTest, ForgedReportsRaiseTheStreamByAtMostTheParityShare) {
  // Reports without end, and a slow screen: every group closes by the timer
  // with one datagram, whose parity would double the stream.
  ParityEncoder enc;
  Recorder rec;
  uint32_t now = test::StartParity(enc, 0);
  const size_t parityBefore = rec.parity.size();
  uint64_t data = 0;
  for (uint32_t seq = 0; seq < 400; ++seq) {
    const auto d = Datagrams(seq, 1, seq);
    enc.NoteLosses(5, ParityEncoder::kStartReporters, now);
    enc.Add(d[0].data(), d[0].size(), seq, now, rec.Emit());
    data += d[0].size();
    now += ParityEncoder::kGroupMs;
    enc.Flush(now, false, rec.Emit());
  }
  uint64_t parity = 0;
  for (size_t i = parityBefore; i < rec.parity.size(); ++i) parity += rec.parity[i].size();
  EXPECT_GT(rec.parity.size(), parityBefore + 20);  // still protected, in part
  EXPECT_LE(parity, data * ParityEncoder::kShareNum / ParityEncoder::kShareDen +
                        ParityEncoder::kAllowanceBytes);
}

TEST(ParityEncoderTest, ShortDatagramsGoAgainWholeAfterTheDelayWhileParityIsOn) {
  ParityEncoder enc;
  Recorder rec;
  const Bytes before = Sized(0, 10);
  enc.Add(before.data(), before.size(), 0, 0, rec.Emit());
  enc.Flush(1000, true, rec.Emit());
  EXPECT_TRUE(rec.copies.empty());  // a lossless stream costs what it did

  const uint32_t now = test::StartParity(enc, 2000);
  const std::vector<Bytes> ds = {Sized(100, 4000), Sized(101, ParityEncoder::kCopyBytes),
                                 Sized(102, ParityEncoder::kCopyBytes + 1)};
  Feed(enc, rec, ds, 100, now);
  EXPECT_EQ(enc.DueMs(now), static_cast<int>(ParityEncoder::kCopyDelayMs));
  enc.Flush(now + ParityEncoder::kCopyDelayMs - 1, false, rec.Emit());
  EXPECT_TRUE(rec.copies.empty());  // a burst would take both
  enc.Flush(now + ParityEncoder::kCopyDelayMs, false, rec.Emit());
  ASSERT_EQ(rec.copies.size(), 1u);
  const Bytes& copy = rec.copies[0];
  ParityHeader h;
  ASSERT_TRUE(ParseParityHeader(copy.data(), copy.size(), h));
  EXPECT_EQ(h.first, 101u);
  EXPECT_EQ(h.count, 1);
  EXPECT_EQ(h.members, 1u);
  EXPECT_EQ(h.lengths, ds[1].size());
  EXPECT_EQ(h.types, ReadU16(ds[1].data()));
  EXPECT_EQ(Bytes(copy.begin() + static_cast<long>(h.DataOffset()), copy.end()),
            Bytes(ds[1].begin() + kCompressedHeaderSize, ds[1].end()));

  // A receiver that lost it takes it back from the copy, byte for byte.
  ParityDecoder dec;
  for (uint32_t i : {0u, 2u}) dec.Keep(100 + i, ds[i].data(), ds[i].size());
  ASSERT_EQ(dec.Add(copy.data(), copy.size(), kId), ParityDecoder::Result::Kept);
  uint32_t rebuilt[ParityDecoder::kKeptParities];
  ASSERT_EQ(dec.Solve(100, 102, rebuilt, ParityDecoder::kKeptParities), 1);
  EXPECT_EQ(rebuilt[0], 101u);
  size_t n = 0;
  const uint8_t* d = dec.Find(101, n);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(Bytes(d, d + n), ds[1]);
  // A copy is of one number.
  Bytes two = copy;
  two[8] = 2;
  EXPECT_FALSE(ParseParityHeader(two.data(), two.size(), h));

  // Before a new stream the copies still due go at once, ahead of its
  // numbers.
  const Bytes last = Sized(103, 10);
  enc.Add(last.data(), last.size(), 103, now + 100, rec.Emit());
  enc.Flush(now + 100, true, rec.Emit());
  ASSERT_EQ(rec.copies.size(), 2u);
  ASSERT_TRUE(ParseParityHeader(rec.copies[1].data(), rec.copies[1].size(), h));
  EXPECT_EQ(h.first, 103u);
}

// A parity of scheme 1 over the members of ds (ds[0] numbered first) that
// `members` names (bit i: first + i).
Bytes NamedParity(const std::vector<Bytes>& ds, uint32_t first, uint32_t members) {
  uint8_t count = 0;
  while (members >> count) ++count;
  ParityHeader h{kId, first, count, kParitySchemeMembers, 0, 0, members};
  Bytes parity(h.DataOffset() + kMaxParityData, 0);
  size_t longest = 0;
  for (uint8_t i = 0; i < count; ++i) {
    if ((members >> i & 1u) == 0) continue;
    h.lengths ^= static_cast<uint16_t>(ds[i].size());
    h.types ^= ReadU16(ds[i].data());
    for (size_t b = kCompressedHeaderSize; b < ds[i].size(); ++b) {
      parity[h.DataOffset() + b - kCompressedHeaderSize] ^= ds[i][b];
    }
    longest = std::max(longest, ds[i].size() - kCompressedHeaderSize);
  }
  parity.resize(h.DataOffset() + longest);
  BuildParityHeader(h, parity.data());
  return parity;
}

class ParityDecoderTest : public testing::Test {
 protected:
  // One group of n from `first` through the encoder.
  void MakeGroup(uint32_t first, int n, unsigned seed) {
    group_ = Datagrams(first, n, seed);
    ParityEncoder enc;
    const uint32_t now = test::StartParity(enc, 0);
    Recorder rec;
    Feed(enc, rec, group_, first, now);
    enc.Flush(now, true, rec.Emit());
    ASSERT_EQ(rec.parity.size(), 1u);
    parity_ = rec.parity[0];
  }
  ParityDecoder::Result Add(const Bytes& parity, uint16_t id = kId) {
    return dec_.Add(parity.data(), parity.size(), id);
  }
  // The numbers Solve rebuilt.
  std::vector<uint32_t> Solve(uint32_t from, uint32_t to) {
    uint32_t rebuilt[ParityDecoder::kKeptParities];
    const int n = dec_.Solve(from, to, rebuilt, ParityDecoder::kKeptParities);
    return std::vector<uint32_t>(rebuilt, rebuilt + n);
  }
  void ExpectKept(uint32_t seq, const Bytes& datagram) {
    size_t n = 0;
    const uint8_t* d = dec_.Find(seq, n);
    ASSERT_NE(d, nullptr) << seq;
    EXPECT_EQ(Bytes(d, d + n), datagram) << seq;
  }
  std::vector<Bytes> group_;
  Bytes parity_;
  ParityDecoder dec_;
};

using Numbers = std::vector<uint32_t>;

TEST_F(ParityDecoderTest, AnyOneLostDatagramOfAGroupIsRebuiltByteForByte) {
  constexpr int n = ParityEncoder::kFirstGroup;
  for (int lost = 0; lost < n; ++lost) {
    SCOPED_TRACE(lost);
    dec_.Reset();
    MakeGroup(1000, n, 10 + lost);
    for (int i = 0; i < n; ++i) {
      if (i != lost) dec_.Keep(1000 + i, group_[i].data(), group_[i].size());
    }
    ASSERT_EQ(Add(parity_), ParityDecoder::Result::Kept);
    ASSERT_EQ(Solve(1000, 1000 + n - 1), Numbers{1000u + lost});
    ExpectKept(1000 + lost, group_[lost]);
    EXPECT_EQ(Add(parity_), ParityDecoder::Result::Complete);
  }
}

TEST_F(ParityDecoderTest, TwoLossesAGroupNeverStartedOrAHoleNotWaitedForAreLeftAlone) {
  MakeGroup(50, ParityEncoder::kFirstGroup, 3);
  // A late joiner: none of the group.
  EXPECT_EQ(Add(parity_), ParityDecoder::Result::Kept);
  EXPECT_EQ(Solve(0, 100), Numbers{});
  for (int i = 2; i < ParityEncoder::kFirstGroup; ++i) {
    dec_.Keep(50 + i, group_[i].data(), group_[i].size());
  }
  EXPECT_EQ(Solve(50, 57), Numbers{});  // 50 and 51
  dec_.Keep(50, group_[0].data(), group_[0].size());
  // 51 is missing, but the receiver waits for another number.
  EXPECT_EQ(Solve(52, 60), Numbers{});
  size_t n = 0;
  EXPECT_EQ(dec_.Find(51, n), nullptr);
  // Another transmission's parity, or parity that contradicts what arrived.
  EXPECT_EQ(Add(parity_, kId + 1), ParityDecoder::Result::Malformed);
  Bytes bad = parity_;
  ParityHeader h;
  ASSERT_TRUE(ParseParityHeader(parity_.data(), parity_.size(), h));
  // The types: 51's would be its own XOR 0x0F, no type of a numbered datagram.
  WriteU16(bad.data() + 12, ReadU16(bad.data() + 12) ^ gf::Mul16(h.Coefficient(51), 0x0F));
  EXPECT_EQ(Add(bad), ParityDecoder::Result::Malformed);
  Bytes cut(parity_.begin(), parity_.begin() + kParityHeaderSize + 10);
  EXPECT_EQ(Add(cut), ParityDecoder::Result::Malformed);
  // Named members: the first and the last number must be members, and no
  // number past the count.
  for (uint32_t members : {0b1110u, 0b0111u, 0b11111u}) {
    Bytes named = parity_;
    WriteU32(named.data() + kParityHeaderSize, members);
    EXPECT_EQ(Add(named), ParityDecoder::Result::Malformed);
  }
  EXPECT_EQ(Solve(50, 57), Numbers{51});
  ExpectKept(51, group_[1]);
}

TEST_F(ParityDecoderTest, TwoLossesOfAGroupComeBackWithTheNextParityOrTheSecondInAPauseAndThreeWithThree) {
  // Three groups of 4 through the encoder: each parity has its group and
  // the groups before (of like lengths), each member with its own
  // coefficient.
  const uint32_t first = 2000;
  std::vector<Bytes> ds;
  for (uint32_t i = 0; i < 12; ++i) ds.push_back(Sized(first + i, 3000 + (i * 337) % 1000));
  ParityEncoder enc;
  const uint32_t now = test::StartParity(enc, 0);
  Recorder rec;
  Feed(enc, rec, ds, first, now);
  ASSERT_EQ(rec.parity.size(), 3u);
  auto lose = [&](std::initializer_list<int> lost, int parities) {
    dec_.Reset();
    for (int i = 0; i < 12; ++i) {
      if (std::find(lost.begin(), lost.end(), i) == lost.end()) {
        dec_.Keep(first + i, ds[i].data(), ds[i].size());
      }
    }
    for (int p = 0; p < parities; ++p) ASSERT_EQ(Add(rec.parity[p]), ParityDecoder::Result::Kept);
    Numbers expected;
    for (int i : lost) expected.push_back(first + i);
    ASSERT_EQ(Solve(first, first + 11), expected);
    for (int i : lost) ExpectKept(first + i, ds[i]);
  };
  for (int a = 0; a < 4; ++a) {
    for (int b = a + 1; b < 4; ++b) {
      SCOPED_TRACE(testing::Message() << a << " " << b);
      lose({a, b}, 2);
    }
  }
  for (int skip = 0; skip < 4; ++skip) {
    SCOPED_TRACE(skip);
    std::vector<int> three;
    for (int i = 0; i < 4; ++i) if (i != skip) three.push_back(i);
    lose({three[0], three[1], three[2]}, 3);
  }
  // Two of a group and its own parity only: nothing yet.
  dec_.Reset();
  for (int i = 2; i < 12; ++i) dec_.Keep(first + i, ds[i].data(), ds[i].size());
  ASSERT_EQ(Add(rec.parity[0]), ParityDecoder::Result::Kept);
  EXPECT_EQ(Solve(first, first + 11), Numbers{});

  // No next group's parity comes in a pause: the last parity goes again,
  // once, as the XOR of its members, and the two give any two losses of
  // the last group. (The parities before had no second: a datagram came.)
  EXPECT_EQ(enc.DueMs(now), static_cast<int>(ParityEncoder::kSecondParityMs));
  enc.Flush(now + ParityEncoder::kSecondParityMs - 1, false, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 3u);
  enc.Flush(now + ParityEncoder::kSecondParityMs, false, rec.Emit());
  ASSERT_EQ(rec.parity.size(), 4u);
  EXPECT_EQ(enc.DueMs(now + 1000), -1);
  ParityHeader last, second;
  ASSERT_TRUE(ParseParityHeader(rec.parity[2].data(), rec.parity[2].size(), last));
  ASSERT_TRUE(ParseParityHeader(rec.parity[3].data(), rec.parity[3].size(), second));
  EXPECT_EQ(second.scheme, kParitySchemeMembers);
  EXPECT_EQ(second.first, last.first);
  EXPECT_EQ(second.count, last.count);
  EXPECT_EQ(second.members, last.members);
  EXPECT_EQ(rec.parity[3].size(), rec.parity[2].size());
  for (int a = 8; a < 12; ++a) {
    for (int b = a + 1; b < 12; ++b) {
      SCOPED_TRACE(testing::Message() << a << " " << b);
      dec_.Reset();
      for (int i = 0; i < 12; ++i) {
        if (i != a && i != b) dec_.Keep(first + i, ds[i].data(), ds[i].size());
      }
      ASSERT_EQ(Add(rec.parity[2]), ParityDecoder::Result::Kept);
      ASSERT_EQ(Add(rec.parity[3]), ParityDecoder::Result::Kept);
      ASSERT_EQ(Solve(first, first + 11), (Numbers{first + a, first + b}));
      ExpectKept(first + a, ds[a]);
      ExpectKept(first + b, ds[b]);
    }
  }
}

TEST_F(ParityDecoderTest, OnlyNamedMembersCountAndKeptParitiesAreSolvedTogether) {
  // 60..63 with named members: the loss of a non-member is none of a
  // parity's business.
  const auto ds = Datagrams(60, 4, 9);
  for (int i : {0, 2, 3}) dec_.Keep(60 + i, ds[i].data(), ds[i].size());
  EXPECT_EQ(Add(NamedParity(ds, 60, 0b1101u)), ParityDecoder::Result::Complete);
  // 60, 61 and 62 lost. {60, 61, 62} and {60, 61} each miss more than one,
  // but together they give 62; {61, 63} then gives 61, and the first
  // two 60.
  dec_.Reset();
  dec_.Keep(63, ds[3].data(), ds[3].size());
  EXPECT_EQ(Add(NamedParity(ds, 60, 0b0111u)), ParityDecoder::Result::Kept);
  EXPECT_EQ(Solve(60, 63), Numbers{});
  EXPECT_EQ(Add(NamedParity(ds, 60, 0b0011u)), ParityDecoder::Result::Kept);
  EXPECT_EQ(Solve(60, 63), Numbers{62});
  ExpectKept(62, ds[2]);
  const auto later = std::vector<Bytes>(ds.begin() + 1, ds.end());
  EXPECT_EQ(Add(NamedParity(later, 61, 0b101u)), ParityDecoder::Result::Kept);
  EXPECT_EQ(Solve(60, 63), (Numbers{60, 61}));
  ExpectKept(60, ds[0]);
  ExpectKept(61, ds[1]);
}

TEST_F(ParityDecoderTest, ForgedParitiesRebuildOnlyDatagramsThatFitTheirSlots) {
  // Parities from anyone on the network: random members, lengths, types
  // and data over a run with holes. Whatever they solve to stays within
  // its slot and is a numbered datagram of the transmission (the
  // sanitizers check the rest).
  std::mt19937 rng(7);
  const auto ds = Datagrams(200, 24, 11);
  for (int i = 0; i < 24; ++i) {
    if (rng() % 3 != 0) dec_.Keep(200 + i, ds[i].data(), ds[i].size());
  }
  int rebuilt = 0;
  for (int round = 0; round < 200; ++round) {
    const uint8_t count = static_cast<uint8_t>(1 + rng() % 20);
    const uint32_t first = 200 + rng() % 4;
    const uint32_t members = (rng() | 1u | 1u << (count - 1)) & ((1u << count) - 1u);
    Bytes parity;
    if (round % 2 == 0) {
      // The lengths and types of real members, data that is not theirs.
      parity = NamedParity(std::vector<Bytes>(ds.begin() + (first - 200), ds.end()), first,
                           members);
      for (size_t b = kParityHeaderSize + kMembersSize; b < parity.size(); ++b) {
        parity[b] = static_cast<uint8_t>(rng());
      }
    } else {
      // Of both named schemes: XOR, and coefficients that the solver divides by.
      const uint8_t scheme = round % 4 == 1 ? kParitySchemeCoded : kParitySchemeMembers;
      ParityHeader h{kId, first, count, scheme,
                     static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng()), members};
      parity.resize(h.DataOffset() + rng() % (kMaxParityData + 1));
      for (auto& b : parity) b = static_cast<uint8_t>(rng());
      BuildParityHeader(h, parity.data());
    }
    Add(parity);
    for (uint32_t s : Solve(200, 223)) {
      ++rebuilt;
      size_t n = 0;
      const uint8_t* d = dec_.Find(s, n);
      ASSERT_NE(d, nullptr);
      CompressedHeader header;
      ASSERT_TRUE(ParseCompressedHeader(d, n, header));
      EXPECT_EQ(header.sequence, s);
      EXPECT_EQ(header.screenId, kId);
      EXPECT_LE(n, kMaxDatagram);
    }
  }
  EXPECT_GT(rebuilt, 0);  // they do fill holes: signatures are checked before this layer
}

}  // namespace
}  // namespace qc
