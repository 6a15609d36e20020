// SPDX-License-Identifier: GPL-3.0-or-later
// The real viewer window on a private Xvfb: what reaches the screen
// (unscaled, scrolled, full screen scaled, the remote cursor at the image's
// edges), scroll bars, keys, the context menu, closing and restarting.
#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "receiver/viewer/qt/viewer_window.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/viewer_window/fake_viewer_source.h"
#include "tests/viewer_window/qt_test_env.h"

namespace qc::test {
namespace {

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment(true));

constexpr uint32_t kBlack = 0xff000000u;
constexpr uint32_t kWhite = 0xffffffffu;
const QRect kScreen(0, 0, 1280, 1024);

uint32_t At(const QImage& img, int x, int y) { return img.pixel(x, y) | kBlack; }
uint32_t Pattern(int x, int y) { return PatternPixel(x, y) | kBlack; }

// Lets the update thread take one step at a time: a Stepping step waits
// for Run, which serves the window until the action and UpdateWindow are done.
class Gate {
 public:
  FakeViewerSource::Step Stepping(std::function<void(FakeViewerSource&, ViewerSurface&)> action) {
    return [this, action](FakeViewerSource& s, ViewerSurface& surface) {
      while (!open_.exchange(false)) {
        if (!s.Running()) return false;  // stopping
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      action(s, surface);
      surface.UpdateWindow();
      ++done_;
      return true;
    };
  }
  bool Run() {
    const int target = done_.load() + 1;
    open_ = true;
    return ProcessUntil([&] { return done_.load() >= target; });
  }

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> done_{0};
};

class WindowTest : public testing::Test {
 protected:
  void StartWith(int w, int h, bool fullScreen) {
    src_.SetFormat(w, h);
    src_.SetPattern(FillPattern32);
    window_ = std::make_unique<ViewerWindow>(src_);
    window_->SetCommandHandler([this](int id) { commands_.push_back(id); });
    ASSERT_TRUE(window_->Start(&owner_, 5982, fullScreen));
    ASSERT_TRUE(WaitExposed(*window_));
    // QV_RENDERER=gl runs every test on the OpenGL view (Mesa's llvmpipe).
    ASSERT_EQ(window_->GlView() != nullptr, GlForced());
  }
  void TearDown() override {
    if (window_) { window_->SetRestarting(); window_->Stop(); }
  }
  // One update-thread step, and the frame that paints it.
  bool Step() {
    return gate_.Run() && ProcessUntil([&] { return !window_->PaintPending(); });
  }
  void Settle(int ms = 100) { ProcessUntil([] { return false; }, ms); }
  QImage GrabClient() { return GrabFromScreen(*window_, window_->viewport()->geometry()); }
  QPoint Scroll() const {
    return {window_->horizontalScrollBar()->value(), window_->verticalScrollBar()->value()};
  }
  // The client area shows the framebuffer from the scroll position on.
  void ExpectClientShowsFramebuffer() {
    const QImage shot = GrabClient();
    const QPoint s = Scroll();
    for (int y = 0; y < shot.height(); ++y) {
      for (int x = 0; x < shot.width(); ++x) {
        if (At(shot, x, y) != Pattern(x + s.x(), y + s.y())) {
          return ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << At(shot, x, y);
        }
      }
    }
  }

  // Declared before the window and the source, so that the update thread's
  // steps, which use them, end (TearDown) before they go.
  Gate gate_;
  FakeViewerSource src_;
  RecordingOwner owner_;
  std::unique_ptr<ViewerWindow> window_;
  std::vector<int> commands_;
};

// The cursor is 16 x 16 at (100, 50), inverting in its left half.
TEST_F(WindowTest, AnUpdatedBandAndTheCursorArePaintedWithTheNextFrame) {
  src_.GiveCursorImage(16, true);
  src_.SetStep(gate_.Stepping([](FakeViewerSource& s, ViewerSurface& surface) {
    for (int y = 100; y < 130; ++y)
      for (int x = 0; x < s.Width(); ++x) s.Pixels()[y * s.Width() + x] = 0x00ffffff;
    surface.InvalidateFramebufferRect({0, 99, s.Width(), 130});
    s.Cursor().Update(true, surface);
    s.MoveCursor(surface, 100, 50);
  }));
  StartWith(640, 480, false);
  const uint64_t uploaded = window_->GlView() ? window_->GlView()->RowsUploaded() : 0;
  ASSERT_TRUE(Step());
  if (window_->GlView()) {
    // The texture took the band's 31 rows and those under the cursor's old
    // and new places, not the frame's 480.
    const uint64_t rows = window_->GlView()->RowsUploaded() - uploaded;
    EXPECT_GE(rows, 31u);
    EXPECT_LT(rows, 120u);
  }
  const QImage shot = GrabClient();
  EXPECT_EQ(At(shot, 0, 100), kWhite);
  EXPECT_EQ(At(shot, 639, 129), kWhite);
  EXPECT_EQ(At(shot, 5, 130), Pattern(5, 130));
  EXPECT_EQ(At(shot, 5, 98), Pattern(5, 98));
  EXPECT_EQ(At(shot, 103, 55), Pattern(103, 55) ^ 0x00ffffffu);
  EXPECT_EQ(At(shot, 110, 55), Pattern(110, 55));
  EXPECT_EQ(At(shot, 99, 55), Pattern(99, 55));
}

// A flood of updates is painted once per frame at most, without waiting for
// each paint, and once it stops the window shows the framebuffer exactly.
TEST_F(WindowTest, AFloodIsPaintedAtTheFrameRateAndEndsExact) {
  std::atomic<bool> flood{true};
  src_.SetStep([&](FakeViewerSource& s, ViewerSurface& surface) {
    const bool last = !flood;  // the last step restores the pattern everywhere
    const int top = last ? 0 : static_cast<int>(s.Steps() * 7 % 400);
    const int rows = last ? 430 : 30;
    for (int y = top; y < top + rows; ++y)
      for (int x = 0; x < s.Width(); ++x)
        s.Pixels()[y * s.Width() + x] = last ? Pattern(x, y) : static_cast<uint32_t>(s.Steps() * 977 + x);
    surface.InvalidateFramebufferRect({0, top - 1, s.Width(), top + rows + 1});
    surface.UpdateWindow();
    return !last;
  });
  StartWith(640, 480, false);
  const uint64_t framesBefore = window_->FramesPainted();
  const uint64_t stepsBefore = src_.Steps();
  QElapsedTimer clock;
  clock.start();
  Settle(400);
  flood = false;
  const int64_t ms = clock.elapsed();
  const uint64_t frames = window_->FramesPainted() - framesBefore;
  ASSERT_TRUE(ProcessUntil([&] { return src_.StepsDone() && !window_->PaintPending(); }));
  EXPECT_GT(src_.Steps() - stepsBefore, 2 * frames);
  EXPECT_GE(frames, 2u);
  EXPECT_LE(frames, static_cast<uint64_t>(ms / window_->FrameIntervalMs() + 2));
  ExpectClientShowsFramebuffer();
}

TEST_F(WindowTest, SmallFramebufferIsCentredUnscrolledAndHiddenLetsUpdatesPass) {
  StartWith(800, 600, false);
  EXPECT_EQ(window_->geometry(), QRect(240, 212, 800, 600));
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(window_->verticalScrollBar()->isVisible());
  EXPECT_EQ(window_->viewport()->size(), QSize(800, 600));
  window_->ShowViewer(false);
  ASSERT_FALSE(window_->isVisible());
  // No event loop runs here: UpdateWindow must not wait for it.
  std::thread update([&] {
    for (int i = 0; i < 100; ++i) {
      window_->InvalidateFramebufferRect({0, 0, 320, 10});
      window_->UpdateWindow();
    }
  });
  update.join();
  window_->ShowViewer(true);
  ASSERT_TRUE(WaitExposed(*window_));
  EXPECT_FALSE(window_->IsFullScreen());
  ExpectClientShowsFramebuffer();
}

TEST_F(WindowTest, LargeFramebufferFillsTheWorkAreaAndScrolls) {
  StartWith(1920, 1080, false);
  EXPECT_EQ(window_->geometry(), kScreen);
  QScrollBar* hbar = window_->horizontalScrollBar();
  QScrollBar* vbar = window_->verticalScrollBar();
  ASSERT_TRUE(hbar->isVisible());
  ASSERT_TRUE(vbar->isVisible());
  const int cw = window_->viewport()->width();
  const int ch = window_->viewport()->height();
  EXPECT_EQ(hbar->maximum(), 1920 - cw);
  EXPECT_EQ(hbar->pageStep(), cw);
  EXPECT_EQ(vbar->maximum(), 1080 - ch);

  // The amounts (and their limits) are viewer_geometry_test's.
  const struct { QScrollBar* bar; QAbstractSlider::SliderAction action; QPoint scroll; } steps[] = {
      {hbar, QAbstractSlider::SliderSingleStepAdd, {2, 0}},
      {hbar, QAbstractSlider::SliderPageStepAdd, {2 + cw / 4, 0}},
      {vbar, QAbstractSlider::SliderSingleStepAdd, {2 + cw / 4, 2}},
  };
  for (const auto& s : steps) {
    s.bar->triggerAction(s.action);
    EXPECT_EQ(Scroll(), s.scroll) << s.action;
  }
  hbar->setSliderPosition(300);  // thumb tracking
  EXPECT_EQ(Scroll().x(), 300);
  // A drag past the end stops at W - cw.
  EXPECT_TRUE(window_->ScrollBy(5000, 5000));
  EXPECT_EQ(Scroll(), QPoint(1920 - cw, 1080 - ch));
  EXPECT_FALSE(window_->ScrollBy(2, 2));
  hbar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Scroll().x(), 1920 - cw);
  Settle();
  ExpectClientShowsFramebuffer();
}

TEST_F(WindowTest, ResizingShowsAndHidesScrollBarsAndKeepsThePositionInRange) {
  StartWith(1000, 700, false);
  EXPECT_EQ(window_->geometry().size(), QSize(1000, 700));
  window_->resize(600, 400);
  Settle();
  EXPECT_TRUE(window_->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(window_->ScrollBy(5000, 5000));
  // Dragging beyond the framebuffer's size stops there.
  window_->resize(1600, 1000);
  Settle();
  EXPECT_EQ(window_->size(), QSize(1000, 700));
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(window_->verticalScrollBar()->isVisible());
  // The whole framebuffer is visible, so the position fell back to 0.
  EXPECT_EQ(Scroll(), QPoint(0, 0));
  ExpectClientShowsFramebuffer();
}

TEST_F(WindowTest, FullScreenScalesDownWithBlackMarginsAndCentresTheImage) {
  StartWith(1920, 1080, true);
  ProcessUntil([&] { return window_->geometry() == kScreen; });
  ASSERT_TRUE(window_->IsFullScreen());
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  Settle(150);
  // 66 %: a 1267 x 712 image at (6, 156), as the painter makes it of the
  // framebuffer on its own (margins: frame_painter_test).
  std::vector<uint32_t> fb(1920 * 1080);
  FillPattern32(reinterpret_cast<uint8_t*>(fb.data()), 1920, 1080);
  FramePainter reference;
  ASSERT_TRUE(reference.Bind(
      DescribeFramebuffer(reinterpret_cast<uint8_t*>(fb.data()), Format(0, 1920, 1080, 32))));
  reference.SetScale(66);
  QImage expected(1280, 1024, QImage::Format_RGB32);
  {
    QPainter p(&expected);
    reference.Paint(p, kScreen, 0, 0, 6, 156);
  }
  // The CPU path is the reference itself; the GPU's area average is exact
  // and rounded once, the reference's is within 1 of it.
  EXPECT_LE(MaxChannelDifference(GrabFromScreen(*window_, kScreen), expected),
            window_->GlView() != nullptr ? 1 : 0);

  // Leaving restores the placed window, scrolled to (0, 0).
  window_->SetFullScreen(false);
  ProcessUntil([&] { return window_->geometry() == kScreen && !window_->isFullScreen(); });
  EXPECT_FALSE(window_->IsFullScreen());
  EXPECT_EQ(Scroll(), QPoint(0, 0));
  EXPECT_TRUE(window_->horizontalScrollBar()->isVisible());
  Settle();
  ExpectClientShowsFramebuffer();
}

// A cursor over the edge of a letter-boxed image (unscaled: right edge;
// scaled: bottom edge), then moved away: nothing of it shows in the margin
// at any time.
TEST_F(WindowTest, CursorOverTheImageEdgeLeavesNoTraceInTheMargin) {
  struct Case {
    int w, h;
    QPoint spots[2];
    QPoint white;  // white under the cursor at the first spot
    QRect margin;  // must stay black
  } cases[] = {
      // 100 %, image at (128, 128): cursor at window (1138, 528), cut at 1152.
      {1024, 768, {{1010, 400}, {500, 300}}, {1151, 559}, {1152, 520, 28, 50}},
      // 80 %, image rows 112..911: cursor at (560, 904), cut at 912.
      {1600, 1000, {{700, 990}, {100, 100}}, {565, 910}, {550, 912, 50, 28}},
  };
  std::atomic<int> where{0};
  const Case* current = nullptr;
  src_.SetStep(gate_.Stepping([&](FakeViewerSource& s, ViewerSurface& surface) {
    const QPoint p = current->spots[where.load()];
    s.MoveCursor(surface, p.x(), p.y());
  }));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.w);
    current = &c;
    where = 0;
    src_.GiveCursorImage();
    StartWith(c.w, c.h, true);
    auto marginIsBlack = [&](const QImage& shot) {
      for (int y = c.margin.top(); y <= c.margin.bottom(); ++y)
        for (int x = c.margin.left(); x <= c.margin.right(); ++x)
          ASSERT_EQ(At(shot, x, y), kBlack) << x << "," << y;
    };
    ASSERT_TRUE(Step());
    QImage shot = GrabFromScreen(*window_, kScreen);
    EXPECT_EQ(At(shot, c.white.x(), c.white.y()), kWhite);
    marginIsBlack(shot);
    where = 1;
    ASSERT_TRUE(Step());
    shot = GrabFromScreen(*window_, kScreen);
    EXPECT_NE(At(shot, c.white.x(), c.white.y()), kWhite);
    marginIsBlack(shot);
    if (c.w == 1024) {  // unscaled: the picture itself is back under the old place
      EXPECT_EQ(At(shot, 628, 428), kWhite);
      EXPECT_EQ(At(shot, 1140, 530), Pattern(1012, 402));
      EXPECT_EQ(At(shot, 1151, 895), Pattern(1023, 767));
      EXPECT_EQ(At(shot, 127, 500), kBlack);
    }
    window_->SetRestarting();
    window_->Stop();
    window_.reset();
  }
}

TEST_F(WindowTest, MenuAndKeysSendCommandsAndOnlyTheFullScreenCommandIsLogged) {
  const LogReader log;
  const std::string line = "qvViewer: Activated full-screen mode\r\n";
  StartWith(800, 600, true);  // entered by the setting: not logged
  EXPECT_TRUE(window_->IsFullScreen());
  EXPECT_EQ(log.Count(line), 0);
  // The context menu posts the window's commands (not called from inside it).
  QMenu* menu = window_->findChild<QMenu*>();
  ASSERT_NE(menu, nullptr);
  std::vector<QString> texts;
  for (QAction* a : menu->actions()) {
    texts.push_back(a->isSeparator() ? QString("-") : a->text());
    EXPECT_TRUE(a->isEnabled());
    EXPECT_FALSE(a->isCheckable());
    if (!a->isSeparator()) a->trigger();
  }
  EXPECT_EQ(texts, (std::vector<QString>{"Full Screen\tAlt+Enter", "Hide Window", "Request Refresh",
                                         "-", "Settings...", "About Quillview..."}));
  EXPECT_TRUE(commands_.empty());
  ProcessUntil([&] { return commands_.size() == 5; });
  EXPECT_EQ(commands_, (std::vector<int>{ID_FULL_SCREEN, ID_HIDE_WINDOW, ID_REQUEST_REFRESH,
                                         ID_SETTINGS, ID_ABOUT}));
  commands_.clear();
  window_->SetFullScreen(false);
  ProcessUntil([&] { return !window_->isFullScreen(); });
  const QRect placed = window_->geometry();
  // The owner toggles, as the tray does for ID_FULL_SCREEN.
  window_->SetCommandHandler([this](int id) {
    commands_.push_back(id);
    if (id == ID_FULL_SCREEN) window_->SetFullScreen(!window_->IsFullScreen());
  });
  const struct { int key; Qt::KeyboardModifiers mods; bool fullScreen; size_t commands; } keys[] = {
      {Qt::Key_Escape, Qt::NoModifier, false, 0},  // only leaves full screen
      {Qt::Key_Return, Qt::NoModifier, false, 0},
      {Qt::Key_Return, Qt::AltModifier, true, 1},
      {Qt::Key_Escape, Qt::NoModifier, false, 2},
      {Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier, true, 3},
      {Qt::Key_Return, Qt::AltModifier, false, 4},
  };
  for (const auto& k : keys) {
    QKeyEvent release(QEvent::KeyRelease, k.key, k.mods);
    QCoreApplication::sendEvent(window_.get(), &release);
    Settle(50);
    EXPECT_EQ(window_->IsFullScreen(), k.fullScreen) << k.key;
    EXPECT_EQ(commands_.size(), k.commands) << k.key;
  }
  EXPECT_EQ(commands_, std::vector<int>(4, ID_FULL_SCREEN));
  EXPECT_EQ(log.Count(line), 2);
  ProcessUntil([&] { return window_->geometry() == placed; });
  EXPECT_EQ(window_->geometry(), placed);
}

TEST_F(WindowTest, ARestartKeepsTheProgramButClosingOrTheLastStopEndsIt) {
  StartWith(320, 200, false);
  window_->SetRestarting();
  window_->Stop();
  EXPECT_EQ(owner_.fatals, 0);
  EXPECT_FALSE(window_->isVisible());
  // Started again, the window comes back (with the picture: live_viewer_test).
  ASSERT_TRUE(window_->Start(&owner_, 5982, false));
  ASSERT_TRUE(WaitExposed(*window_));
  // The restart mark was used up: this stop ends the program.
  window_->Stop();
  EXPECT_EQ(owner_.fatals, 1);
  EXPECT_FALSE(owner_.lastShowMessage);
  // Closing the window ends it as well, once per cycle.
  ASSERT_TRUE(window_->Start(&owner_, 5982, false));
  ASSERT_TRUE(WaitExposed(*window_));
  window_->close();
  EXPECT_EQ(owner_.fatals, 2);
  EXPECT_FALSE(owner_.lastShowMessage);
  window_->Stop();
  EXPECT_EQ(owner_.fatals, 2);
  window_.reset();
}

TEST_F(WindowTest, PointerIsBlankOverTheFocusedViewerOnly) {
  StartWith(320, 200, false);
  ProcessUntil([&] { return window_->isActiveWindow(); }, 3000);
  if (!window_->isActiveWindow()) {
    GTEST_SKIP() << "the X server gave the window no focus";
  }
  EXPECT_EQ(window_->viewport()->cursor().shape(), Qt::BlankCursor);
  QWidget other;
  other.setGeometry(0, 0, 50, 50);
  other.show();
  other.activateWindow();
  ProcessUntil([&] { return !window_->isActiveWindow(); }, 3000);
  ASSERT_FALSE(window_->isActiveWindow());
  EXPECT_EQ(window_->viewport()->cursor().shape(), Qt::ArrowCursor);
}

}  // namespace
}  // namespace qc::test
