// qcCapture driven step by step with in-memory sources and a recording
// transport: full-screen updates, quarters, requests, keep-alives, cursor
// steps, display changes, pause, damage-driven grabbing.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "receiver/viewer/str_decoder.h"
#include "sender/capture/capture.h"
#include "tests/support/fake_sources.h"

namespace qc {
namespace {

using test::FakeCaptureOwner;
using test::FakeCursorSource;
using test::FakeScreenSource;
using test::RecordingTransport;
using Datagram = RecordingTransport::Datagram;

constexpr uint16_t kInit = 0xFFFF;
constexpr uint16_t kDisconnection = 0xFFFE;
constexpr uint16_t kFullUpdate = 0xFFFD;
constexpr uint16_t kUpdate = 0xFFFC;
constexpr uint16_t kCursorPosition = 0xFFFA;
constexpr uint16_t kCursorShape = 0xFFF9;
constexpr uint16_t kKeepAlive = 0xFFF7;

// One engine with its fakes.
struct Rig {
  Rig(int width, int height, int bitsPerPixel, bool damage = false, bool withCursor = true) {
    auto s = std::make_unique<FakeScreenSource>(width, height, bitsPerPixel, damage);
    screen = s.get();
    std::unique_ptr<FakeCursorSource> c;
    if (withCursor) {
      c = std::make_unique<FakeCursorSource>();
      cursor = c.get();
    }
    capture = std::make_unique<qcCapture>(std::move(s), std::move(c));
  }

  bool Init() { return capture->Init(&owner); }

  // Init, polling on.
  void Start() {
    ASSERT_TRUE(Init());
    capture->SetPolling(true);
  }

  // One tick of the poll timer, waited for.
  void Step() {
    uint64_t n = capture->StepsDone();
    capture->OnPollTimer();
    ASSERT_TRUE(capture->WaitForSteps(n + 1, 10000));
  }
  void Steps(int n) {
    for (int i = 0; i < n; ++i) Step();
  }

  // A pattern that makes every row differ from its neighbours.
  void Paint(uint32_t seed) {
    for (int y = 0; y < height(); ++y)
      for (int x = 0; x < width(); ++x)
        screen->SetPixel(x, y, (x * 2654435761u) ^ (y * 40503u) ^ seed);
  }
  int width() const { return static_cast<int>(screen->RowBytes() / screen->BytesPerPixel()); }
  int height() const { return static_cast<int>(screen->Screen().size() / screen->RowBytes()); }

  FakeScreenSource* screen = nullptr;
  FakeCursorSource* cursor = nullptr;
  RecordingTransport transport;
  FakeCaptureOwner owner{&transport};
  std::unique_ptr<qcCapture> capture;
};

std::vector<uint16_t> Types(const std::vector<Datagram>& sent) {
  std::vector<uint16_t> types;
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
  Picture(int w, int h, int b) : width(w), height(h), bytes(b), pixels(size_t(w) * h * b, 0) {
    EXPECT_TRUE(decoder.Init(pixels.data(), b, w, h));
  }
  // Applies every update payload; returns the lowest and highest row
  // touched (-1 when none).
  std::pair<int, int> Apply(const std::vector<Datagram>& sent) {
    int low = -1, high = -1;
    for (const auto& d : sent) {
      if (d.type != kFullUpdate && d.type != kUpdate) continue;
      int first = -1, last = -1;
      EXPECT_TRUE(decoder.Decode(d.bytes.data(), d.bytes.size(), first, last));
      if (first >= 0) {
        low = low < 0 ? first : std::min(low, first);
        high = std::max(high, last);
      }
    }
    return {low, high};
  }
  // Whether every byte that every kind of entry carries (the first P
  // pixels of each substring) equals the screen's (32-bit frames: byte 3 of
  // a pixel is not compared).
  bool Matches(const FakeScreenSource& screen) const {
    size_t row = size_t(width) * bytes;
    size_t substring = row / 8;
    size_t carried = size_t(width / 8) * bytes;
    for (int y = 0; y < height; ++y) {
      for (size_t i = 0; i < 8 * substring; ++i) {
        if (i % substring >= carried || (bytes == 4 && i % 4 == 3)) continue;
        if (pixels[y * row + i] != screen.Screen()[y * row + i]) return false;
      }
    }
    return true;
  }
  int width, height, bytes;
  std::vector<uint8_t> pixels;
  StrDecoder decoder;
};

TEST(CaptureQuarters, BoundsForHeightsNotAMultipleOfFour) {
  EXPECT_EQ(qcCapture::QuarterBound(1050, 0), 0);
  EXPECT_EQ(qcCapture::QuarterBound(1050, 1), 262);
  EXPECT_EQ(qcCapture::QuarterBound(1050, 2), 525);
  EXPECT_EQ(qcCapture::QuarterBound(1050, 3), 786);
  EXPECT_EQ(qcCapture::QuarterBound(1050, 4), 1050);
  EXPECT_EQ(qcCapture::QuarterBound(7, 1), 1);
  EXPECT_EQ(qcCapture::QuarterBound(7, 3), 3);
}

TEST(CaptureQuarters, EngineGrabsTheQuartersInOrder) {
  Rig rig(16, 1050, 16);
  rig.Start();
  rig.Steps(8);  // four full-screen steps, four polling steps
  std::vector<std::pair<int, int>> expected = {{0, 262}, {262, 525}, {525, 786}, {786, 1050}};
  expected.insert(expected.end(), expected.begin(), expected.end());
  EXPECT_EQ(rig.screen->grabs, expected);
}

TEST(CaptureFullUpdate, FirstStepsAfterConstructionAreAFullScreenUpdate) {
  for (int bits : {32, 16}) {
    SCOPED_TRACE(bits);
    Rig rig(64, 40, bits);
    rig.Paint(7);
    rig.Start();
    // Each quarter is its own step; only the first sends the init message.
    Picture picture(64, 40, bits / 8);
    std::vector<Datagram> sent;
    for (int q = 0; q < 4; ++q) {
      rig.Step();
      auto step = rig.transport.Take();
      EXPECT_EQ(picture.Apply(step), std::make_pair(10 * q, 10 * q + 9));
      EXPECT_EQ(Count(step, kInit), q == 0 ? 1 : 0);
      sent.insert(sent.end(), step.begin(), step.end());
    }
    EXPECT_TRUE(picture.Matches(*rig.screen));  // exact at 16 bits
    // Init, then the quarters, then shape and position.
    ASSERT_GE(sent.size(), 7u);
    InitMessage init;
    ASSERT_TRUE(ParseInit(sent.front().bytes.data(), sent.front().bytes.size(), init));
    EXPECT_EQ(init.screenId, 0x1234);
    EXPECT_EQ(init.width, 64);
    EXPECT_EQ(init.height, 40);
    EXPECT_EQ(init.bitsPerPixel, bits);
    if (bits == 32) {
      EXPECT_EQ(init.redMask, 0xFF0000u);
      EXPECT_EQ(init.greenMask, 0x00FF00u);
      EXPECT_EQ(init.blueMask, 0x0000FFu);
    }
    EXPECT_EQ(rig.transport.resets, 1);
    uint32_t expectedSequence = 0;
    size_t i = 1;
    for (; i < sent.size() && sent[i].type == kFullUpdate; ++i) {
      EXPECT_EQ(sent[i].sequence, expectedSequence++);
    }
    EXPECT_GE(expectedSequence, 4u);  // one payload per quarter at least
    ASSERT_EQ(sent.size(), i + 2);
    EXPECT_EQ(sent[i].type, kCursorShape);
    EXPECT_EQ(sent[i].sequence, expectedSequence);  // the numbering continues
    EXPECT_EQ(sent[i + 1].type, kCursorPosition);
    CursorPosition pos;
    ASSERT_TRUE(ParseCursorPosition(sent[i + 1].bytes.data(), sent[i + 1].bytes.size(), pos));
    EXPECT_EQ(pos.screenId, 0x1234);
    EXPECT_EQ(pos.x, 10);
    EXPECT_EQ(pos.y, 10);
  }
}

TEST(CaptureFullUpdate, StopAndRestartSendsDisconnectionThenAFullUpdateFromQuarterZero) {
  // Stopped after the full update, or in its middle (quarters 0 and 1).
  for (int steps : {6, 2}) {
    SCOPED_TRACE(steps);
    Rig rig(64, 40, 16);
    rig.Paint(1);
    rig.Start();
    rig.Steps(steps);
    rig.transport.Take();
    rig.capture->SetPolling(false);
    rig.capture->SendDisconnection();
    auto stop = rig.transport.Take();
    ASSERT_EQ(Types(stop), std::vector<uint16_t>{kDisconnection});
    EXPECT_EQ(ReadU16(stop[0].bytes.data() + 2), 0x1234);

    rig.screen->grabs.clear();
    rig.capture->SetPolling(true);
    rig.Step();
    auto restart = rig.transport.Take();
    ASSERT_GE(restart.size(), 2u);
    EXPECT_EQ(restart[0].type, kInit);
    EXPECT_EQ(rig.transport.resets, 2);
    EXPECT_EQ(restart[1].type, kFullUpdate);
    EXPECT_EQ(restart[1].sequence, 0u);
    EXPECT_EQ(rig.screen->grabs, (std::vector<std::pair<int, int>>{{0, 10}}));
  }
}

TEST(CaptureFullUpdate, ScreenIdentifierIsTakenAtEachFullUpdate) {
  Rig rig(32, 8, 16);
  rig.Start();
  rig.Steps(4);
  rig.transport.SetScreenId(0x4321);
  rig.capture->RequestRefresh();
  rig.capture->OnFullUpdateTimer();
  rig.Steps(4);
  auto sent = rig.transport.Take();
  int inits = 0;
  for (const auto& d : sent) {
    if (d.type == kInit && ReadU16(d.bytes.data() + 2) == 0x4321) ++inits;
    if (d.type == kCursorPosition) {
      EXPECT_EQ(ReadU16(d.bytes.data() + 2), inits ? 0x4321 : 0x1234);
    }
  }
  EXPECT_EQ(inits, 1);
}

TEST(CaptureRequests, ARequestDuringAFullUpdateCausesNoSecondOne) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(2);
  rig.capture->RequestRefresh();
  rig.capture->RequestRefresh();
  rig.Steps(2);
  rig.transport.Take();
  rig.Steps(8);
  EXPECT_EQ(Count(rig.transport.Take(), kInit), 0);
  // Even when the 15-second tick comes: the request was used up.
  rig.capture->OnFullUpdateTimer();
  rig.Steps(4);
  EXPECT_EQ(Count(rig.transport.Take(), kInit), 0);
}

TEST(CaptureRequests, RequestsAreServedOnlyWhenAFullUpdateIsDue) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(4);
  rig.transport.Take();
  rig.capture->RequestRefresh();
  rig.Steps(8);
  EXPECT_EQ(Count(rig.transport.Take(), kInit), 0);
  rig.capture->OnFullUpdateTimer();
  rig.Step();
  auto sent = rig.transport.Take();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].type, kInit);
  rig.Steps(3);
  rig.transport.Take();
  // Due without a request: nothing.
  rig.capture->OnFullUpdateTimer();
  rig.Steps(8);
  EXPECT_EQ(Count(rig.transport.Take(), kInit), 0);
}

TEST(CapturePolling, ChangedRowsGoOutAsUpdatesOfTheirQuarter) {
  Rig rig(64, 40, 16);
  rig.Paint(5);
  rig.Start();
  rig.Steps(4);
  Picture picture(64, 40, 2);
  picture.Apply(rig.transport.Take());
  rig.screen->Fill(3, 22, 40, 25, 0xF800);  // quarter 2
  rig.Steps(4);
  auto sent = rig.transport.Take();
  EXPECT_EQ(Count(sent, kInit), 0);
  EXPECT_EQ(Count(sent, kFullUpdate), 0);
  EXPECT_EQ(Count(sent, kUpdate), 1);
  EXPECT_EQ(picture.Apply(sent), std::make_pair(22, 24));
  EXPECT_TRUE(picture.Matches(*rig.screen));
  // Sequence numbers continue after the full update.
  for (const auto& d : sent) {
    if (d.type == kUpdate) {
      EXPECT_GT(d.sequence, 3u);
    }
  }
}

TEST(CapturePolling, PollTimerIntervalIsAQuarterOfTheUpdatePeriod) {
  Rig rig(32, 8, 16);
  rig.owner.updatePeriod = 1000;
  ASSERT_TRUE(rig.Init());
  EXPECT_EQ(rig.owner.pollTimerInterval, 1000);  // the poll timer runs from Init
  rig.capture->SetPolling(true);
  EXPECT_EQ(rig.owner.pollTimerInterval, 250);
  EXPECT_TRUE(rig.capture->IsPolling());
  rig.owner.updatePeriod = 100;
  int stops = rig.owner.pollTimerStops;
  rig.capture->RestartPollTimer();
  EXPECT_EQ(rig.owner.pollTimerStops, stops + 1);
  EXPECT_EQ(rig.owner.pollTimerInterval, 25);
  rig.capture->SetPolling(false);
  EXPECT_FALSE(rig.capture->IsPolling());
  EXPECT_EQ(rig.owner.pollTimerInterval, 0);
}

TEST(CaptureKeepAlive, OnlyOnATickWithNothingElseSent) {
  Rig rig(32, 8, 16);
  rig.Start();
  rig.Steps(4);
  rig.capture->OnKeepAliveTimer();  // the full update went out since
  EXPECT_EQ(Count(rig.transport.Take(), kKeepAlive), 0);
  rig.capture->OnKeepAliveTimer();
  auto sent = rig.transport.Take();
  ASSERT_EQ(Types(sent), std::vector<uint16_t>{kKeepAlive});
  EXPECT_EQ(sent[0].bytes.size(), kKeepAliveSize);
  EXPECT_EQ(ReadU16(sent[0].bytes.data() + 2), 0x1234);
  // The keep-alive itself does not count as something else sent.
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kKeepAlive});
  // A datagram between two ticks suppresses one keep-alive.
  rig.screen->Fill(0, 0, 32, 2, 0x1234);
  rig.Step();
  rig.transport.Take();
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(Count(rig.transport.Take(), kKeepAlive), 0);
}

TEST(CaptureKeepAlive, OnlyWhileTransmittingOrPaused) {
  Rig rig(32, 8, 16);
  ASSERT_TRUE(rig.Init());
  rig.capture->OnKeepAliveTimer();
  rig.capture->OnKeepAliveTimer();
  EXPECT_TRUE(rig.transport.Take().empty());  // stopped
  rig.capture->SetPaused(true);
  EXPECT_TRUE(rig.capture->IsPaused());
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kKeepAlive});
}

TEST(CapturePause, PausedSendsNoStepsButKeepAlives) {
  Rig rig(32, 8, 16);
  rig.Start();
  rig.Steps(4);
  rig.capture->SetPolling(false);
  rig.capture->SetPaused(true);
  uint64_t steps = rig.capture->StepsDone();
  rig.screen->Fill(0, 0, 32, 8, 0xFFFF);
  rig.capture->OnPollTimer();
  rig.capture->OnPollTimer();
  EXPECT_EQ(rig.capture->StepsDone(), steps);
  rig.transport.Take();
  rig.capture->OnKeepAliveTimer();  // clears what the full update left
  rig.capture->OnKeepAliveTimer();
  rig.capture->OnKeepAliveTimer();
  EXPECT_EQ(Types(rig.transport.Take()), (std::vector<uint16_t>{kKeepAlive, kKeepAlive}));
  // Resuming goes on where polling stopped, without a full update.
  rig.capture->SetPaused(false);
  rig.capture->SetPolling(true);
  rig.Steps(4);
  auto sent = rig.transport.Take();
  EXPECT_EQ(Count(sent, kInit), 0);
  EXPECT_EQ(Count(sent, kUpdate), 4);
}

TEST(CaptureDisplayChange, EndsThroughFatalErrorAtTheNextStepEvenAfterAPause) {
  for (bool paused : {false, true}) {
    SCOPED_TRACE(paused ? "paused" : "running");
    Rig rig(32, 8, 16);
    rig.Start();
    rig.Steps(4);
    if (paused) {
      rig.capture->SetPolling(false);
      rig.capture->SetPaused(true);
    }
    rig.capture->OnDisplayChange();
    if (paused) {  // acted on after resuming
      EXPECT_EQ(rig.owner.fatalErrors.load(), 0);
      rig.capture->SetPaused(false);
      rig.capture->SetPolling(true);
    }
    uint64_t n = rig.capture->StepsDone();
    rig.capture->OnPollTimer();
    ASSERT_TRUE(rig.capture->WaitForSteps(n + 1, 10000));
    EXPECT_TRUE(rig.capture->WorkThreadFinished());
    EXPECT_EQ(rig.owner.fatalErrors.load(), 1);
    EXPECT_TRUE(rig.transport.IsClosed());
  }
}

TEST(CaptureDisplayChange, HandlerIgnoresChangesWhileStoppedButTheSourceDoesNot) {
  Rig rig(32, 8, 16);
  rig.Start();
  rig.Steps(4);
  rig.capture->SetPolling(false);
  rig.capture->SendDisconnection();
  rig.capture->OnDisplayChange();  // stopped: not recorded
  rig.capture->SetPolling(true);
  rig.Step();
  EXPECT_FALSE(rig.capture->WorkThreadFinished());
  EXPECT_EQ(rig.owner.fatalErrors.load(), 0);
  // A mode change the screen source saw, whenever it happened, ends the
  // engine before it sends frames of the old geometry.
  rig.screen->displayChanged = true;
  rig.capture->OnPollTimer();
  ASSERT_TRUE(rig.capture->WaitForSteps(UINT64_MAX, 10000));
  EXPECT_EQ(rig.owner.fatalErrors.load(), 1);
}

TEST(CaptureLifecycle, DestroySendsTheDisconnectionWithOrWithoutSteps) {
  for (int steps : {0, 4}) {
    Rig rig(32, 8, 16);
    rig.Start();
    rig.Steps(steps);
    rig.transport.Take();
    rig.capture.reset();  // also ends a thread that never ran a step
    EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kDisconnection}) << steps;
  }
}

TEST(CaptureSetUp, UnusableScreensAndFailingSourcesFailInit) {
  const std::string unsupported =
      "Quillcast does not support current screen parameters.\n"
      "Please switch to a display mode with 16, 24 or 32 bit colors.";
  struct Case {
    const char* name;
    int width, bits;
    bool failOpen, failFrame;
    bool message;  // the error box is shown
  } cases[] = {{"8 bits", 32, 8, false, false, true},
               {"wider than the encoding", 4100, 16, false, false, true},
               {"source fails to open", 32, 16, true, false, false},
               {"no frame", 32, 16, false, true, false}};
  for (const Case& c : cases) {
    Rig rig(c.width, 8, c.bits);
    rig.screen->failOpen = c.failOpen;
    rig.screen->failFrame = c.failFrame;
    EXPECT_FALSE(rig.Init()) << c.name;
    EXPECT_EQ(rig.owner.messageCaption, c.message ? "Quillcast Error" : "") << c.name;
    EXPECT_EQ(rig.owner.messageText, c.message ? unsupported : "") << c.name;
  }
}

TEST(CaptureSetUp, TwentyFourBitScreenIsSentAsThirtyTwo) {
  Rig rig(32, 8, 24);
  rig.Start();
  rig.Step();
  auto sent = rig.transport.Take();
  InitMessage init;
  ASSERT_TRUE(ParseInit(sent.at(0).bytes.data(), sent.at(0).bytes.size(), init));
  EXPECT_EQ(init.bitsPerPixel, 32);
}

TEST(CaptureSetUp, WidthsNotAMultipleOfEightRebuildTheCarriedPixels) {
  // 30 pixels at 32 bits: substrings of 15 bytes hold 3 pixels (12 bytes);
  // 36 pixels at 16 bits: substrings of 9 bytes hold 4 pixels (8 bytes);
  // 33 pixels at 16 bits: rows of 66 bytes, kept unpadded, 2 bytes left
  // over. One colour everywhere invites Copy entries that read the bytes
  // before substring 0, which include the previous row's uncarried bytes.
  const struct {
    int w, bits;
    bool uniform;
  } cases[] = {{30, 32, false}, {36, 16, false}, {33, 16, false}, {33, 16, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.bits << (c.uniform ? " uniform" : ""));
    Rig rig(c.w, 16, c.bits);
    // Few colours per substring (palette kinds) and repeats (Copy entries).
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < c.w; ++x)
        rig.screen->SetPixel(x, y, c.uniform ? 0x1F1F : ((x / 5 + y / 3) % 3) * 0x00404040u);
    rig.Start();
    rig.Steps(4);
    Picture picture(c.w, 16, c.bits / 8);
    picture.Apply(rig.transport.Take());
    EXPECT_TRUE(picture.Matches(*rig.screen));
    for (int round = 1; round < 6; ++round) {
      rig.screen->Fill(round, round * 2, c.w - round, round * 2 + 3, round * 0x00101010u);
      rig.Steps(4);
      EXPECT_EQ(picture.Apply(rig.transport.Take()), std::make_pair(round * 2, round * 2 + 2))
          << "round " << round;
      EXPECT_TRUE(picture.Matches(*rig.screen)) << "round " << round;
    }
    // An idle screen sends nothing, although the uncarried bytes never
    // reach the back buffer.
    rig.Steps(8);
    EXPECT_TRUE(rig.transport.Take().empty());
  }
}

// Cursor steps.

TEST(CaptureCursor, ShapeOnlyOnANewHandlePositionOnlyOnAMove) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(4);
  rig.transport.Take();
  rig.Steps(4);  // nothing changed
  EXPECT_TRUE(rig.transport.Take().empty());

  rig.cursor->state.x = 20;  // a move
  rig.Step();
  auto moved = rig.transport.Take();
  ASSERT_EQ(Types(moved), std::vector<uint16_t>{kCursorPosition});
  CursorPosition pos;
  ASSERT_TRUE(ParseCursorPosition(moved[0].bytes.data(), moved[0].bytes.size(), pos));
  EXPECT_EQ(pos.x, 20);
  EXPECT_EQ(pos.y, 10);

  rig.cursor->SetImage(2, 32, 32, 4, 4, 0xFF00FF00);  // a new shape, no move
  rig.Step();
  EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kCursorShape});

  rig.cursor->SetImage(3, 32, 32, 4, 4, 0xFF0000FF);
  rig.cursor->state.y = 30;
  rig.Step();
  EXPECT_EQ(Types(rig.transport.Take()), (std::vector<uint16_t>{kCursorShape, kCursorPosition}));
}

TEST(CaptureCursor, NothingOutsideTheScreenOrWhileHidden) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(4);
  rig.transport.Take();
  for (auto [x, y] : {std::pair{64, 10}, {10, 40}, {-1, 10}, {10, -5}, {100, 100}}) {
    rig.cursor->state.x = x;
    rig.cursor->state.y = y;
    rig.cursor->SetImage(rig.cursor->state.handle + 1, 16, 16, 0, 0, 0xFFFFFFFF);
    rig.Step();
    EXPECT_TRUE(rig.transport.Take().empty()) << x << "," << y;
  }
  rig.cursor->state = {rig.cursor->state.handle, false, 5, 5};
  rig.Step();
  EXPECT_TRUE(rig.transport.Take().empty());
  rig.cursor->failQuery = true;
  rig.cursor->state.showing = true;
  rig.Step();
  EXPECT_TRUE(rig.transport.Take().empty());
  // Back inside: the shape and the position both follow.
  rig.cursor->failQuery = false;
  rig.Step();
  EXPECT_EQ(Types(rig.transport.Take()), (std::vector<uint16_t>{kCursorShape, kCursorPosition}));
  // The edges: (0, 0) and (63, 39) are inside.
  rig.cursor->state.x = 63;
  rig.cursor->state.y = 39;
  rig.Step();
  EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kCursorPosition});
}

TEST(CaptureCursor, EveryFullUpdateEndsWithShapeAndPosition) {
  Rig rig(64, 40, 16);
  rig.Start();
  rig.Steps(4);
  rig.transport.Take();
  rig.capture->RequestRefresh();
  rig.capture->OnFullUpdateTimer();
  rig.Steps(4);
  auto sent = rig.transport.Take();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[sent.size() - 2].type, kCursorShape);
  EXPECT_EQ(sent[sent.size() - 1].type, kCursorPosition);
  // Also when the cursor lies outside the screen rectangle.
  rig.cursor->state.x = 500;
  rig.capture->RequestRefresh();
  rig.capture->OnFullUpdateTimer();
  rig.Steps(4);
  sent = rig.transport.Take();
  ASSERT_EQ(sent.back().type, kCursorPosition);
  CursorPosition pos;
  ASSERT_TRUE(ParseCursorPosition(sent.back().bytes.data(), sent.back().bytes.size(), pos));
  EXPECT_EQ(pos.x, 500);
}


TEST(CaptureCursor, AnImageThatCannotBeReadIsTriedAgainAtTheNextPoll) {
  Rig rig(64, 40, 16);
  rig.cursor->failRead = true;
  rig.Start();
  rig.Steps(4);
  auto sent = rig.transport.Take();
  EXPECT_EQ(Count(sent, kCursorShape), 0);
  EXPECT_EQ(Count(sent, kCursorPosition), 1);  // sent whether or not the shape was
  int reads = rig.cursor->reads;
  rig.Step();
  EXPECT_EQ(rig.cursor->reads, reads + 1);
  rig.cursor->failRead = false;
  rig.Step();
  EXPECT_EQ(Types(rig.transport.Take()), std::vector<uint16_t>{kCursorShape});
  rig.Step();
  EXPECT_TRUE(rig.transport.Take().empty());
}

TEST(CaptureCursor, NoCursorDatagramWhenHiddenOrWithoutACursorSource) {
  for (bool withSource : {true, false}) {
    Rig rig(64, 40, 16, false, withSource);
    if (withSource) rig.cursor->state.showing = false;
    rig.Start();
    rig.Steps(8);
    auto sent = rig.transport.Take();
    EXPECT_EQ(Count(sent, kCursorShape), 0) << withSource;
    EXPECT_EQ(Count(sent, kCursorPosition), 0) << withSource;
    EXPECT_EQ(Count(sent, kInit), 1) << withSource;
  }
}

TEST(CaptureCursor, AShapeTooLargeForOneDatagramIsSentAsThirtyTwoByThirtyTwo) {
  Rig rig(64, 40, 16);
  rig.cursor->SetImage(9, 64, 64, 10, 20, 0xFF123456);
  rig.transport.tooLargeAbove = 10000;  // as if 64 x 64 did not compress
  rig.Start();
  rig.Steps(4);
  auto sent = rig.transport.Take();
  ASSERT_EQ(Count(sent, kCursorShape), 1);
  for (const auto& d : sent) {
    if (d.type != kCursorShape) continue;
    CursorShapeHeader h;
    ASSERT_TRUE(ParseCursorShapeHeader(d.bytes.data(), d.bytes.size(), h));
    EXPECT_EQ(h.colorWidth, 32);
    EXPECT_EQ(h.colorHeight, 32);
    EXPECT_EQ(h.hotX, 5);
    EXPECT_EQ(h.hotY, 10);
  }
}

// Damage-driven grabbing.

TEST(CaptureDamage, OnlyDrawnQuartersAreGrabbedBetweenFullUpdates) {
  Rig rig(64, 40, 32, true);
  rig.Paint(2);
  rig.Start();
  rig.Steps(4);
  EXPECT_EQ(rig.screen->grabs.size(), 4u);
  Picture picture(64, 40, 4);
  picture.Apply(rig.transport.Take());
  // Idle: no grab, nothing sent.
  rig.Steps(8);
  EXPECT_EQ(rig.screen->grabs.size(), 4u);
  EXPECT_TRUE(rig.transport.Take().empty());
  // A drawing in quarter 3 is grabbed and sent alone.
  rig.screen->grabs.clear();
  rig.screen->Fill(0, 31, 64, 33, 0x00ABCDEF);
  rig.Steps(4);
  EXPECT_EQ(rig.screen->grabs, (std::vector<std::pair<int, int>>{{30, 40}}));
  EXPECT_EQ(picture.Apply(rig.transport.Take()), std::make_pair(31, 32));
  EXPECT_TRUE(picture.Matches(*rig.screen));
  // Full-screen steps grab whatever the damage says.
  rig.capture->RequestRefresh();
  rig.capture->OnFullUpdateTimer();
  rig.Steps(4);
  EXPECT_EQ(rig.screen->grabs.size(), 5u);
}

TEST(CaptureDamage, SendsWhatGrabbingEveryQuarterWouldSend) {
  // The same drawing on two engines, one without damage tracking.
  Rig tracked(64, 40, 16, true), plain(64, 40, 16, false);
  for (Rig* rig : {&tracked, &plain}) {
    rig->Paint(4);
    rig->Start();
    rig->Steps(4);
  }
  for (int round = 0; round < 6; ++round) {
    for (Rig* rig : {&tracked, &plain}) {
      rig->screen->Fill(round * 5, round * 6, round * 5 + 9, round * 6 + 4, 0x1000u * round);
      rig->Steps(4);
    }
    auto a = tracked.transport.Take(), b = plain.transport.Take();
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
      EXPECT_EQ(a[i].type, b[i].type);
      EXPECT_EQ(a[i].bytes, b[i].bytes);
    }
  }
}

}  // namespace
}  // namespace qc
