// SPDX-License-Identifier: GPL-3.0-or-later
// qcCapture driven step by step with in-memory sources and a recording
// transport: full-screen updates, quarters, requests, keep-alives, pause,
// display changes, set-up, row tails, cursor steps, damage-driven grabbing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <tuple>
#include <vector>

#include "common/protocol.h"
#include "receiver/viewer/str_decoder.h"
#include "sender/capture/capture.h"
#include "tests/codec/codec_test_support.h"
#include "tests/support/fake_sources.h"

namespace qc {
namespace {

using test::RecordingTransport;
using Datagram = RecordingTransport::Datagram;
using Types = std::vector<uint16_t>;
using Grabs = std::vector<std::pair<int, int>>;

constexpr uint16_t kInit = 0xFFFF, kDisconnection = 0xFFFE, kFullUpdate = 0xFFFD,
                   kUpdate = 0xFFFC, kCursorPosition = 0xFFFA, kCursorShape = 0xFFF9,
                   kKeepAlive = 0xFFF7;
// The address repair requests come from.
constexpr uint32_t kReceiver = 0x0A000002;

// The engines' clock: it moves only when a test moves it.
test::ManualClock g_now{1000};

// One engine with its fakes.
struct Rig {
  Rig(int width, int height, int bitsPerPixel, bool damage = false, bool withCursor = true) {
    auto s = std::make_unique<test::FakeScreenSource>(width, height, bitsPerPixel, damage);
    screen = s.get();
    auto c = withCursor ? std::make_unique<test::FakeCursorSource>() : nullptr;
    cursor = c.get();
    capture = std::make_unique<qcCapture>(std::move(s), std::move(c), g_now);
    capture->SetStepHook(&gate);
  }
  bool Init() { return capture->Init(&owner); }
  void Start() {
    ASSERT_TRUE(Init());
    capture->SetPolling(true);
  }
  void Steps(int n = 1) { ASSERT_TRUE(test::Steps(*capture, gate, n)); }
  // The sleep the last step chose.
  Pause LastPause() {
    Pause pause;
    EXPECT_TRUE(gate.NextPause(pause));
    return pause;
  }
  void Refresh() {  // then long after the last full-screen update
    capture->RequestRefresh();
    g_now.Advance(FullUpdateBudget::kMaxGapMs);
  }
  // A pattern that makes every row differ from its neighbours.
  void Paint(uint32_t seed) {
    for (int y = 0; y < screen->Height(); ++y)
      for (int x = 0; x < screen->Width(); ++x)
        screen->SetPixel(x, y, (x * 2654435761u) ^ (y * 40503u) ^ seed);
  }
  std::vector<Datagram> Take() { return transport.Take(); }

  test::FakeScreenSource* screen = nullptr;
  test::FakeCursorSource* cursor = nullptr;
  RecordingTransport transport;
  test::FakeCaptureOwner owner{&transport};
  test::StepGate gate;
  std::unique_ptr<qcCapture> capture;
};

Types TypesOf(const std::vector<Datagram>& sent) {
  Types types;
  for (const auto& d : sent) types.push_back(d.type);
  return types;
}

int Count(const std::vector<Datagram>& sent, uint16_t type) {
  int n = 0;
  for (const auto& d : sent) n += d.type == type;
  return n;
}

// The receiver's side: decodes update payloads into a framebuffer.
struct Picture {
  explicit Picture(const test::FakeScreenSource& s)
      : screen(s),
        width(SentFrameWidth(s.Width())),
        pixels(size_t(width) * s.Height() * s.BytesPerPixel(), 0) {
    EXPECT_TRUE(decoder.Init(pixels.data(), s.BytesPerPixel(), width, s.Height()));
  }
  // Applies every update payload; the lowest and highest row touched.
  std::pair<int, int> Apply(const std::vector<Datagram>& sent) {
    int low = -1, high = -1;
    for (const auto& d : sent) {
      if (d.type != kFullUpdate && d.type != kUpdate) continue;
      int first = -1, last = -1;
      EXPECT_TRUE(decoder.Decode(d.bytes.data(), d.bytes.size(), first, last));
      if (first < 0) continue;
      low = low < 0 ? first : std::min(low, first);
      high = std::max(high, last);
    }
    return {low, high};
  }
  // The screen, with black columns up to the sent width.
  ::testing::AssertionResult Matches() const {
    const int B = screen.BytesPerPixel();
    const test::Bytes want =
        test::SentFrame(screen.Screen().data(), screen.Width(), screen.Height(), B);
    return test::CarriedBytesMatch(want.data(), pixels.data(), width, screen.Height(), B);
  }
  const test::FakeScreenSource& screen;
  int width;  // as sent
  std::vector<uint8_t> pixels;
  StrDecoder decoder;
};

// The X11 pipeline test checks the init message's fields for each depth;
// here the order and numbering of what a full-screen update sends.
TEST(CaptureFullUpdate, FirstStepsAreAFullScreenUpdateInQuartersGrabbedInOrder) {
  Rig rig(64, 40, 32);
  rig.Paint(7);
  rig.Start();
  // Each quarter is its own step; only the first sends the init message.
  Picture picture(*rig.screen);
  std::vector<Datagram> sent;
  for (int q = 0; q < 4; ++q) {
    rig.Steps();
    auto step = rig.Take();
    EXPECT_EQ(picture.Apply(step), std::make_pair(10 * q, 10 * q + 9));
    EXPECT_EQ(Count(step, kInit), q == 0 ? 1 : 0);
    sent.insert(sent.end(), step.begin(), step.end());
  }
  EXPECT_TRUE(picture.Matches());
  // The numbering restarts (sender_test numbers): init, the quarters, then
  // shape and position.
  EXPECT_EQ(rig.transport.resets, 1);
  Types expected(sent.size() - 3, kFullUpdate);
  expected.insert(expected.begin(), kInit);
  expected.insert(expected.end(), {kCursorShape, kCursorPosition});
  EXPECT_EQ(TypesOf(sent), expected);
  CursorPosition pos;
  ASSERT_TRUE(ParseCursorPosition(sent.back().bytes.data(), sent.back().bytes.size(), pos));
  EXPECT_EQ(std::vector<int>({pos.screenId, pos.x, pos.y}), std::vector<int>({0x1234, 10, 10}));
  // Then updates, without a new numbering.
  rig.screen->Fill(3, 22, 40, 25, 0x00F800);
  rig.Steps(4);
  auto update = rig.Take();
  ASSERT_EQ(TypesOf(update), Types{kUpdate});
  EXPECT_EQ(rig.transport.resets, 1);
  EXPECT_EQ(picture.Apply(update), std::make_pair(22, 24));
  // Quarter bounds and grab order for heights not a multiple of four.
  const Grabs quarters = {{0, 262}, {262, 525}, {525, 786}, {786, 1050}};
  for (int q = 0; q < 4; ++q) {
    EXPECT_EQ(qcCapture::QuarterBound(1050, q), quarters[q].first);
    EXPECT_EQ(qcCapture::QuarterBound(1050, q + 1), quarters[q].second);
  }
  EXPECT_EQ(qcCapture::QuarterBound(7, 3), 3);
  Rig tall(16, 1050, 16);
  tall.Start();
  tall.Steps(8);  // four full-screen steps, four polling steps
  Grabs grabs = quarters;
  grabs.insert(grabs.end(), quarters.begin(), quarters.end());
  EXPECT_EQ(tall.screen->grabs, grabs);
}

TEST(CaptureFullUpdate, StopAndRestartSendsDisconnectionThenAFullUpdateFromQuarterZero) {
  // Stopped after the full update, or in its middle (quarters 0 and 1).
  for (int steps : {6, 2}) {
    SCOPED_TRACE(steps);
    Rig rig(64, 40, 16);
    rig.Paint(1);
    rig.Start();
    rig.Steps(steps);
    rig.Take();
    rig.capture->SetPolling(false);
    rig.capture->SendDisconnection();
    auto stop = rig.Take();
    ASSERT_EQ(TypesOf(stop), Types{kDisconnection});
    EXPECT_EQ(PeekScreenId(stop[0].bytes.data(), stop[0].bytes.size()), 0x1234);

    // The identifier is taken anew at each full update.
    rig.transport.SetScreenId(0x4321);
    rig.screen->grabs.clear();
    rig.capture->SetPolling(true);
    rig.Steps(4);
    auto restart = rig.Take();
    ASSERT_GE(restart.size(), 2u);
    EXPECT_EQ(restart[0].type, kInit);
    EXPECT_EQ(restart[1].type, kFullUpdate);
    EXPECT_EQ(rig.transport.resets, 2);
    EXPECT_EQ(rig.screen->grabs.front(), std::make_pair(0, 10));
    for (const Datagram* d : {&restart.front(), &restart.back()}) {
      EXPECT_EQ(PeekScreenId(d->bytes.data(), d->bytes.size()), 0x4321);
    }
    rig.capture.reset();  // destroyed while transmitting: a disconnection too
    EXPECT_EQ(TypesOf(rig.Take()), Types{kDisconnection});
  }
}

TEST(CaptureRequests, FullUpdatesFollowTheBudgetAndRequestsDuringOneAreServedTogetherByTheNext) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(2);
  rig.capture->RequestRefresh();
  rig.capture->RequestRefresh();
  rig.Steps(10);
  EXPECT_EQ(Count(rig.Take(), kInit), 1);
  // Asked during the first one: the next starts once its gap has passed.
  g_now.Advance(FullUpdateBudget::kMinGapMs - 1);
  rig.Steps(4);
  EXPECT_EQ(Count(rig.Take(), kInit), 0);
  g_now.Advance(1);
  rig.Steps(8);
  EXPECT_EQ(Count(rig.Take(), kInit), 1);
  // Long after, requests wait only while more follow closely, and at most
  // for the gathering limit.
  g_now.Advance(FullUpdateBudget::kMaxGapMs);
  rig.Steps(4);
  rig.Take();
  for (uint32_t waited = 0; waited < FullUpdateBudget::kGatherMaxMs;
       waited += FullUpdateBudget::kGatherQuietMs - 1) {
    rig.capture->RequestRefresh();
    rig.Steps(2);
    EXPECT_EQ(Count(rig.Take(), kInit), 0) << waited;
    g_now.Advance(FullUpdateBudget::kGatherQuietMs - 1);
  }
  rig.capture->RequestRefresh();
  rig.Steps(8);
  EXPECT_EQ(Count(rig.Take(), kInit), 1);
  g_now.Advance(FullUpdateBudget::kMaxGapMs);
  rig.capture->RequestRefresh();
  g_now.Advance(FullUpdateBudget::kGatherQuietMs);
  rig.Steps(8);
  EXPECT_EQ(Count(rig.Take(), kInit), 1);  // a lone request after the quiet time
  // The gap grows with the size: a text screen, a photo, a huge one.
  const std::pair<uint32_t, uint32_t> gaps[] = {
      {66000, FullUpdateBudget::kMinGapMs}, {1400000, 5600}, {10000000, FullUpdateBudget::kMaxGapMs}};
  for (auto [bytes, gap] : gaps) EXPECT_EQ(FullUpdateBudget::GapFor(bytes), gap) << bytes;
}

// The compressed datagrams of a step with their sequence numbers, counted
// from the last init message as the transport numbers them.
struct Numbered {
  uint32_t sequence;
  Datagram d;
};
std::vector<Numbered> Number(const std::vector<Datagram>& sent, uint32_t& next) {
  std::vector<Numbered> out;
  for (const auto& d : sent) {
    if (d.type == kInit) next = 0;
    if (d.type == kFullUpdate || d.type == kUpdate || d.type == kCursorShape) out.push_back({next++, d});
  }
  return out;
}

// Starts a painted screen and takes its full-screen update; the number the
// next datagram gets.
uint32_t StartPainted(Rig& rig) {
  rig.Paint(7);
  rig.Start();
  uint32_t next = 0;
  rig.Steps(4);
  Number(rig.Take(), next);
  return next;
}

TEST(CaptureRepairs, LostRowsGoOutOnceForManyAskersTheLastIsHealedAndUnknownNumbersGetAFullUpdate) {
  Rig rig(64, 40, 32);
  rig.Paint(7);
  rig.Start();
  Picture picture(*rig.screen);
  uint32_t next = 0;
  rig.Steps(4);
  const auto full = rig.Take();
  picture.Apply(full);
  Number(full, next);
  // Bands change in quarters 1 and 3: two datagrams, and the first is lost.
  rig.screen->Fill(0, 12, 64, 15, 0x00F800);
  rig.screen->Fill(0, 33, 64, 36, 0x0000F8);
  rig.Steps(4);
  const auto updates = Number(rig.Take(), next);
  ASSERT_EQ(updates.size(), 2u);
  picture.Apply({updates[1].d});
  EXPECT_FALSE(picture.Matches());
  // Still for the heal delay: the last datagram's rows once more, then
  // nothing however long the screen stays still.
  g_now.Advance(RepairPlanner::kHealDelayMs);
  rig.Steps(4);
  const auto heal = Number(rig.Take(), next);
  ASSERT_EQ(heal.size(), 1u);
  EXPECT_EQ(picture.Apply({heal[0].d}), std::make_pair(33, 35));
  g_now.Advance(10 * RepairPlanner::kHealDelayMs);
  rig.Steps(4);
  EXPECT_TRUE(rig.Take().empty());
  // A receiver lost the heal: its rows go out again (and are healed), and
  // that is all. Only
  // the loss of a change starts the rolling refresh (in a lossy crowd the
  // losses of the slices themselves kept it going on a still screen).
  rig.capture->RequestRepair(0x1234, heal[0].sequence, heal[0].sequence, kReceiver);
  rig.Steps();
  const auto healAgain = Number(rig.Take(), next);
  ASSERT_EQ(healAgain.size(), 1u);
  EXPECT_EQ(picture.Apply({healAgain[0].d}), std::make_pair(33, 35));
  for (int i = 0; i < 10; ++i) {
    g_now.Advance(RepairPlanner::kRollingSliceMs);
    rig.Steps();
  }
  const auto still = rig.Take();  // the heal of that repair, no slices
  ASSERT_EQ(still.size(), 1u);
  EXPECT_EQ(picture.Apply(still), std::make_pair(33, 35));
  // Asked again later, on a still screen: the rows went out since, but
  // only rows sent again would tell the receiver it was answered.
  rig.capture->RequestRepair(0x1234, heal[0].sequence, heal[0].sequence, kReceiver);
  rig.Steps();
  const auto healedAgain = Number(rig.Take(), next);
  ASSERT_EQ(healedAgain.size(), 1u);
  EXPECT_EQ(picture.Apply({healedAgain[0].d}), std::make_pair(33, 35));
  // Two receivers ask for the lost one: its rows go out once.
  const uint32_t lost = updates[0].sequence;
  rig.capture->RequestRepair(0x1234, lost, lost, kReceiver);
  rig.capture->RequestRepair(0x1234, lost, lost, kReceiver + 1);
  rig.Steps();
  const auto repair = Number(rig.Take(), next);
  ASSERT_EQ(repair.size(), 1u);
  EXPECT_EQ(repair[0].d.type, kUpdate);
  EXPECT_EQ(picture.Apply({repair[0].d}), std::make_pair(12, 14));
  EXPECT_TRUE(picture.Matches());
  // Asked before that repair arrived: the same loss, nothing more.
  rig.capture->RequestRepair(0x1234, lost, lost, kReceiver);
  rig.Steps();
  EXPECT_TRUE(rig.Take().empty());
  // Numbers too old, or of another screen: a full-screen update. Numbers
  // not sent yet (asked before the stream started over): nothing.
  for (auto [id, number, wait, inits] :
       {std::tuple{0x1234, lost, SequenceRows::kKeepMs, 1}, {0x1234, next + 5, 0u, 0},
        {0x4321, 0u, 0u, 1}}) {
    g_now.Advance(wait);
    rig.capture->RequestRepair(static_cast<uint16_t>(id), number, number, kReceiver);
    rig.Steps(8);
    g_now.Advance(FullUpdateBudget::kMaxGapMs);
    rig.Steps(8);
    EXPECT_EQ(Count(rig.Take(), kInit), inits) << number;
  }
  // A crowd asking for the same numbers, more often than the inbox holds
  // requests between two steps: a repair, no full-screen update.
  for (int i = 0; i < 2 * RepairPlanner::kInboxSize; ++i) {
    rig.capture->RequestRepair(0x1234, 0, 0, kReceiver);
  }
  rig.Steps(8);
  g_now.Advance(FullUpdateBudget::kMaxGapMs);
  rig.Steps(8);
  EXPECT_EQ(Count(rig.Take(), kInit), 0);
}

// Parity pays only for a crowd: how many receivers asked lately, told apart
// by address, goes to the transport with every step.
TEST(CaptureRepairs, ReceiversThatAskedLatelyAreCountedByAddressUpToACrowd) {
  Rig rig(64, 40, 32);
  const uint32_t next = StartPainted(rig);
  auto ask = [&](uint32_t from) { rig.capture->RequestRepair(0x1234, next - 1, next - 1, from); };
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, 0);
  // One receiver asking again and again is one; another asking for the
  // same numbers (held once) is a second.
  for (int i = 0; i < 3; ++i) ask(kReceiver);
  ask(kReceiver + 1);
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, 2);
  // Three are a crowd, and more count as three.
  g_now.Advance(RepairPlanner::kReportersMs / 2);
  for (uint32_t i = 2; i < 6; ++i) ask(kReceiver + i);
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, RepairPlanner::kCrowd);
  // Those that stop asking are forgotten; the one that asks again counts.
  g_now.Advance(RepairPlanner::kReportersMs / 2);
  ask(kReceiver + 1);
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, RepairPlanner::kCrowd);
  g_now.Advance(RepairPlanner::kReportersMs / 2 + 1);
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, 1);
  g_now.Advance(RepairPlanner::kReportersMs);
  rig.Steps();
  EXPECT_EQ(rig.transport.lastReporters, 0);
}

// Requests cost what the traffic budget allows, whoever sends them and
// however many: the same scrolling screen run with and without a flood of
// repair requests for the latest 256 numbers, plain refresh requests and
// repairs naming another screen, about 1000 a second. Parity is bounded on
// its own: the flood served with parity after every datagram is the same.
TEST(CaptureRepairs, AFloodOfRequestsAddsNoMoreBytesThanTheTrafficBudgetEarns) {
  constexpr int kSteps = 500;  // 10 ms each: 5 s
  auto run = [](bool flood, uint32_t parityPerPayload = 0) {
    g_now.Set(50000);
    Rig rig(320, 240, 32);
    rig.transport.parityPerPayload = parityPerPayload;
    rig.Paint(3);
    rig.Start();
    rig.Steps(4);
    uint32_t next = 0;
    Number(rig.Take(), next);
    const uint32_t start = rig.transport.StreamBytesSent();
    for (int i = 0; i < kSteps; ++i) {
      rig.screen->Fill(0, (i * 3) % 240, 320, (i * 3) % 240 + 1, 0x102030u * (i + 1));
      if (flood) {
        for (int k = 0; k < 4; ++k) {
          rig.capture->RequestRepair(0x1234, next > 256 ? next - 256 : 0, next > 0 ? next - 1 : 0,
                                     kReceiver);
        }
        for (int k = 0; k < 3; ++k) {
          rig.capture->RequestRefresh();
          rig.capture->RequestRepair(0x4321, 0, 255, kReceiver);
        }
      }
      rig.Steps();
      Number(rig.Take(), next);
      g_now.Advance(10);
    }
    return rig.transport.StreamBytesSent() - start;
  };
  const uint32_t quiet = run(false);
  const uint32_t flooded = run(true);
  EXPECT_EQ(run(true, 2000), flooded);
  // The budget's earnings over the run, plus one full-screen update of raw
  // pixels that the last send may take it into debt by.
  const int64_t earned = TrafficBudget::kBurstBytes +
                         TrafficBudget::kBaseBytesPerSecond * kSteps * 10 / 1000 +
                         int64_t{quiet} * TrafficBudget::kStreamShareNum /
                             TrafficBudget::kStreamShareDen;
  const int64_t oneFullUpdate = 320 * 240 * 4 + 4096;
  EXPECT_GT(flooded, quiet);  // the flood was served, within the budget
  std::printf("5 s: %u bytes quiet, %u flooded, budget %lld\n", quiet, flooded,
              static_cast<long long>(earned));
  EXPECT_LE(int64_t{flooded} - quiet, earned + oneFullUpdate) << quiet << " " << flooded;
}

// While the stream flows, a request is answered with the rows of the lost
// datagram that no later datagram carried again, substring by substring: a
// receiver that has the later ones has those rows as new or newer, and one
// that lost them asks for them (a repair too: whoever names it lost it). A
// request for a change just sent waits for the screen's next frame first.
// A request naming another screen gets a full-screen update and nothing
// else.
TEST(CaptureRepairs, OnlyRowsNoLaterDatagramCarriedAreRepairedAndAForeignIdCostsARefresh) {
  Rig rig(64, 40, 32);
  rig.Paint(7);
  rig.Start();
  Picture picture(*rig.screen);
  uint32_t next = 0;
  rig.Steps(4);
  const auto full = rig.Take();
  picture.Apply(full);
  Number(full, next);
  rig.screen->Fill(0, 12, 64, 15, 0x00F800);
  rig.Steps(4);
  const auto lost = Number(rig.Take(), next);
  ASSERT_EQ(lost.size(), 1u);
  rig.capture->RequestRepair(0x1234, lost[0].sequence, lost[0].sequence, kReceiver);
  rig.Steps();
  EXPECT_TRUE(rig.Take().empty());
  // The next frame: rows 13 and 14 change again, row 12 only in its first
  // substring.
  rig.screen->Fill(0, 13, 64, 15, 0x0000F8);
  rig.screen->Fill(0, 12, 8, 13, 0x0000F8);
  rig.Steps(4);
  const auto later = Number(rig.Take(), next);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_EQ(picture.Apply({later[0].d}), std::make_pair(12, 14));
  EXPECT_FALSE(picture.Matches());
  g_now.Advance(RepairPlanner::kFollowMs - 1);
  rig.Steps();
  EXPECT_TRUE(rig.Take().empty());
  g_now.Advance(1);
  rig.Steps();
  const auto repair = Number(rig.Take(), next);
  ASSERT_EQ(repair.size(), 1u);
  EXPECT_EQ(picture.Apply({repair[0].d}), std::make_pair(12, 12));
  EXPECT_TRUE(picture.Matches());
  rig.capture->RequestRepair(0x1234, repair[0].sequence, repair[0].sequence, kReceiver);
  rig.Steps();
  const auto again = Number(rig.Take(), next);
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].sequence, repair[0].sequence + 1);
  EXPECT_EQ(picture.Apply({again[0].d}), std::make_pair(12, 12));
  // Asked again past the hold-off: their rows went out since. What goes
  // out (the rolling refresh, from row 0 on) leaves rows 12-14 alone.
  g_now.Advance(RepairPlanner::kHoldoffMs);
  rig.capture->RequestRepair(0x1234, repair[0].sequence, repair[0].sequence, kReceiver);
  rig.capture->RequestRepair(0x1234, lost[0].sequence, lost[0].sequence, kReceiver);
  rig.Steps();
  for (const auto& d : rig.Take()) {
    const auto [low, high] = picture.Apply({d});
    EXPECT_TRUE(high < 12 || low > 14) << low << "-" << high;
  }
  EXPECT_TRUE(picture.Matches());
  g_now.Advance(RepairPlanner::kRollingMs);
  rig.Steps(4);
  rig.Take();
  rig.capture->RequestRepair(0x4321, 0, 255, kReceiver);
  rig.Steps(8);
  g_now.Advance(FullUpdateBudget::kMaxGapMs);
  rig.Steps(8);
  EXPECT_EQ(Count(rig.Take(), kInit), 1);
  // No rolling refresh follows: on the still screen only the heal of the
  // update's last datagram (its cursor shape) goes out.
  for (int i = 0; i < 20; ++i) {
    g_now.Advance(RepairPlanner::kRollingSliceMs);
    rig.Steps();
  }
  const auto after = rig.Take();
  EXPECT_EQ(Count(after, kUpdate), 0);
  EXPECT_LE(after.size(), 1u);
}

// While losses of changes are reported, slices of rows go out again, the
// whole screen every cycle, in the substrings that no datagram carried in
// the last second: a part of the screen that keeps changing goes out with
// each change, not a second time in the slices.
TEST(CaptureRepairs, TheRollingRefreshResendsWhatStayedStillNotWhatKeepsChanging) {
  Rig rig(64, 40, 32);
  uint32_t next = StartPainted(rig);
  g_now.Advance(RepairPlanner::kRollingQuietMs);
  // Substring 0 of every row changes all the time; a step polls a quarter.
  int step = 0;
  auto change = [&] {
    rig.screen->Fill(0, 0, 8, 40, 0x101010u * static_cast<uint32_t>(++step));
    g_now.Advance(RepairPlanner::kRollingSliceMs);
    rig.Steps();
  };
  for (int i = 0; i < 4; ++i) change();
  const auto sent = Number(rig.Take(), next);
  ASSERT_FALSE(sent.empty());
  // A change is lost: its repair carries substring 0 of its rows, which a
  // later change had not carried again yet, and the rolling refresh starts.
  rig.capture->RequestRepair(0x1234, sent.back().sequence, sent.back().sequence, kReceiver);
  const StripGeometry g = StripGeometry::Make(64, 4);
  std::vector<uint8_t> refreshed(40, 0);
  constexpr int kSteps = RepairPlanner::kRollingCycleMs / RepairPlanner::kRollingSliceMs + 1;
  for (int i = 0; i < kSteps; ++i) {
    change();
    for (const auto& d : rig.Take()) {
      if (d.type != kUpdate) continue;
      EXPECT_TRUE(LedgerTransport::WalkRecords(g, d.bytes.data(), d.bytes.size(),
                                               [&](int row, uint8_t mask) {
        if (mask == kBitTable[0]) return;  // a change, or the repair
        EXPECT_EQ(mask & kBitTable[0], 0) << row;
        refreshed[static_cast<size_t>(row)] |= mask;
      }));
    }
  }
  for (int y = 0; y < 40; ++y) EXPECT_EQ(refreshed[static_cast<size_t>(y)], 0x7F) << y;
}

// The rolling refresh mends what no request reported (a request lost on its
// way): a screen that changed until the end, with losses reported a while
// before, gets every row sent again once it went still, however unevenly
// the steps come.
TEST(CaptureRepairs, TheRollingRefreshReachesEveryRowAfterTheScreenWentStill) {
  Rig rig(64, 40, 32);
  uint32_t next = StartPainted(rig);
  uint32_t color = 0x010101;
  auto step = [&](bool change) {
    if (change) rig.screen->Fill(0, 0, 64, 40, color += 0x010101);
    g_now.Advance(RepairPlanner::kRollingSliceMs + 33);
    rig.Steps();
  };
  for (int i = 0; i < 4; ++i) step(true);
  const auto sent = Number(rig.Take(), next);
  ASSERT_FALSE(sent.empty());
  rig.capture->RequestRepair(0x1234, sent.back().sequence, sent.back().sequence, kReceiver);
  // The screen changes on for most of a second after the last report.
  for (int i = 0; i < 6; ++i) step(true);
  rig.Take();
  const StripGeometry g = StripGeometry::Make(64, 4);
  std::vector<bool> refreshed(40, false);
  constexpr int kSteps = (RepairPlanner::kRollingMs + 2 * RepairPlanner::kRollingCycleMs) /
                         (RepairPlanner::kRollingSliceMs + 33);
  for (int i = 0; i < kSteps; ++i) {
    step(false);
    for (const auto& d : rig.Take()) {
      if (d.type != kUpdate) continue;
      EXPECT_TRUE(LedgerTransport::WalkRecords(g, d.bytes.data(), d.bytes.size(),
                                               [&](int row, uint8_t) {
        refreshed[static_cast<size_t>(row)] = true;
      }));
    }
  }
  for (int y = 0; y < 40; ++y) EXPECT_TRUE(refreshed[static_cast<size_t>(y)]) << y;
}

TEST(CaptureKeepAlive, OnlyIntoSilenceWhileTransmittingOrPausedAndAPauseSendsNothingElse) {
  Rig rig(32, 8, 16);
  ASSERT_TRUE(rig.Init());
  rig.capture->OnKeepAliveTimer();
  rig.capture->OnKeepAliveTimer();
  EXPECT_TRUE(rig.Take().empty());  // stopped
  rig.capture->SetPolling(true);
  rig.Steps(4);
  rig.capture->OnKeepAliveTimer();  // the full update went out since
  EXPECT_EQ(Count(rig.Take(), kKeepAlive), 0);
  rig.capture->OnKeepAliveTimer();
  auto sent = rig.Take();
  ASSERT_EQ(TypesOf(sent), Types{kKeepAlive});
  EXPECT_EQ(sent[0].bytes.size(), kKeepAliveSize);
  EXPECT_EQ(PeekScreenId(sent[0].bytes.data(), sent[0].bytes.size()), 0x1234);
  // The keep-alive itself does not count as something else sent.
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(TypesOf(rig.Take()), Types{kKeepAlive});
  // A datagram between two ticks suppresses one keep-alive.
  rig.screen->Fill(0, 0, 32, 2, 0x1234);
  rig.Steps();
  rig.Take();
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(Count(rig.Take(), kKeepAlive), 0);
  // Paused: no steps, but keep-alives; resuming sends no full update.
  rig.capture->SetPolling(false);
  rig.capture->SetPaused(true);
  EXPECT_TRUE(rig.capture->IsPaused());
  rig.screen->Fill(0, 0, 32, 8, 0xFFFF);
  rig.capture->OnKeepAliveTimer();
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(TypesOf(rig.Take()), (Types{kKeepAlive, kKeepAlive}));
  rig.capture->SetPaused(false);
  rig.capture->SetPolling(true);
  rig.Steps(4);
  EXPECT_EQ(TypesOf(rig.Take()), Types(4, kUpdate));
}

// A change seen by the handler while running or paused, or by the screen
// source whenever it happened (the handler ignores changes while stopped),
// ends the engine at the next step, before it sends frames of the old
// geometry, with the disconnection as its last datagram.
TEST(CaptureDisplayChange, EndsThroughFatalErrorAtTheNextStep) {
  for (const char* how : {"running", "paused", "source"}) {
    SCOPED_TRACE(how);
    const bool paused = how[0] == 'p', source = how[0] == 's';
    Rig rig(32, 8, 16);
    rig.Start();
    rig.Steps(4);
    rig.capture->SetPolling(!paused && !source);
    rig.capture->SetPaused(paused);
    if (source) rig.capture->SendDisconnection();
    rig.capture->OnDisplayChange();
    rig.capture->SetPaused(false);
    rig.capture->SetPolling(true);
    if (source) {
      rig.Steps();  // stopped: the handler's change was not recorded
      rig.screen->displayChanged = true;
    }
    EXPECT_EQ(rig.owner.fatalErrors.load(), 0);
    rig.gate.Allow();
    ASSERT_TRUE(rig.capture->WaitForSteps(UINT64_MAX, 10000));
    EXPECT_TRUE(rig.capture->WorkThreadFinished());
    EXPECT_EQ(rig.owner.fatalErrors.load(), 1);
    EXPECT_TRUE(rig.transport.IsClosed());
    // Receivers hear of the end: the disconnection went out before the close.
    const auto sent = rig.Take();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().type, kDisconnection);
  }
}

TEST(CaptureLifecycle, DestroySendsTheDisconnectionEvenBeforeAnyStep) {
  Rig rig(32, 8, 16);
  rig.Start();
  rig.capture.reset();  // also ends a thread that never ran a step
  EXPECT_EQ(TypesOf(rig.Take()), Types{kDisconnection});
}

TEST(CaptureSetUp, UnusableScreensFailInit) {
  const struct {
    const char* name;
    int width, bits;
    bool failOpen, failFrame, message;  // message: the error box is shown
  } cases[] = {{"8 bits", 32, 8, false, false, true},
               {"wider than the encoding", 4100, 16, false, false, true},
               {"source fails to open", 32, 16, true, false, false},
               {"no frame", 32, 16, false, true, false}};
  for (const auto& c : cases) {
    Rig rig(c.width, 8, c.bits);
    rig.screen->failOpen = c.failOpen;
    rig.screen->failFrame = c.failFrame;
    EXPECT_FALSE(rig.Init()) << c.name;
    EXPECT_EQ(rig.owner.messageCaption, c.message ? "Quillcast Error" : "") << c.name;
    EXPECT_EQ(rig.owner.messageText, c.message ? kUnsupportedScreenText : "") << c.name;
  }
}

// The sleeps between steps. Without damage tracking: a quarter of the
// update period, as it changes. With it: until something is drawn, at most
// a period (the cursor is queried once a period); a quarter drawn again
// within a tick of its last send waits for that tick, and then goes out.
TEST(CapturePacing, TheLoopSleepsATickOrUntilDrawnAndAQuarterDrawnTooSoonWaitsItsTurn) {
  Rig plain(32, 8, 16);
  plain.owner.updatePeriod = 1000;
  plain.Start();
  plain.Steps(4);
  g_now.Advance(RepairPlanner::kHealDelayMs);  // the heal of the full update's last datagram
  plain.Steps();
  plain.Steps();
  Pause pause = plain.LastPause();
  EXPECT_EQ(std::make_pair(pause.ms, pause.untilDrawn), std::make_pair(250, false));
  plain.owner.updatePeriod = 100;
  plain.capture->UpdatePeriodChanged();
  plain.Steps();
  EXPECT_EQ(plain.LastPause().ms, 25);
  plain.capture->SetPolling(false);
  EXPECT_FALSE(plain.capture->IsPolling());

  Rig tracked(64, 40, 32, true);
  tracked.Start();
  tracked.Steps(4);
  g_now.Advance(RepairPlanner::kHealDelayMs);
  tracked.Steps();
  tracked.Take();
  tracked.Steps();
  pause = tracked.LastPause();
  EXPECT_EQ(std::make_pair(pause.ms, pause.untilDrawn), std::make_pair(10, true));
  tracked.screen->Fill(0, 2, 64, 4, 0x00FF00);
  tracked.Steps();
  EXPECT_EQ(Count(tracked.Take(), kUpdate), 1);
  tracked.screen->Fill(0, 2, 64, 4, 0x0000FF);
  tracked.Steps();
  pause = tracked.LastPause();
  EXPECT_EQ(std::make_pair(pause.ms, pause.untilDrawn), std::make_pair(2, false));
  EXPECT_TRUE(tracked.Take().empty());
  g_now.Advance(2);
  tracked.Steps();
  EXPECT_EQ(Count(tracked.Take(), kUpdate), 1);
}

TEST(CaptureOddWidths, FramesGoOutPaddedToAMultipleOfEightAndRebuildEveryPixel) {
  // Unpadded, 30 pixels at 32 bits would make substrings of 15 bytes that
  // start inside pixels (Raw color would then drop the wrong bits), 36 at
  // 16 bits substrings of 9 bytes, and 33 at 16 bits rows of 66 bytes with
  // 2 bytes in no substring. Noise makes Raw color entries at 32 bits; one
  // colour everywhere invites Copy entries that read across rows.
  const struct {
    int w, bits;
    bool uniform, noise;
  } cases[] = {{30, 32, false, false}, {30, 32, false, true}, {36, 16, false, false},
               {33, 16, false, false}, {33, 16, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.bits << (c.uniform ? " uniform" : "")
                                    << (c.noise ? " noise" : ""));
    Rig rig(c.w, 16, c.bits);
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < c.w; ++x)
        rig.screen->SetPixel(x, y, c.uniform ? 0x1F1F
                                   : c.noise ? (x * 2654435761u) ^ (y * 40503u)
                                             : ((x / 5 + y / 3) % 3) * 0x00404040u);
    rig.Start();
    rig.Steps(4);
    auto sent = rig.Take();
    InitMessage init;
    ASSERT_GT(Count(sent, kInit), 0);
    for (const auto& d : sent) {
      if (d.type != kInit) continue;
      ASSERT_TRUE(ParseInit(d.bytes.data(), d.bytes.size(), init));
    }
    EXPECT_EQ(init.width, (c.w + 7) / 8 * 8);
    Picture picture(*rig.screen);
    picture.Apply(sent);
    EXPECT_TRUE(picture.Matches());
    for (int round = 1; round < 6; ++round) {
      rig.screen->Fill(round, round * 2, c.w - round, round * 2 + 3, round * 0x00101010u);
      rig.Steps(4);
      EXPECT_EQ(picture.Apply(rig.Take()), std::make_pair(round * 2, round * 2 + 2)) << round;
      EXPECT_TRUE(picture.Matches()) << round;
    }
    // Nothing while idle: the added columns never differ.
    rig.Steps(8);
    EXPECT_TRUE(rig.Take().empty());
  }
}

TEST(CaptureCursor, ShapeOnNewHandlePositionOnMoveInsideTheScreenAlwaysAtFullUpdates) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(4);
  rig.Take();
  rig.Steps(4);  // nothing changed
  EXPECT_TRUE(rig.Take().empty());
  rig.cursor->state.x = 20;  // a move
  rig.Steps();
  auto moved = rig.Take();
  ASSERT_EQ(TypesOf(moved), Types{kCursorPosition});
  CursorPosition pos;
  ASSERT_TRUE(ParseCursorPosition(moved[0].bytes.data(), moved[0].bytes.size(), pos));
  EXPECT_EQ(std::make_pair(pos.x, pos.y), std::make_pair(int16_t(20), int16_t(10)));
  rig.cursor->SetImage(2, 32, 32, 4, 4, 0xFF00FF00);  // a new shape, no move
  rig.Steps();
  EXPECT_EQ(TypesOf(rig.Take()), Types{kCursorShape});
  // Outside the screen, hidden, or a failed query: nothing.
  for (auto [x, y] : {std::pair{64, 10}, {10, 40}, {-1, 10}, {10, -5}}) {
    rig.cursor->state.x = x;
    rig.cursor->state.y = y;
    rig.cursor->SetImage(rig.cursor->state.handle + 1, 16, 16, 0, 0, 0xFFFFFFFF);
    rig.Steps();
    EXPECT_TRUE(rig.Take().empty()) << x << "," << y;
  }
  rig.cursor->state = {rig.cursor->state.handle, false, 5, 5};
  rig.Steps();
  rig.cursor->failQuery = true;
  rig.cursor->state.showing = true;
  rig.Steps();
  EXPECT_TRUE(rig.Take().empty());
  // Back: shape and position both follow; (63, 39) is inside.
  rig.cursor->failQuery = false;
  rig.Steps();
  EXPECT_EQ(TypesOf(rig.Take()), (Types{kCursorShape, kCursorPosition}));
  rig.cursor->state.x = 63;
  rig.cursor->state.y = 39;
  rig.Steps();
  EXPECT_EQ(TypesOf(rig.Take()), Types{kCursorPosition});
  // A full update ends with shape and position even outside the screen.
  rig.cursor->state.x = 500;
  rig.Refresh();
  rig.Steps(4);
  auto sent = rig.Take();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[sent.size() - 2].type, kCursorShape);
  CursorPosition last;
  ASSERT_TRUE(ParseCursorPosition(sent.back().bytes.data(), sent.back().bytes.size(), last));
  EXPECT_EQ(last.x, 500);
}

TEST(CaptureCursor, UnreadableImageIsTriedAgainHiddenOrMissingCursorSendsNothing) {
  Rig rig(64, 40, 16);
  rig.cursor->failRead = true;
  rig.Start();
  rig.Steps(4);
  auto sent = rig.Take();
  EXPECT_EQ(Count(sent, kCursorShape), 0);
  EXPECT_EQ(Count(sent, kCursorPosition), 1);  // sent whether or not the shape was
  const int reads = rig.cursor->reads;
  rig.Steps();
  EXPECT_EQ(rig.cursor->reads, reads + 1);
  rig.cursor->failRead = false;
  rig.Steps();
  EXPECT_EQ(TypesOf(rig.Take()), Types{kCursorShape});
  rig.Steps();
  EXPECT_TRUE(rig.Take().empty());
  // No cursor datagram when it is hidden or there is no cursor source.
  for (bool withSource : {true, false}) {
    Rig quiet(64, 40, 16, false, withSource);
    if (withSource) quiet.cursor->state.showing = false;
    quiet.Start();
    quiet.Steps(8);
    auto none = quiet.Take();
    EXPECT_EQ(Count(none, kCursorShape) + Count(none, kCursorPosition), 0) << withSource;
    EXPECT_EQ(Count(none, kInit), 1) << withSource;
  }
}

TEST(CaptureCursor, AShapeTooLargeForOneDatagramIsSentAsThirtyTwoByThirtyTwo) {
  Rig rig(64, 40, 16);
  rig.cursor->SetImage(9, 64, 64, 10, 20, 0xFF123456);
  rig.transport.tooLargeAbove = 10000;  // as if 64 x 64 did not compress
  rig.Start();
  rig.Steps(4);
  auto sent = rig.Take();
  ASSERT_EQ(Count(sent, kCursorShape), 1);
  const Datagram& d = sent[sent.size() - 2];
  CursorShapeHeader h;
  ASSERT_TRUE(ParseCursorShapeHeader(d.bytes.data(), d.bytes.size(), h));
  EXPECT_EQ(std::vector<int>({h.colorWidth, h.colorHeight, h.hotX, h.hotY}),
            std::vector<int>({32, 32, 5, 10}));
}

// With damage tracking only drawn quarters are grabbed between full
// updates, all in one step, and what goes out is what grabbing every
// quarter in turn would send.
TEST(CaptureDamage, OnlyDrawnQuartersAreGrabbedAndTheSameDatagramsGoOut) {
  Rig tracked(64, 40, 32, true), plain(64, 40, 32, false);
  for (Rig* rig : {&tracked, &plain}) {
    rig->Paint(4);
    rig->Start();
    rig->Steps(4);
    rig->Take();
  }
  tracked.Steps(8);  // idle: no grab, nothing sent
  EXPECT_EQ(tracked.screen->grabs.size(), 4u);
  EXPECT_TRUE(tracked.Take().empty());
  for (int round = 0; round < 6; ++round) {
    g_now.Advance(10);  // past the tick in which each quarter was last sent
    tracked.screen->grabs.clear();
    Grabs drawn;  // the quarters that rows 6 x round .. 6 x round + 3 touch
    for (int top = 0; top < 40; top += 10) {
      if (top < round * 6 + 4 && round * 6 < top + 10) drawn.emplace_back(top, top + 10);
    }
    for (Rig* rig : {&tracked, &plain}) {
      rig->screen->Fill(round * 5, round * 6, round * 5 + 9, round * 6 + 4, 0x1000u * round);
      rig->Steps(4);
    }
    EXPECT_EQ(tracked.screen->grabs, drawn) << round;
    auto a = tracked.Take(), b = plain.Take();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].bytes, b[i].bytes) << round;
  }
  // Full-screen steps grab every quarter.
  tracked.screen->grabs.clear();
  tracked.Refresh();
  tracked.Steps(4);
  EXPECT_EQ(tracked.screen->grabs.size(), 4u);
}

}  // namespace
}  // namespace qc
