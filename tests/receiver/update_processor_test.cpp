// SPDX-License-Identifier: GPL-3.0-or-later
// The update thread's handling of datagrams, driven directly: identifier
// filter, dispatch, sequence check, invalidation, and damaged input.
#include "receiver/viewer/update_processor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <random>
#include <vector>

#include "platform/tick_clock.h"
#include "receiver/viewer/heard_requests.h"
#include "sender/capture/parity_encoder.h"
#include "tests/receiver/receiver_test_util.h"

namespace qc {
namespace {

using test::Compressed;
using test::InitDatagram;

constexpr uint16_t kId = 0x1234;
constexpr uint16_t kOtherId = 0xBEEF;  // -16657 as a signed short
constexpr int kW = 640, kH = 200;

class UpdateProcessorTest : public testing::Test {
 protected:
  void SetUp() override { Start(kW, kH, 32); }

  void Start(int w, int h, int bpp, uint32_t r = 0xFF0000, uint32_t g = 0xFF00, uint32_t b = 0xFF) {
    log_.Mark();
    ASSERT_TRUE(proc_.Begin(&owner_, &surface_));
    proc_.Start(test::Format(kId, w, h, bpp, r, g, b));
  }
  void Feed(const std::vector<uint8_t>& d) { proc_.Process(d.data(), d.size()); }
  // Rows [first, end) of a picture made from seed, as one datagram.
  void Update(uint32_t seq, int first, int end, uint32_t seed = 1,
              PacketType type = PacketType::Update) {
    frame_ = test::MakeFrame(kW, kH, 32, seed);
    Feed(Compressed(type, kId, seq, test::EncodeRows(frame_, kW, 32, first, end)));
  }
  bool RowsEqual(int first, int end) {
    const size_t row = kW * 4;
    return memcmp(proc_.Picture().Pixels() + first * row, frame_.data() + first * row,
                  (end - first) * row) == 0;
  }

  test::LogReader log_;
  test::RecordingOwner owner_;
  test::RecordingSurface surface_;
  UpdateProcessor proc_;
  std::vector<uint8_t> frame_;
};

TEST_F(UpdateProcessorTest, StartPlacesABlackPictureAndUpdatesInvalidateTheirBand) {
  ASSERT_TRUE(proc_.HasFramebuffer());
  const Framebuffer& fb = proc_.Picture();
  ASSERT_EQ(fb.View().bytesPerRow, kW * 4);
  const size_t size = static_cast<size_t>(kW) * kH * 4;
  EXPECT_EQ(std::vector<uint8_t>(fb.Pixels(), fb.Pixels() + size), std::vector<uint8_t>(size, 0));
  EXPECT_EQ(surface_.placed, 1);
  EXPECT_EQ(surface_.updates, 1);
  EXPECT_EQ(owner_.receivingIcons, 1);
  EXPECT_EQ(surface_.TakeRects(), (std::vector<Rect>{{0, 0, kW, kH}}));
  EXPECT_EQ(log_.Count("qvViewer: RGB masks  ff0000 ff00 ff\r\n"), 1);
  // Updates are decoded and their band invalidated.
  Update(0, 100, 131);
  EXPECT_TRUE(RowsEqual(100, 131));
  EXPECT_EQ(surface_.TakeRects(), (std::vector<Rect>{{0, 99, kW, 131}}));  // rows 99 to 130
  EXPECT_EQ(owner_.requests, 0);
}

TEST_F(UpdateProcessorTest, OneGapGivesOneLostLineAndOneRequestAndAnInitRestartsTheNumbers) {
  for (uint32_t seq : {0u, 1u, 3u, 4u}) Update(seq, seq * 10, seq * 10 + 10);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(log_.Count("qvViewer: Lost packet"), 1);
  EXPECT_EQ(log_.Count("qvViewer: Lost packet 2\r\n"), 1);
  EXPECT_TRUE(RowsEqual(40, 50));  // applied despite the gap
  Update(5, 0, 10);                // numbering goes on after the gap
  ViewerStats stats;
  proc_.FillStats(stats);
  EXPECT_EQ(stats.lost, 1u);
  // An init message starts the numbering again, without placing again.
  Feed(InitDatagram(kId, kW, kH, 32));
  Update(0, 0, 50, 2, PacketType::FullUpdate);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(log_.Count("qvViewer: Received init packet\r\n"), 1);
  EXPECT_EQ(surface_.placed, 1);
  // So does the full-screen update of the next stream when its init
  // message was lost: what it lost is asked for by number.
  for (uint32_t seq : {1u, 2u, 3u}) Update(seq, 0, 10);
  Update(1, 0, 50, 3, PacketType::FullUpdate);
  EXPECT_TRUE(RowsEqual(0, 50));
  EXPECT_EQ(owner_.requests, 2);
  EXPECT_EQ(owner_.repairs, 2);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 0, 0)));
  Update(2, 0, 10);
  EXPECT_EQ(owner_.requests, 2);
}

TEST_F(UpdateProcessorTest, GapsAskForTheirNumbersAgainUntilALaterDatagramThenForTheWholeScreen) {
  using Range = std::tuple<uint16_t, uint32_t, uint32_t>;
  for (uint32_t seq : {0u, 1u, 4u}) Update(seq, seq * 10, seq * 10 + 10);
  EXPECT_EQ(owner_.repairs, 1);
  EXPECT_EQ(owner_.lastRepair, Range(kId, 2, 3));
  EXPECT_EQ(log_.Count("qvViewer: Lost packet 2\r\n"), 1);
  // A sender that ignores the extension sends nothing more: asked again
  // with growing pauses, then for a full-screen update, once.
  uint32_t t = TickCount();
  proc_.CheckRepairs(t + UpdateProcessor::kRepairRetryMs / 2);
  EXPECT_EQ(owner_.requests, 1);
  for (int i = 1; i < UpdateProcessor::kRepairTries; ++i) {
    t += UpdateProcessor::kRepairRetryMs << i;
    proc_.CheckRepairs(t);
  }
  EXPECT_EQ(owner_.repairs, UpdateProcessor::kRepairTries);
  EXPECT_EQ(log_.Count("qvViewer: Asking again for packets 2 to 3\r\n"), 3);
  t += UpdateProcessor::kRepairRetryMs << UpdateProcessor::kRepairTries;
  proc_.CheckRepairs(t);
  proc_.CheckRepairs(t + 60000);
  EXPECT_EQ(owner_.requests - owner_.repairs, 1);
  EXPECT_EQ(log_.Count("qvViewer: Packets 2 to 3 not repaired"), 1);
  // A later datagram answers a gap; numbers that go back or a gap too wide
  // for a repair ask for the whole screen.
  Update(6, 0, 10);
  Update(7, 0, 10);
  EXPECT_EQ(log_.Count("qvViewer: Repair of packets 5 to 5 answered after"), 1);
  proc_.CheckRepairs(t + 120000);
  const int repairs = owner_.repairs;
  for (uint32_t seq : {3u, 4u + kMaxRepairSpan + 1}) Update(seq, 0, 10);
  EXPECT_EQ(owner_.repairs, repairs);
  EXPECT_EQ(owner_.requests - owner_.repairs, 3);
}

TEST_F(UpdateProcessorTest, ASilentTransmissionEndsOnceAndOnlyItsOwnDatagramsKeepItAlive) {
  const uint32_t start = TickCount();
  EXPECT_FALSE(proc_.CheckSilence(start + kKeepAliveIntervalMs * 4));
  // Another sender's datagrams do not count as hearing this one.
  Feed(test::KeepAlive(kOtherId));
  EXPECT_TRUE(proc_.CheckSilence(start + kTransmissionSilenceMs + 10));
  EXPECT_TRUE(proc_.CheckSilence(start + kTransmissionSilenceMs + 900));
  EXPECT_EQ(owner_.restarts, 1);
  EXPECT_EQ(log_.Count("treating it as ended"), 1);

  Start(kW, kH, 32);  // the next transmission
  Feed(test::KeepAlive(kId));
  const uint32_t heard = TickCount();
  EXPECT_FALSE(proc_.CheckSilence(heard + kTransmissionSilenceMs - 100));
  EXPECT_EQ(owner_.restarts, 1);
}

TEST_F(UpdateProcessorTest, OtherTransmissionsAndUnknownTypesAreIgnored) {
  const int updatesBefore = surface_.updates;
  frame_ = test::MakeFrame(kW, kH, 32, 9);
  Feed(Compressed(PacketType::Update, kOtherId, 0, test::EncodeRows(frame_, kW, 32, 0, 10)));
  Feed(test::Disconnection(kOtherId));
  EXPECT_EQ(log_.Count("qvViewer: Ignoring packet -16657 4660\r\n"), 2);
  EXPECT_EQ(proc_.Picture().Pixels()[0], 0);
  EXPECT_EQ(owner_.restarts, 0);
  EXPECT_EQ(surface_.updates, updatesBefore);
  log_.Mark();
  Feed({0xFB, 0xFF, 0x34, 0x12, 1, 2, 3, 4});  // never sent
  Feed({0x00, 0x10, 0x34, 0x12, 1, 2, 3, 4});  // no such type
  EXPECT_EQ(log_.Since(), "");
  Update(0, 0, 10);  // the foreign datagram did not count
  EXPECT_EQ(owner_.requests, 0);
}

// A cursor shape takes a number; cursor positions, keep-alives and the
// disconnection do not (the images themselves: remote_cursor_test).
TEST_F(UpdateProcessorTest, CursorDatagramsApplyAndOnlyCompressedOnesAreNumbered) {
  const CursorShapeHeader h{3, 0, 32, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0xFFFF};  // 32 x 32 monochrome
  std::vector<uint8_t> shape(kCursorShapeHeaderSize + 256, 0);
  BuildCursorShapeHeader(h, shape.data());
  Feed(Compressed(PacketType::CursorShape, kId, 0, shape));
  Feed(test::KeepAlive(kId));
  Feed(test::CursorPositionDatagram(kId, 100, 50));
  Update(1, 0, 10);
  {
    std::lock_guard<std::mutex> lock(proc_.Cursor().Lock());
    const RemoteCursorState& s = proc_.Cursor().State();
    EXPECT_TRUE(s.hasImage);
    EXPECT_EQ(std::make_pair(int(s.x), int(s.y)), std::make_pair(100, 50));
  }
  Feed(test::Disconnection(kId));
  Update(2, 10, 20);
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(owner_.restarts, 1);
  EXPECT_EQ(log_.Count("qvViewer: Received disconnection packet\r\n"), 1);
}

// 16-bit pictures (rebuilt byte for byte: x11_pipeline_test) keep their
// masks; without all three the depth's standard layout applies.
TEST_F(UpdateProcessorTest, SixteenBitPicturesKeepTheirMasksOrTakeTheStandardLayout) {
  Start(320, 48, 16, 0xF800, 0x07E0, 0x001F);
  EXPECT_TRUE(proc_.Picture().View().bitFields);
  Start(64, 8, 16, 0xF800, 0, 0x001F);
  EXPECT_EQ(log_.Count("qvViewer: RGB masks not set, assuming BI_RGB\r\n"), 1);
  EXPECT_EQ(proc_.Picture().View().EffectiveRedMask(), 0x7C00u);
}

// Damaged and hostile datagrams: dropped with a line, at most one update
// request each, never the fatal path, never a write outside the picture.
TEST_F(UpdateProcessorTest, ShortDatagramsAndUnusableInitsAreDroppedAndDoNotReset) {
  const struct { uint16_t type; size_t need; } types[] = {
      {0xFFFF, 24}, {0xFFFE, 4}, {0xFFFD, 8}, {0xFFFC, 8}, {0xFFFA, 8}, {0xFFF9, 8}};
  int fed = 0;
  for (const auto& t : types) {
    for (size_t n = t.type == 0xFFFF ? 0 : 4; n < t.need; ++n, ++fed) {
      std::vector<uint8_t> d(n, 0);
      if (n >= 2) WriteU16(d.data(), t.type);
      if (n >= 4) WriteU16(d.data() + 2, kId);
      Feed(d);
    }
  }
  EXPECT_EQ(log_.Count("qvViewer: Dropping short packet"), fed);
  EXPECT_EQ(owner_.fatals + owner_.restarts + owner_.requests, 0);
  Update(0, 0, 10);  // no number was taken
  // Unusable init messages neither (which formats are usable: protocol_test).
  for (int bits : {24, 8}) Feed(InitDatagram(kId, kW, kH, bits));
  Feed(InitDatagram(kId, 4097, 32768, 32));
  EXPECT_EQ(log_.Count("qvViewer: Dropping unusable init packet"), 3);
  EXPECT_EQ(log_.Count("Received init packet"), 0);
  Update(1, 10, 20);  // the numbering went on
  EXPECT_EQ(owner_.requests, 0);
}

TEST_F(UpdateProcessorTest, UndecodableDataIsDroppedWithOneRequest) {
  std::vector<uint8_t> garbage(8);
  BuildCompressedHeader(CompressedHeader{0xFFFC, kId, 0}, garbage.data());
  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) garbage.push_back(static_cast<uint8_t>(rng()));
  frame_ = test::MakeFrame(kW, kH, 32, 3);
  const std::vector<uint8_t> records = test::EncodeRows(frame_, kW, 32, 0, 4);
  const struct { std::vector<uint8_t> datagram; const char* line; } cases[] = {
      {garbage, "qvViewer: zlib inflate error on decoding update (error "},
      // A finished stream, which the sender never makes.
      {Compressed(PacketType::Update, kId, 1, records, true),
       "qvViewer: zlib inflate error on decoding update (error 1)\r\n"},
      // A record for row 500 of a 200-row picture.
      {Compressed(PacketType::Update, kId, 2, {0x80, 0xF4, 0x01, 0x01, 1, 2, 3, 4}),
       "qvViewer: Malformed update payload"},
  };
  int requests = 0;
  for (const auto& c : cases) {
    log_.Mark();
    Feed(c.datagram);
    EXPECT_EQ(log_.Count(c.line), 1) << c.line;
    EXPECT_EQ(owner_.requests, ++requests);
  }
  EXPECT_EQ(proc_.Picture().Pixels()[0], 0);
  Update(3, 10, 20);  // their numbers were the expected ones: no loss
  EXPECT_EQ(owner_.requests, requests);
  EXPECT_TRUE(RowsEqual(10, 20));
  EXPECT_EQ(owner_.fatals, 0);
}

TEST_F(UpdateProcessorTest, BadCursorShapeKeepsTheOldImageAndAsksOnce) {
  std::vector<uint8_t> d(8);
  BuildCompressedHeader(CompressedHeader{0xFFF9, kId, 7}, d.data());  // also a gap
  for (uint8_t b : {0x78, 0x01, 0xFF, 0xFF, 0xFF}) d.push_back(b);  // invalid block type
  Feed(d);
  EXPECT_EQ(log_.Count("qvViewer: Zlib inflate error on new cursor shape"), 1);
  EXPECT_EQ(owner_.requests, 1);  // the gap does not ask again
  EXPECT_EQ(log_.Count("qvViewer: Lost packet 0\r\n"), 1);
  // Inflates, but the payload is shorter than its header.
  Feed(Compressed(PacketType::CursorShape, kId, 8, std::vector<uint8_t>(10, 0)));
  EXPECT_EQ(log_.Count("qvViewer: Malformed cursor shape"), 1);
  EXPECT_EQ(owner_.requests, 2);
  std::lock_guard<std::mutex> lock(proc_.Cursor().Lock());
  EXPECT_FALSE(proc_.Cursor().State().hasImage);
}

TEST_F(UpdateProcessorTest, RandomDatagramsNeverCrashOrEndTheReceiver) {
  std::mt19937 rng(11);
  const std::vector<uint8_t> good =
      test::EncodeRows(test::MakeFrame(kW, kH, 32, 4), kW, 32, 0, 30);
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> d;
    const int kind = rng() % 4;
    if (kind == 0) {
      d.resize(rng() % 200);
      for (auto& b : d) b = static_cast<uint8_t>(rng());
    } else {
      // A valid zlib stream of a damaged payload.
      std::vector<uint8_t> p = kind == 1 ? good : std::vector<uint8_t>(1 + rng() % 3000);
      if (kind == 1) {
        for (int k = 0; k < 5; ++k) p[rng() % p.size()] = static_cast<uint8_t>(rng());
        p.resize(1 + rng() % p.size());
      } else {
        for (auto& b : p) b = static_cast<uint8_t>(rng());
      }
      static const uint16_t types[] = {0xFFFD, 0xFFFC, 0xFFF9};
      d = Compressed(static_cast<PacketType>(types[rng() % 3]), kId, rng() % 4, p);
    }
    if (d.size() >= 4 && rng() % 2) WriteU16(d.data() + 2, kId);
    if (d.size() >= 2 && rng() % 3 == 0) WriteU16(d.data(), static_cast<uint16_t>(0xFFF7 + rng() % 9));
    Feed(d);
  }
  EXPECT_EQ(owner_.fatals, 0);
  // Still works afterwards.
  Feed(InitDatagram(kId, kW, kH, 32));
  for (uint32_t q = 0; q < 4; ++q) Update(q, q * kH / 4, (q + 1) * kH / 4, 21, PacketType::FullUpdate);
  EXPECT_TRUE(RowsEqual(0, kH));
}


// Forward error correction and request back-off, as the update thread sees
// them (the byte-exact rebuild itself: parity_test.cpp).
class ParityProcessorTest : public UpdateProcessorTest {
 protected:
  // Datagram seq: rows [first, first + 20) of the picture of seed seq + 1.
  std::vector<uint8_t> Datagram(uint32_t seq, int first) {
    return Compressed(PacketType::Update, kId, seq,
                      test::EncodeRows(test::MakeFrame(kW, kH, 32, seq + 1), kW, 32, first,
                                       first + 20));
  }
  // The parity of datagrams[from, from + n) as the sender makes it.
  std::vector<uint8_t> Parity(const std::vector<std::vector<uint8_t>>& ds, uint32_t from, int n) {
    ParityEncoder enc;
    const uint32_t now = test::StartParity(enc, 0);
    std::vector<uint8_t> out;
    auto emit = [&](ParityEncoder::Datagram d) { out.assign(d.data, d.data + d.length); };
    for (int i = 0; i < n; ++i) {
      enc.Add(ds[from + i].data(), ds[from + i].size(), from + i, now, emit);
    }
    enc.Flush(now, true, emit);
    return out;
  }
  // The hold on what follows a loss is due within kHoldMs; lets it end.
  void EndHold() {
    const uint32_t now = TickCount();
    EXPECT_LE(proc_.WaitMs(now, 1000), static_cast<int>(UpdateProcessor::kHoldMs));
    proc_.CheckRepairs(now + UpdateProcessor::kHoldMs);
  }
  // The picture as datagrams 0..n-1 make it, in order.
  std::vector<uint8_t> Expected(int n) {
    std::vector<uint8_t> picture(static_cast<size_t>(kW) * kH * 4, 0);
    for (int seq = 0; seq < n; ++seq) {
      const auto frame = test::MakeFrame(kW, kH, 32, seq + 1);
      const size_t row = kW * 4, first = (seq % 3) * 10;
      std::memcpy(picture.data() + first * row, frame.data() + first * row, 20 * row);
    }
    return picture;
  }
  bool PictureIs(const std::vector<uint8_t>& picture) {
    return std::memcmp(proc_.Picture().Pixels(), picture.data(), picture.size()) == 0;
  }
  // Datagrams 0..n-1; seq % 3 picks rows 0, 10 or 20, so later datagrams
  // overwrite parts of earlier ones: order matters.
  std::vector<std::vector<uint8_t>> Stream(int n) {
    std::vector<std::vector<uint8_t>> ds;
    for (int seq = 0; seq < n; ++seq) ds.push_back(Datagram(seq, (seq % 3) * 10));
    return ds;
  }
  ViewerStats Stats() {
    ViewerStats s;
    proc_.FillStats(s);
    return s;
  }
  // What one encoder sends over the whole stream: groups of 4; the parity
  // of group g has g, g-1 and g-2 and goes out after g's last datagram.
  // Indexed by that number.
  std::vector<std::vector<uint8_t>> Parities(const std::vector<std::vector<uint8_t>>& ds) {
    ParityEncoder enc;
    const uint32_t t = test::StartParity(enc, 0);
    std::vector<std::vector<uint8_t>> parity(ds.size());
    for (uint32_t i = 0; i < ds.size(); ++i) {
      enc.Add(ds[i].data(), ds[i].size(), i, t, [&](ParityEncoder::Datagram d) {
        parity[i].assign(d.data, d.data + d.length);
      });
    }
    return parity;
  }
  // Datagrams from..to-1 with the parities after them, but those in lost
  // (a parity: 100 + the number it follows).
  void FeedStream(const std::vector<std::vector<uint8_t>>& ds,
                  const std::vector<std::vector<uint8_t>>& parity, int from, int to,
                  std::initializer_list<int> lost) {
    for (int i = from; i < to; ++i) {
      if (std::find(lost.begin(), lost.end(), i) == lost.end()) Feed(ds[i]);
      if (!parity[i].empty() && std::find(lost.begin(), lost.end(), 100 + i) == lost.end()) {
        Feed(parity[i]);
      }
    }
  }
};

TEST_F(ParityProcessorTest, ALossIsRebuiltFromParityAndAppliedInOrderWithoutAnyRequest) {
  const auto ds = Stream(10);
  for (int i = 0; i < 4; ++i) Feed(ds[i]);
  Feed(Parity(ds, 0, 4));  // parity is on from here
  // 5 is lost: 6 and 7 wait for the parity, then all three are applied.
  for (int i : {4, 6, 7}) Feed(ds[i]);
  EXPECT_TRUE(PictureIs(Expected(5)));
  Feed(Parity(ds, 4, 4));
  EXPECT_TRUE(PictureIs(Expected(8)));
  // The last of a group lost: no gap shows, the parity mends it at once.
  Feed(ds[8]);
  Feed(Parity(ds, 8, 2));
  EXPECT_TRUE(PictureIs(Expected(10)));
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(Stats().rebuilt, 2u);
  EXPECT_EQ(Stats().lost, 0u);
  EXPECT_EQ(log_.Count("qvViewer: Rebuilt packet 5 from parity after"), 1);
  EXPECT_EQ(log_.Count("Lost packet"), 0);
}

TEST_F(ParityProcessorTest, MoreLossesThanTheParityMendsOrNoParityInTimeAskForARepair) {
  // Groups apart (one encoder each): nothing but its own parity has a
  // datagram as a member.
  const auto ds = Stream(16);
  for (int i = 0; i < 4; ++i) Feed(ds[i]);
  Feed(Parity(ds, 0, 4));
  // 5 and 6 lost: the group's parity finds both and is kept; the next
  // group's shows that the parities moved on, and the gap is asked for.
  for (int i : {4, 7}) Feed(ds[i]);
  Feed(Parity(ds, 4, 4));
  EXPECT_EQ(owner_.repairs, 0);
  for (int i : {8, 9, 10, 11}) Feed(ds[i]);
  Feed(Parity(ds, 8, 4));
  EXPECT_EQ(owner_.repairs, 1);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 5, 6)));
  // 13 lost and no parity follows: asked for once the hold ends.
  for (int i : {12, 14}) Feed(ds[i]);
  EXPECT_EQ(owner_.repairs, 1);
  EndHold();
  EXPECT_EQ(owner_.repairs, 2);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 13, 13)));
  EXPECT_EQ(Stats().rebuilt, 0u);
  // What follows goes straight through again.
  Feed(ds[15]);
  frame_ = test::MakeFrame(kW, kH, 32, 16);
  EXPECT_TRUE(RowsEqual(0, 20));  // datagram 15's rows
  EXPECT_EQ(owner_.repairs, 2);
}

TEST_F(ParityProcessorTest, LossesThatOnlyTheirParityShowsAreHeldForAndAskedFor) {
  const auto ds = Stream(9);
  for (int i = 0; i < 4; ++i) Feed(ds[i]);
  Feed(Parity(ds, 0, 4));
  // 6 and 7 lost, the last before the screen stands still: only their
  // group's parity shows them. It cannot give two; once the hold ends they
  // are asked for.
  for (int i : {4, 5}) Feed(ds[i]);
  Feed(Parity(ds, 4, 4));
  EXPECT_EQ(owner_.repairs, 0);
  EndHold();
  EXPECT_EQ(owner_.repairs, 1);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 6, 7)));
  // The repair, numbered on, goes straight through and answers it.
  Feed(ds[8]);
  EXPECT_EQ(log_.Count("qvViewer: Repair of packets 6 to 7 answered after"), 1);
  EXPECT_EQ(owner_.repairs, 1);
}

TEST_F(ParityProcessorTest, ParitiesOfThreeGroupsRebuildUpToThreeLossesOrAskOnceNoneToComeCan) {
  const auto ds = Stream(64);
  const auto parity = Parities(ds);
  auto feed = [&](int from, int to, std::initializer_list<int> lost) {
    FeedStream(ds, parity, from, to, lost);
  };
  // 13 and 14 lost, and the next group's parity: the parity of [12,16)
  // finds both, the one after next has both too, with other coefficients,
  // and the two rebuild them. Nothing is asked, the picture is exact. (The
  // receiver keeps datagrams from the first parity on: the first parities
  // have members it never kept, and rebuild nothing.)
  feed(0, 24, {13, 14, 100 + 19});
  EXPECT_TRUE(PictureIs(Expected(24)));
  EXPECT_EQ(Stats().rebuilt, 2u);
  EXPECT_EQ(owner_.repairs, 0);
  // Three losses of a group, not in a row (24, 26, 27): the three
  // parities that have them, solved together, give each.
  feed(24, 36, {24, 26, 27});
  EXPECT_TRUE(PictureIs(Expected(36)));
  EXPECT_EQ(Stats().rebuilt, 5u);
  EXPECT_EQ(owner_.repairs, 0);
  // Four losses over two groups (37, 39; 41, 42): the three parities that
  // have 37 cannot give it. 37 and 39 are asked for once the last of them
  // came (the third that ends at or after them), not a group later; 41 and
  // 42 wait on, and the next group's parity rebuilds them.
  feed(36, 47, {37, 39, 41, 42});
  EXPECT_EQ(owner_.repairs, 0);
  feed(47, 48, {});
  EXPECT_EQ(owner_.repairs, 2);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 39, 39)));
  EXPECT_EQ(Stats().rebuilt, 5u);
  feed(48, 52, {});
  EXPECT_EQ(Stats().rebuilt, 7u);
  EXPECT_EQ(owner_.repairs, 2);
  // Three in a row would wait for three parities: asked for at once, when
  // their group's parity shows them (no datagram after them came yet).
  feed(52, 55, {53, 54});
  EXPECT_EQ(owner_.repairs, 2);
  feed(55, 56, {55});
  EXPECT_EQ(owner_.repairs, 3);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 53, 55)));
  feed(56, 64, {});
  EXPECT_EQ(owner_.repairs, 3);
  EXPECT_EQ(Stats().rebuilt, 7u);
  EXPECT_TRUE(PictureIs(Expected(64)));
}

TEST_F(ParityProcessorTest, HolesAParityCouldNotGiveAreAskedForWhenOneComesAndTheyAreOldEnough) {
  const auto ds = Stream(24);
  const auto parity = Parities(ds);
  FeedStream(ds, parity, 0, 8, {});
  // 8, 9 and 11 lost (no run of three): their group's parity cannot give
  // them, and came before their loss was kAskTriedAfterMs old. They wait,
  // and without another parity, however old they get (short of the hold).
  const uint32_t shown = TickCount();
  FeedStream(ds, parity, 8, 12, {8, 9, 11});
  proc_.CheckRepairs(shown + UpdateProcessor::kAskTriedAfterMs - 1);
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kAskTriedAfterMs);
  EXPECT_EQ(owner_.repairs, 0);
  // The next group's parity has them too, but three need three: they are
  // asked for now, not a group later when the third would give them.
  FeedStream(ds, parity, 12, 16, {});
  EXPECT_EQ(owner_.repairs, 0);
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kAskTriedAfterMs);
  EXPECT_EQ(owner_.repairs, 2);
  EXPECT_EQ(owner_.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 11, 11)));
  FeedStream(ds, parity, 16, 24, {});
  EXPECT_EQ(owner_.repairs, 2);
  EXPECT_EQ(Stats().rebuilt, 0u);
}

TEST_F(ParityProcessorTest, ParityOfAGroupNeverStartedChangesNothing) {
  // A receiver that joined at the init message hears the parity of a group
  // from before it: no hole is waited for, nothing is rebuilt or asked.
  const auto ds = Stream(8);
  Feed(Parity(ds, 0, 4));
  Feed(Parity(ds, 4, 4));
  for (int i = 0; i < 8; ++i) Feed(ds[i]);
  EXPECT_TRUE(PictureIs(Expected(8)));
  EXPECT_EQ(Stats().rebuilt, 0u);
  EXPECT_EQ(Stats().rejected, 0u);
  EXPECT_EQ(owner_.requests, 0);
}

TEST_F(ParityProcessorTest, ParityOfALaterSchemeIsIgnoredAndLossesAreAskedFor) {
  const auto ds = Stream(6);
  auto later = Parity(ds, 0, 4);
  later[9] = kParitySchemeCopy + 1;
  for (int i = 0; i < 4; ++i) Feed(ds[i]);
  Feed(later);
  Feed(ds[5]);  // 4 lost: no parity of a known scheme came, so it is asked for at once
  EXPECT_EQ(owner_.repairs, 1);
  EXPECT_EQ(Stats().rejected, 0u);
  EXPECT_EQ(log_.Count("Dropping parity"), 0);
}

TEST_F(ParityProcessorTest, ACopyRebuildsItsDatagramAndLeavesTheHolesBeforeItToTheParity) {
  const auto ds = Stream(8);
  for (int i = 0; i < 4; ++i) Feed(ds[i]);
  Feed(Parity(ds, 0, 4));
  // 4 and 6 lost; 6 was short, and its copy comes after 7.
  for (int i : {5, 7}) Feed(ds[i]);
  ParityHeader h{kId, 6, 1, kParitySchemeCopy, static_cast<uint16_t>(ds[6].size()),
                 ReadU16(ds[6].data()), 0};
  std::vector<uint8_t> copy(h.DataOffset());
  BuildParityHeader(h, copy.data());
  copy.insert(copy.end(), ds[6].begin() + kCompressedHeaderSize, ds[6].end());
  Feed(copy);
  // The copy says nothing of 4: it still waits for its group's parity.
  EXPECT_EQ(owner_.repairs, 0);
  EXPECT_TRUE(PictureIs(Expected(4)));
  Feed(Parity(ds, 4, 4));
  EXPECT_TRUE(PictureIs(Expected(8)));
  EXPECT_EQ(Stats().rebuilt, 2u);
  EXPECT_EQ(owner_.repairs, 0);
}

class HearingOwner : public test::RecordingOwner {
 public:
  bool HearsOtherReceivers() const override { return true; }
  bool HeardRepairRequest(uint16_t id, uint32_t first, uint32_t last, uint32_t sinceMs) override {
    return heard.Covers(id, first, last, sinceMs);
  }
  HeardRequests heard;  // what the request port brought
};

TEST_F(UpdateProcessorTest, RequestsWaitABackOffAndAreLeftToAReceiverThatAskedMeanwhile) {
  HearingOwner owner;
  ASSERT_TRUE(proc_.Begin(&owner, &surface_));
  proc_.Start(test::Format(kId, kW, kH, 32));
  for (uint32_t seq : {0u, 1u, 3u}) Update(seq, 0, 10);
  EXPECT_EQ(owner.requests, 0);  // not yet
  uint32_t t = TickCount();
  EXPECT_LE(proc_.WaitMs(t, 250), static_cast<int>(UpdateProcessor::kBackoffMs));
  proc_.CheckRepairs(t + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 1);
  // The next gap: another receiver asked first. Its back-off runs from
  // when the gap was seen (a slow run may be well past t by then).
  owner.heard.Record(kId, 3, 4, TickCount());
  for (uint32_t seq : {5u}) Update(seq, 0, 10);
  t = TickCount();
  proc_.CheckRepairs(t + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 1);
  ViewerStats stats;
  proc_.FillStats(stats);
  EXPECT_EQ(stats.suppressed, 1u);
  // Not repaired after all: asked again (after a back-off), by this one
  // (the request heard before does not answer a retry).
  t += UpdateProcessor::kBackoffMs + UpdateProcessor::kRepairRetryMs;
  proc_.CheckRepairs(t);
  proc_.CheckRepairs(t + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 2);  // 4 (datagram 5 answered the gap at 2)
}

TEST_F(UpdateProcessorTest, RequestsHeardSinceTheLossCouldShowCoverAGapTogether) {
  HearingOwner owner;
  ASSERT_TRUE(proc_.Begin(&owner, &surface_));
  proc_.Start(test::Format(kId, kW, kH, 32));
  // 1 and 3 lost (one request for 1..3): two receivers asked for 0..1 and
  // 2..3 during the back-off, one of them perhaps just before this one saw
  // the loss (stamped after the updates: a slow run takes long over them).
  for (uint32_t seq : {0u, 2u, 4u}) Update(seq, 0, 10);
  uint32_t t = TickCount();
  owner.heard.Record(kId, 0, 1, t - UpdateProcessor::kHoldMs / 2);
  owner.heard.Record(kId, 2, 3, t);
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 0);
  // 6 lost: a request for 6 heard before the loss could have shown (the
  // same numbers of an earlier stream, or a long-answered one) does not
  // count, and one for 5..6 and another screen's do not cover 6..8.
  t = TickCount();
  owner.heard.Record(kId, 6, 6, t - UpdateProcessor::kHoldMs - 100);
  for (uint32_t seq : {5u, 7u}) Update(seq, 0, 10);
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 1);
  owner.heard.Record(kId, 5, 6, TickCount());
  owner.heard.Record(kId + 1, 7, 8, TickCount());
  for (uint32_t seq : {9u, 11u}) Update(seq, 0, 10);  // 8 and 10: 8..10
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 2);
  EXPECT_EQ(owner.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 8, 10)));
  ViewerStats stats;
  proc_.FillStats(stats);
  EXPECT_EQ(stats.suppressed, 1u);
}

TEST_F(UpdateProcessorTest, GapsCloseTogetherMakeOneRequestWhileTheFirstWaitsItsBackOff) {
  HearingOwner owner;
  ASSERT_TRUE(proc_.Begin(&owner, &surface_));
  proc_.Start(test::Format(kId, kW, kH, 32));
  // 1 and 3 lost (two of one group): one request for 1..3.
  for (uint32_t seq : {0u, 2u, 4u}) Update(seq, 0, 10);
  uint32_t t = TickCount();
  proc_.CheckRepairs(t + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 1);
  EXPECT_EQ(owner.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 1, 3)));
  // Further apart than kMergeSpan received numbers, or once the first was
  // sent: requests of their own.
  for (uint32_t seq : {6u, 7u, 8u, 9u, 11u}) Update(seq, 0, 10);
  t = TickCount();
  proc_.CheckRepairs(t + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 3);
  EXPECT_EQ(owner.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 10, 10)));
  Update(13, 0, 10);
  proc_.CheckRepairs(TickCount() + UpdateProcessor::kBackoffMs);
  EXPECT_EQ(owner.repairs, 4);
  EXPECT_EQ(owner.lastRepair, (std::tuple<uint16_t, uint32_t, uint32_t>(kId, 12, 12)));
}

}  // namespace
}  // namespace qc
