// The update thread's handling of datagrams, driven directly: identifier
// filter, dispatch, sequence check, invalidation, and damaged input.
#include "receiver/viewer/packet_dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

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
  void SetUp() override {
    log_.Mark();
    ASSERT_TRUE(proc_.Begin(&owner_, &surface_));
    Start(InitDatagram(kId, kW, kH, 32));
  }

  void Start(const std::vector<uint8_t>& init) {
    proc_.Start(init.data());
  }

  void Feed(const std::vector<uint8_t>& d) { proc_.Process(d.data(), d.size()); }

  void Update(uint32_t seq, int first, int end, uint32_t seed = 1,
              PacketType type = PacketType::Update) {
    frame_ = test::MakeFrame(kW, kH, 32, seed);
    Feed(Compressed(type, kId, seq, test::EncodeRows(frame_, kW, 32, first, end)));
  }

  bool RowsEqual(int first, int end) {
    const uint8_t* fb = proc_.Picture().Pixels();
    size_t R = kW * 4;
    return memcmp(fb + first * R, frame_.data() + first * R, (end - first) * R) == 0;
  }

  test::LogReader log_;
  test::RecordingOwner owner_;
  test::RecordingSurface surface_;
  UpdateProcessor proc_;
  std::vector<uint8_t> frame_;
};

TEST_F(UpdateProcessorTest, StartCreatesABlackFramebufferAndPlacesTheWindow) {
  ASSERT_TRUE(proc_.HasFramebuffer());
  const Framebuffer& fb = proc_.Picture();
  EXPECT_EQ(fb.Width(), kW);
  EXPECT_EQ(fb.Height(), kH);
  EXPECT_EQ(fb.SizeBytes(), static_cast<size_t>(kW) * kH * 4);
  for (size_t i = 0; i < fb.SizeBytes(); ++i) ASSERT_EQ(fb.Pixels()[i], 0);
  EXPECT_EQ(surface_.placed, 1);
  EXPECT_EQ(surface_.updates, 1);
  EXPECT_EQ(owner_.receivingIcons, 1);
  auto rects = surface_.TakeRects();
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (Rect{0, 0, kW, kH}));
  EXPECT_EQ(log_.Count("qvViewer: RGB masks  ff0000 ff00 ff\r\n"), 1);
}

TEST_F(UpdateProcessorTest, UpdatesAreDecodedAndTheirBandInvalidated) {
  surface_.TakeRects();
  Update(0, 100, 131);
  EXPECT_TRUE(RowsEqual(100, 131));
  auto rects = surface_.TakeRects();
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0], (Rect{0, 99, kW, 131}));  // rows 99 to 130
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(proc_.ExpectedSequence(), 1u);
}

TEST_F(UpdateProcessorTest, OneGapGivesOneLostLineAndOneRequest) {
  Update(0, 0, 10);
  Update(1, 10, 20);
  Update(3, 30, 40);
  Update(4, 40, 50);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(log_.Count("qvViewer: Lost packet"), 1);
  EXPECT_EQ(log_.Count("qvViewer: Lost packet 2\r\n"), 1);
  EXPECT_EQ(proc_.ExpectedSequence(), 5u);
  EXPECT_TRUE(RowsEqual(40, 50));  // applied despite the gap
}

TEST_F(UpdateProcessorTest, InitMessageResetsTheExpectedNumber) {
  for (uint32_t s = 0; s < 5; ++s) Update(s, s * 10, s * 10 + 10);
  Feed(InitDatagram(kId, kW, kH, 32));
  Update(0, 0, 50, 2, PacketType::FullUpdate);
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(log_.Count("qvViewer: Received init packet\r\n"), 1);
  EXPECT_EQ(log_.Count("Lost packet"), 0);
  EXPECT_EQ(surface_.placed, 1);  // not placed again
}

TEST_F(UpdateProcessorTest, UncompressedTypesAreNeverSequenceChecked) {
  Update(0, 0, 10);
  Feed(test::KeepAlive(kId));
  Feed(test::CursorPositionDatagram(kId, 5, 5));
  Feed(test::Disconnection(kId));
  Update(1, 10, 20);
  EXPECT_EQ(owner_.requests, 0);
  EXPECT_EQ(owner_.restarts, 1);
  EXPECT_EQ(log_.Count("qvViewer: Received disconnection packet\r\n"), 1);
  EXPECT_EQ(proc_.ExpectedSequence(), 2u);
}

TEST_F(UpdateProcessorTest, ForeignIdentifierIsIgnoredWithItsLine) {
  int updatesBefore = surface_.updates;
  frame_ = test::MakeFrame(kW, kH, 32, 9);
  Feed(Compressed(PacketType::Update, kOtherId, 0, test::EncodeRows(frame_, kW, 32, 0, 10)));
  Feed(test::Disconnection(kOtherId));
  EXPECT_EQ(log_.Count("qvViewer: Ignoring packet -16657 4660\r\n"), 2);
  EXPECT_EQ(proc_.Picture().Pixels()[0], 0);
  EXPECT_EQ(owner_.restarts, 0);
  EXPECT_EQ(surface_.updates, updatesBefore);
  EXPECT_EQ(proc_.ExpectedSequence(), 0u);
}

TEST_F(UpdateProcessorTest, UnknownTypeOfTheTransmissionIsSilentlyIgnored) {
  log_.Mark();
  std::vector<uint8_t> d = {0xFB, 0xFF, 0x34, 0x12, 1, 2, 3, 4};
  Feed(d);
  d[0] = 0x00;
  d[1] = 0x10;
  Feed(d);
  EXPECT_EQ(log_.Since(), "");
  EXPECT_EQ(owner_.requests, 0);
}

TEST_F(UpdateProcessorTest, CursorDatagramsMoveAndReplaceTheCursor) {
  CursorShapeHeader h;
  h.hotX = 3;
  h.hotY = 4;
  h.maskWidth = 32;
  h.maskHeight = 64;
  h.maskPalette1BG = 0xFFFF;
  std::vector<uint8_t> shape(kCursorShapeHeaderSize + 256, 0);
  BuildCursorShapeHeader(h, shape.data());
  Feed(Compressed(PacketType::CursorShape, kId, 0, shape));
  Feed(test::CursorPositionDatagram(kId, 100, 50));
  std::lock_guard<std::mutex> lock(proc_.Cursor().Lock());
  const RemoteCursorState& s = proc_.Cursor().State();
  EXPECT_TRUE(s.hasImage);
  EXPECT_EQ(s.width, 32);
  EXPECT_EQ(s.height, 32);
  EXPECT_EQ(s.hotX, 3);
  EXPECT_EQ(s.x, 100);
  EXPECT_EQ(s.y, 50);
  EXPECT_EQ(proc_.ExpectedSequence(), 1u);
}

// Damaged and hostile datagrams: dropped with a line, at most one update
// request each, never the fatal path, never a write outside the picture.
TEST_F(UpdateProcessorTest, ShortDatagramsOfEveryTypeAreDropped) {
  const uint16_t types[] = {0xFFFF, 0xFFFE, 0xFFFD, 0xFFFC, 0xFFFA, 0xFFF9};
  for (uint16_t type : types) {
    size_t need = type == 0xFFFF ? 24 : type == 0xFFFE ? 4 : 8;
    for (size_t n = 0; n < need; ++n) {
      std::vector<uint8_t> d(n, 0);
      if (n >= 2) WriteU16(d.data(), type);
      if (n >= 4) WriteU16(d.data() + 2, kId);
      Feed(d);
    }
  }
  EXPECT_GT(log_.Count("qvViewer: Dropping short packet"), 40);
  EXPECT_EQ(owner_.fatals, 0);
  EXPECT_EQ(owner_.restarts, 0);
  EXPECT_EQ(proc_.ExpectedSequence(), 0u);
}

TEST_F(UpdateProcessorTest, UnusableInitMessagesAreDroppedAndDoNotReset) {
  Update(0, 0, 10);
  Update(1, 10, 20);
  Feed(InitDatagram(kId, 0, kH, 32));
  Feed(InitDatagram(kId, 4097, kH, 32));
  Feed(InitDatagram(kId, kW, 0, 32));
  Feed(InitDatagram(kId, kW, kH, 24));
  Feed(InitDatagram(kId, kW, kH, 8));
  EXPECT_EQ(log_.Count("qvViewer: Dropping unusable init packet"), 5);
  EXPECT_EQ(log_.Count("Received init packet"), 0);
  EXPECT_EQ(proc_.ExpectedSequence(), 2u);
}

TEST_F(UpdateProcessorTest, BadZlibDataIsDroppedWithOneRequest) {
  Update(0, 0, 10);
  std::vector<uint8_t> garbage(300);
  std::mt19937 rng(5);
  for (auto& b : garbage) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> d(8);
  BuildCompressedHeader(CompressedHeader{0xFFFC, kId, 1}, d.data());
  d.insert(d.end(), garbage.begin(), garbage.end());
  Feed(d);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(log_.Count("qvViewer: zlib inflate error on decoding update (error "), 1);
  EXPECT_EQ(owner_.fatals, 0);
  // Its number was the expected one: the next datagram is no loss.
  Update(2, 10, 20);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_TRUE(RowsEqual(10, 20));
}

TEST_F(UpdateProcessorTest, ACompleteZlibStreamIsRejectedLikeTheSender) {
  frame_ = test::MakeFrame(kW, kH, 32, 3);
  Feed(Compressed(PacketType::Update, kId, 0, test::EncodeRows(frame_, kW, 32, 0, 4), true));
  EXPECT_EQ(log_.Count("qvViewer: zlib inflate error on decoding update (error 1)\r\n"), 1);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(proc_.Picture().Pixels()[0], 0);
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

TEST_F(UpdateProcessorTest, MalformedPayloadIsReportedAndAnsweredOnce) {
  // A record for row 500 of a 200-row picture.
  std::vector<uint8_t> payload = {0x80, 0xF4, 0x01, 0x01, 1, 2, 3, 4};
  Feed(Compressed(PacketType::Update, kId, 0, payload));
  EXPECT_EQ(log_.Count("qvViewer: Malformed update payload"), 1);
  EXPECT_EQ(owner_.requests, 1);
  EXPECT_EQ(proc_.ExpectedSequence(), 1u);
}

TEST_F(UpdateProcessorTest, RandomDatagramsNeverCrashOrEndTheReceiver) {
  std::mt19937 rng(11);
  std::vector<uint8_t> frame = test::MakeFrame(kW, kH, 32, 4);
  std::vector<uint8_t> good = test::EncodeRows(frame, kW, 32, 0, 30);
  for (int i = 0; i < 3000; ++i) {
    std::vector<uint8_t> d;
    int kind = rng() % 4;
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
  EXPECT_TRUE(proc_.HasFramebuffer());
  // Still works afterwards.
  Feed(InitDatagram(kId, kW, kH, 32));
  for (uint32_t q = 0; q < 4; ++q) {
    Update(q, q * kH / 4, (q + 1) * kH / 4, 21, PacketType::FullUpdate);
  }
  EXPECT_TRUE(RowsEqual(0, kH));
}

TEST(UpdateProcessor16, SixteenBitPicturesAreRebuiltByteForByte) {
  test::RecordingOwner owner;
  test::RecordingSurface surface;
  UpdateProcessor proc;
  ASSERT_TRUE(proc.Begin(&owner, &surface));
  auto init = InitDatagram(7, 320, 48, 16, 0xF800, 0x07E0, 0x001F);
  proc.Start(init.data());
  auto frame = test::MakeFrame(320, 48, 16, 5);
  auto d = Compressed(PacketType::FullUpdate, 7, 0, test::EncodeRows(frame, 320, 16, 0, 48));
  proc.Process(d.data(), d.size());
  ASSERT_TRUE(proc.HasFramebuffer());
  EXPECT_EQ(proc.Picture().View().bitsPerPixel, 16);
  EXPECT_TRUE(proc.Picture().View().bitFields);
  EXPECT_EQ(memcmp(proc.Picture().Pixels(), frame.data(), frame.size()), 0);
}

TEST(UpdateProcessor16, ZeroMasksMeanTheStandardLayout) {
  test::LogReader log;
  test::RecordingOwner owner;
  test::RecordingSurface surface;
  UpdateProcessor proc;
  ASSERT_TRUE(proc.Begin(&owner, &surface));
  auto init = InitDatagram(7, 64, 8, 16, 0xF800, 0, 0x001F);
  proc.Start(init.data());
  EXPECT_EQ(log.Count("qvViewer: RGB masks not set, assuming BI_RGB\r\n"), 1);
  FramebufferView v = proc.Picture().View();
  EXPECT_FALSE(v.bitFields);
  EXPECT_EQ(v.EffectiveRedMask(), 0x7C00u);
  EXPECT_EQ(proc.Picture().SizeBytes(), 64u * 8 * 2);
}

}  // namespace
}  // namespace qc
