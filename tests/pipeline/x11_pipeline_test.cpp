// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's whole pipeline on a real X server: qcCapture on the X11
// sources of a private Xvfb, qcSender on the test's private network, and
// headless qvViewer receivers rebuilding the picture. One scenario runs over
// a table of screen depths and sizes; refusal and resize have their own
// cases. The engine's rules (quarters, keep-alives, cursor steps) are in
// capture_engine_test; a lossy link is covered end to end (tests/e2e).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "receiver/viewer/viewer.h"
#include "sender/capture/capture.h"
#include "sender/capture/sender.h"
#include "sender/capture/x11/x11_cursor_source.h"
#include "sender/capture/x11/x11_screen_source.h"
#include "tests/codec/codec_test_support.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/support/fake_sources.h"
#include "tests/support/group_socket.h"
#include "tests/support/root_painter.h"
#include "tests/support/xvfb_server.h"

namespace qc {
namespace {

using test::Bytes;
using Masks = std::array<uint32_t, 3>;
constexpr uint16_t kPort = 47300;
constexpr Masks k888 = {0xFF0000, 0x00FF00, 0x0000FF};
constexpr Masks k565 = {0xF800, 0x07E0, 0x001F};
constexpr Masks k555 = {0x7C00, 0x03E0, 0x001F};

// Whether the viewer shows the area (width pixels a row), with black
// columns up to the sent width.
bool Shows(const qvViewer& viewer, const Bytes& area, int width, int bytes) {
  const FramebufferView v = viewer.FramebufferInfo();
  if (v.pixels == nullptr || size_t(v.bytesPerRow) != size_t(SentFrameWidth(width)) * bytes ||
      size_t(width) * bytes * v.height != area.size()) {
    return false;
  }
  const Bytes sent = test::SentFrame(area.data(), width, v.height, bytes);
  return test::CarriedBytesMatch(sent.data(), v.pixels, SentFrameWidth(width), v.height, bytes);
}

// The rectangle r of a screen W pixels wide.
Bytes Crop(const Bytes& screen, int W, int B, const ScreenRect& r) {
  Bytes out;
  for (int y = r.y; y < r.y + r.height; ++y) {
    auto row = screen.begin() + (size_t(y) * W + r.x) * B;
    out.insert(out.end(), row, row + size_t(r.width) * B);
  }
  return out;
}

// Xvfb lists one monitor only: the test's two lie side by side, the right
// one 1920 pixels wide, the left one primary; the right one can be unplugged.
std::atomic<bool> rightUnplugged{false};
std::vector<MonitorInfo> TwoMonitors(int W, int H) {
  if (rightUnplugged) return {{"LEFT", {0, 0, W, H}, true}};
  return {{"LEFT", {0, 0, W - 1920, H}, true}, {"RIGHT", {W - 1920, 0, 1920, H}, false}};
}

// The engine on the X11 sources with the real transport, stepped by the
// test on its own clock.
struct Pipeline {
  explicit Pipeline(const std::string& display, bool shm = true, bool damage = true,
                    AreaChoice area = {}) {
    X11ScreenSource::Options options;
    options.display = display;
    options.useShm = shm;
    options.useDamage = damage;
    options.area = area;
    options.monitors = [display] {
      test::RootPainter painter(display);
      return TwoMonitors(painter.Width(), painter.Height());
    };
    auto s = std::make_unique<X11ScreenSource>(options);
    screen = s.get();
    capture =
        std::make_unique<qcCapture>(std::move(s), X11CursorSource::Create(display), clock);
    capture->SetStepHook(&gate);
  }
  bool Open() { return sender.Open(&senderOwner, kGroupAddress, kPort); }
  bool Start() {
    if (!capture->Init(&owner)) return false;
    capture->SetPolling(true);
    return true;
  }
  // Steps on a still clock: the engine re-sends nothing by itself (no heal
  // after a quiet moment), so what reaches the wire is what the test drew.
  bool Steps(int n) { return test::Steps(*capture, gate, n); }
  // Steps until the condition holds (a hung pipeline, not a slow one, runs
  // out of steps), the clock 20 ms on before each: a quarter drawn again
  // waits for its tick (2 ms), and a warped pointer, which makes no event,
  // is seen at the engine's backstop query (500 ms).
  bool StepUntil(const std::function<bool()>& condition, int limit = 300) {
    for (int i = 0; i < limit; ++i) {
      if (condition()) return true;
      clock.Advance(20);
      if (!Steps(1)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
  }

  test::CountingSenderOwner senderOwner;
  qcSender sender;
  test::FakeCaptureOwner owner{&sender};
  X11ScreenSource* screen = nullptr;
  test::ManualClock clock{1000};
  test::StepGate gate;
  std::unique_ptr<qcCapture> capture;
};

std::vector<uint16_t> Types(const std::vector<Bytes>& datagrams) {
  std::vector<uint16_t> types;
  for (const Bytes& d : datagrams) types.push_back(PeekType(d.data(), d.size()).value_or(0));
  return types;
}

struct Case {
  const char* name;
  const char* geometry;
  int bits;  // of the frames sent
  Masks masks;
  bool shm, damage;
  AreaChoice choice = {};
  ScreenRect area = {};  // the area shared; empty: the whole screen
};

class X11Pipeline : public testing::TestWithParam<Case> {};

TEST_P(X11Pipeline, RebuildsTheScreenAndSendsOnlyWhatChanged) {
  const Case& c = GetParam();
  test::XvfbServer server(c.geometry);
  ASSERT_TRUE(server.Ready()) << c.geometry;
  test::RootPainter screen(server.Display());
  const int SW = screen.Width(), B = screen.BytesPerPixel();
  const ScreenRect area = c.area.Empty() ? ScreenRect{0, 0, SW, screen.Height()} : c.area;
  const int W = area.width, H = area.height, X = area.x, Y = area.y;
  auto shown = [&] { return Crop(screen.Read(), SW, B, area); };
  screen.Scene(1);
  screen.MovePointer(X + 100, Y + 100);
  test::LogReader log;

  // Two headless viewers share the port.
  test::RecordingOwner owners[2];
  NullSurface surface;
  qvViewer viewers[2];
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(viewers[i].Init(&owners[i], &surface, kPort));
  auto bothShow = [&](const Bytes& picture) {
    return Shows(viewers[0], picture, W, B) && Shows(viewers[1], picture, W, B);
  };
  test::GroupSocket group(kPort);
  ASSERT_TRUE(group.Ok());

  Pipeline p(server.Display(), c.shm, c.damage, c.choice);
  ASSERT_TRUE(p.Open());
  ASSERT_TRUE(p.Start());
  EXPECT_EQ(p.screen->UsesShm(), c.shm);
  EXPECT_EQ(p.screen->TracksDamage(), c.damage);
  EXPECT_EQ(p.screen->Area(), area);
  EXPECT_EQ(p.screen->FellBack(), c.choice.monitor == 0 && !c.area.Empty());
  Bytes picture = shown();
  ASSERT_TRUE(p.StepUntil([&] { return bothShow(picture); }));
  const InitMessage init = viewers[0].Transmission();
  EXPECT_EQ(init.screenId, p.sender.ScreenId());
  EXPECT_EQ(init.width, SentFrameWidth(W));
  EXPECT_EQ(init.height, H);
  EXPECT_EQ(init.bitsPerPixel, c.bits);
  EXPECT_EQ((Masks{init.redMask, init.greenMask, init.blueMask}), c.masks);
  char line[128];
  snprintf(line, sizeof line, "qvViewer: Received server init message, screen %dx%d, id %d\r\n",
           SentFrameWidth(W), H, static_cast<int>(static_cast<int16_t>(init.screenId)));
  EXPECT_EQ(log.Count(line), 2);

  // An idle real screen sends nothing but a keep-alive into the silence.
  group.Drain();
  ASSERT_TRUE(p.Steps(8));
  p.capture->OnKeepAliveTimer();  // clears what the full update left
  p.capture->OnKeepAliveTimer();
  EXPECT_EQ(Types(group.Drain()), std::vector<uint16_t>{0xFFF7});

  // A drawing in quarter 2 reaches both viewers.
  const int q2 = qcCapture::QuarterBound(H, 2);
  screen.Fill(X + 100, Y + q2 + 20, 300, 40, 0x00FF00 & screen.Mask());
  screen.Noise(X + 700, Y + q2 + 30, 64, 32, 99);
  screen.Sync();
  picture = shown();
  ASSERT_TRUE(p.StepUntil([&] { return bothShow(picture); }));

  // The pointer's moves and the cursor's shape reach the wire, relative to
  // the area.
  auto cursorAt = [&](int x, int y, bool visible) {
    std::lock_guard<std::mutex> lock(viewers[1].CursorLock());
    const RemoteCursorState& cursor = viewers[1].CursorState();
    const auto& px = cursor.image.argb;
    bool opaque = std::any_of(px.begin(), px.end(), [](uint32_t v) { return v >> 24 != 0; });
    return cursor.hasImage && opaque == visible && (!visible || (cursor.x == x && cursor.y == y));
  };
  screen.MovePointer(X + 321, Y + 123);
  ASSERT_TRUE(p.StepUntil([&] { return cursorAt(321, 123, true); }));
  if (X > 0) {
    // Outside the area: drawing there sends nothing, the pointer there
    // hides the cursor, and back inside it shows at its place.
    group.Drain();
    screen.Fill(0, 0, X, screen.Height(), 0xFF0000 & screen.Mask());
    screen.Sync();
    ASSERT_TRUE(p.Steps(8));
    p.capture->OnKeepAliveTimer();
    p.capture->OnKeepAliveTimer();
    EXPECT_EQ(Types(group.Drain()), std::vector<uint16_t>{0xFFF7});
    screen.MovePointer(X - 50, Y + 40);
    ASSERT_TRUE(p.StepUntil([&] { return cursorAt(0, 0, false); }));
    screen.MovePointer(X + 55, Y + 66);
    ASSERT_TRUE(p.StepUntil([&] { return cursorAt(55, 66, true); }));
  }
  group.Drain();
  screen.SetRootCursor(68);  // XC_left_ptr
  std::vector<Bytes> shape;
  ASSERT_TRUE(p.StepUntil([&] { return !(shape = group.Drain(20)).empty(); }));
  ASSERT_EQ(Types(shape), std::vector<uint16_t>{0xFFF9});
  bool ok = false;
  const Bytes payload =
      test::Inflate(Bytes(shape[0].begin() + kCompressedHeaderSize, shape[0].end()), ok);
  ASSERT_TRUE(ok);
  CursorShapeHeader h;
  ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), payload.size(), h));
  EXPECT_EQ(h.colorBitsPerPixel, 32);
  EXPECT_EQ(h.colorWidth % 32, 0);
  int transparent = 0;
  for (size_t i = 0; i < h.MaskSize(); ++i) {
    transparent += __builtin_popcount(payload[kCursorShapeHeaderSize + h.ColorSize() + i]);
  }
  EXPECT_GT(transparent, 0);
  EXPECT_LT(transparent, int(h.MaskSize() * 8));

  // Datagrams no sender makes leave the viewers following the screen.
  Bytes hostile(kMaxDatagram + 1, 0);
  BuildKeepAlive(init.screenId, hostile.data());
  ASSERT_TRUE(group.Send(kPort, hostile));
  ASSERT_TRUE(group.Send(kPort, Bytes(hostile.begin(), hostile.begin() + 3)));
  ASSERT_TRUE(group.Send(kPort, {}));
  screen.Scene(2);
  picture = shown();
  ASSERT_TRUE(p.StepUntil([&] { return bothShow(picture); }));
  EXPECT_EQ(log.Count("qvViewer: Socket failure, network may be down\r\n"), 2);

  for (auto& o : owners) EXPECT_EQ(o.fatals, 0);
  EXPECT_EQ(p.owner.fatalErrors.load(), 0);
  p.capture.reset();
  for (auto& v : viewers) v.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Screens, X11Pipeline,
    testing::Values(Case{"Depth24", "1024x768x24", 32, k888, true, true},
                    Case{"Depth16", "800x600x16", 16, k565, true, true},
                    Case{"Depth15", "800x600x15", 16, k555, true, true},
                    Case{"OddSizeDepth16WithoutShm", "1001x703x16", 16, k565, false, true},
                    Case{"Depth24WithoutShmOrDamage", "1280x720x24", 32, k888, false, false},
                    Case{"SecondMonitor", "3840x1080x24", 32, k888, true, true, {2, {}},
                         {1920, 0, 1920, 1080}},
                    Case{"Region", "1280x720x16", 16, k565, true, true, {2, {200, 100, 1000, 500}},
                         {200, 100, 1000, 500}},
                    Case{"TooWideStartsOnPrimary", "4480x1440x24", 32, k888, true, true, {},
                         {0, 0, 2560, 1440}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(X11PipelineSetUp, EightBitScreenIsRefused) {
  test::XvfbServer server("640x480x8");
  ASSERT_TRUE(server.Ready());
  Pipeline p(server.Display());
  EXPECT_FALSE(p.capture->Init(&p.owner));
  EXPECT_EQ(p.owner.messageCaption, "Quillcast Error");
  EXPECT_EQ(p.owner.messageText, kUnsupportedScreenText);
}

TEST(X11PipelineSetUp, ScreenResizeOrTheSharedMonitorGoneEndsThroughFatalError) {
  const struct {
    const char* xrandr;
    AreaChoice choice;
  } cases[] = {{"--fb 800x600", {}}, {"--output screen --primary", {2, {}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xrandr);
    test::XvfbServer server("3840x1080x24");
    ASSERT_TRUE(server.Ready());
    rightUnplugged = false;
    Pipeline p(server.Display(), true, true, c.choice);
    ASSERT_TRUE(p.Open());
    ASSERT_TRUE(p.Start());
    ASSERT_TRUE(p.Steps(4));
    rightUnplugged = true;
    const std::string command =
        "DISPLAY=" + server.Display() + " xrandr " + c.xrandr + " >/dev/null 2>&1";
    [[maybe_unused]] int rc = system(command.c_str());  // xrandr complains but resizes
    // The notification arrives on the source's own connection; the engine
    // sees it at one of the next steps.
    p.StepUntil([&] { return p.capture->WorkThreadFinished(); }, 200);
    EXPECT_TRUE(p.capture->WorkThreadFinished());
    EXPECT_EQ(p.owner.fatalErrors.load(), 1);
    EXPECT_FALSE(p.sender.IsOpen());
  }
  rightUnplugged = false;
}

TEST(X11PipelineSetUp, RandrMonitorListIsRead) {
  test::XvfbServer server("1280x720x24");
  ASSERT_TRUE(server.Ready());
  const std::vector<MonitorInfo> monitors = X11ScreenSource::ListMonitors(server.Display());
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0].rect, (ScreenRect{0, 0, 1280, 720}));
  EXPECT_FALSE(monitors[0].name.empty());
  EXPECT_TRUE(X11ScreenSource::ListMonitors(":none").empty());
}

// A pointer moved through XTEST makes raw motion: it ends the source's wait
// for damage, and the self-paced engine, asleep on a still screen, sends
// the new position with nothing drawn.
TEST(X11PipelineSetUp, PointerMoveWakesTheSelfPacedEngine) {
  if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
  test::XvfbServer server("640x480x24");
  ASSERT_TRUE(server.Ready());
  const std::string xdotool = "DISPLAY=" + server.Display() + " xdotool ";
  ASSERT_EQ(std::system((xdotool + "mousemove 100 100").c_str()), 0);
  X11ScreenSource::Options options;
  options.display = server.Display();
  {
    X11ScreenSource source(options);
    ScreenFormat format;
    ASSERT_TRUE(source.Open(format) && source.CreateFrame() != nullptr);
    ASSERT_TRUE(source.TracksPointer());
    ASSERT_EQ(std::system((xdotool + "mousemove_relative 3 3").c_str()), 0);
    bool moved = false;
    for (int i = 0; i < 10 && !moved; ++i) {
      ASSERT_TRUE(source.GrabRows(0, format.height));  // nothing left drawn
      source.WaitForDamage(2000);
      moved = source.TakePointerEvent();
    }
    EXPECT_TRUE(moved);
    EXPECT_FALSE(source.TakePointerEvent());
  }

  test::RecordingTransport transport;
  test::FakeCaptureOwner owner(&transport);
  qcCapture capture(std::make_unique<X11ScreenSource>(options),
                    X11CursorSource::Create(server.Display()));
  ASSERT_TRUE(capture.Init(&owner));
  capture.SetPolling(true);
  // Everything sent until the cursor is at (x, y), for at most ~10 s.
  const auto sentUntilAt = [&](int x, int y) {
    std::vector<uint16_t> types;
    for (int i = 0; i < 1000; ++i) {
      for (const auto& d : transport.Take()) {
        types.push_back(d.type);
        CursorPosition pos;
        if (ParseCursorPosition(d.bytes.data(), d.bytes.size(), pos) && pos.x == x && pos.y == y)
          return types;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::vector<uint16_t>{};
  };
  // The full-screen update ends with the cursor where it is.
  ASSERT_FALSE(sentUntilAt(103, 103).empty());
  ASSERT_EQ(std::system((xdotool + "mousemove_relative 7 5").c_str()), 0);
  const uint16_t position = static_cast<uint16_t>(PacketType::CursorPosition);
  EXPECT_EQ(sentUntilAt(110, 108), std::vector<uint16_t>{position});
}

TEST(X11Layout, DepthsMapToTheEnginesFramesAndCursorPixelsAreUnpremultiplied) {
  const struct {
    int depth, pixmapBits;
    bool lsbFirst;
    int frameBits;
  } cases[] = {{24, 32, true, 32}, {32, 32, true, 32}, {16, 16, true, 16}, {15, 16, true, 16},
               {8, 8, true, 8},  // refused by the engine
               {24, 24, true, 0},  // packed: not captured
               {30, 32, true, 0}, {24, 32, false, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(X11ScreenSource::FrameBitsPerPixel(c.depth, c.pixmapBits, c.lsbFirst), c.frameBits)
        << c.depth << "/" << c.pixmapBits << "/" << c.lsbFirst;
  }
  // Cursor pixels lose their premultiplied alpha.
  EXPECT_EQ(X11CursorSource::Unpremultiply(0xFF102030u), 0xFF102030u);
  EXPECT_EQ(X11CursorSource::Unpremultiply(0x00000000u), 0x00000000u);
  EXPECT_EQ(X11CursorSource::Unpremultiply(0x80402010u), 0x80804020u);
  EXPECT_EQ(X11CursorSource::Unpremultiply(0x40FFFFFFu), 0x40FFFFFFu);  // clamped
}

}  // namespace
}  // namespace qc
