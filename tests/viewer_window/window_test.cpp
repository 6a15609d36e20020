// The real viewer window on a private Xvfb: what reaches the screen
// (unscaled, scrolled, full screen scaled, the remote cursor at the image's
// edges), scroll bars, keys, the context menu, closing and restarting.
#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log_file.h"
#include "receiver/viewer/viewer_window.h"
#include "tests/viewer_window/fake_viewer_source.h"
#include "tests/viewer_window/window_test_env.h"

namespace qc::test {
namespace {

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new XvfbQtEnvironment);

constexpr uint32_t kBlack = 0xff000000u;
constexpr uint32_t kWhite = 0xffffffffu;

uint32_t At(const QImage& img, int x, int y) {
  return img.pixel(x, y) | 0xff000000u;
}

// Lets the update thread take one step at a time: the test opens the gate,
// the thread runs the action and reports it done.
class Gate {
 public:
  // In a step (update thread): waits for the test; false when stopping.
  bool Wait(FakeViewerSource& src) {
    while (!open_.load()) {
      if (!src.Running()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    open_ = false;
    return true;
  }
  void Done() { ++done_; }
  // Test side: opens the gate and serves the window until the step is done.
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
  }
  void TearDown() override {
    if (window_) {
      window_->SetRestarting();
      window_->Stop();
    }
  }
  QImage GrabClient() {
    return GrabFromScreen(*window_, window_->viewport()->geometry());
  }
  // The client area shows the framebuffer from the scroll position on.
  void ExpectClientShowsFramebuffer(int scrollX, int scrollY) {
    const QImage shot = GrabClient();
    int bad = 0;
    for (int y = 0; y < shot.height() && bad < 5; ++y) {
      for (int x = 0; x < shot.width() && bad < 5; ++x) {
        const uint32_t want = PatternPixel(x + scrollX, y + scrollY) | 0xff000000u;
        if (At(shot, x, y) != want) {
          ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << At(shot, x, y)
                        << " not " << want;
          ++bad;
        }
      }
    }
  }

  // Declared before the window and the source, so that the update thread's
  // steps, which use them, end (TearDown) before they go.
  Gate gate_;
  std::atomic<int> where_{0};
  FakeViewerSource src_;
  RecordingOwner owner_;
  std::unique_ptr<ViewerWindow> window_;
  std::vector<int> commands_;
};

TEST_F(WindowTest, SmallFramebufferIsShownCentredAtItsOwnSizeWithoutScrollBars) {
  StartWith(800, 600, false);
  EXPECT_EQ(window_->geometry(), QRect(240, 212, 800, 600));
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(window_->verticalScrollBar()->isVisible());
  EXPECT_EQ(window_->viewport()->size(), QSize(800, 600));
  ExpectClientShowsFramebuffer(0, 0);
}

TEST_F(WindowTest, AnUpdatedBandIsPaintedBeforeUpdateWindowReturns) {
  Gate& gate = gate_;
  src_.SetStep([&gate](FakeViewerSource& s, ViewerSurface& surface) {
    if (!gate.Wait(s)) return false;
    auto* px = reinterpret_cast<uint32_t*>(s.Pixels());
    for (int y = 100; y < 130; ++y)
      for (int x = 0; x < s.Width(); ++x) px[y * s.Width() + x] = 0x00ffffff;
    surface.InvalidateFramebufferRect({0, 99, s.Width(), 130});
    surface.UpdateWindow();
    gate.Done();
    return true;
  });
  StartWith(640, 480, false);
  ASSERT_TRUE(gate.Run());
  const QImage shot = GrabClient();
  EXPECT_EQ(At(shot, 0, 100), kWhite);
  EXPECT_EQ(At(shot, 639, 129), kWhite);
  EXPECT_EQ(At(shot, 5, 130), PatternPixel(5, 130) | 0xff000000u);
  EXPECT_EQ(At(shot, 5, 98), PatternPixel(5, 98) | 0xff000000u);
}

TEST_F(WindowTest, LargeFramebufferFillsTheWorkAreaAndScrolls) {
  StartWith(1920, 1080, false);
  EXPECT_EQ(window_->geometry(), QRect(0, 0, 1280, 1024));
  QScrollBar* hbar = window_->horizontalScrollBar();
  QScrollBar* vbar = window_->verticalScrollBar();
  ASSERT_TRUE(hbar->isVisible());
  ASSERT_TRUE(vbar->isVisible());
  const int cw = window_->viewport()->width();
  const int ch = window_->viewport()->height();
  EXPECT_EQ(hbar->maximum(), 1920 - cw);
  EXPECT_EQ(hbar->pageStep(), cw);
  EXPECT_EQ(vbar->maximum(), 1080 - ch);

  // Line and page requests at the start of the range do nothing.
  hbar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  vbar->triggerAction(QAbstractSlider::SliderPageStepSub);
  EXPECT_EQ(window_->Scroll(), (viewer_window::ScrollPosition{0, 0}));

  hbar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(window_->Scroll().x, 2);
  hbar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(window_->Scroll().x, 2 + cw / 4);
  EXPECT_EQ(hbar->value(), 2 + cw / 4);
  vbar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(window_->Scroll().y, 2);
  // Thumb tracking moves to the thumb's position.
  hbar->setSliderPosition(300);
  EXPECT_EQ(window_->Scroll().x, 300);
  // A drag past the end stops at W - cw.
  EXPECT_TRUE(window_->ScrollBy(5000, 5000));
  EXPECT_EQ(window_->Scroll(), (viewer_window::ScrollPosition{1920 - cw, 1080 - ch}));
  EXPECT_FALSE(window_->ScrollBy(2, 2));
  hbar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(window_->Scroll().x, 1920 - cw);
  ProcessUntil([] { return false; }, 100);
  ExpectClientShowsFramebuffer(1920 - cw, 1080 - ch);

  window_->ScrollBy(-1000, -200);
  ProcessUntil([] { return false; }, 100);
  ExpectClientShowsFramebuffer(window_->Scroll().x, window_->Scroll().y);
}

TEST_F(WindowTest, ResizingShowsAndHidesScrollBarsAndKeepsThePositionInRange) {
  StartWith(1000, 700, false);
  EXPECT_EQ(window_->geometry().size(), QSize(1000, 700));
  window_->resize(600, 400);
  ProcessUntil([] { return false; }, 100);
  EXPECT_TRUE(window_->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(window_->ScrollBy(5000, 5000));
  // Dragging beyond the framebuffer's size stops there.
  window_->resize(1600, 1000);
  ProcessUntil([] { return false; }, 100);
  EXPECT_EQ(window_->size(), QSize(1000, 700));
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  EXPECT_FALSE(window_->verticalScrollBar()->isVisible());
  // The whole framebuffer is visible, so the position fell back to 0.
  EXPECT_EQ(window_->Scroll(), (viewer_window::ScrollPosition{0, 0}));
  ExpectClientShowsFramebuffer(0, 0);
}

TEST_F(WindowTest, FullScreenScalesDownWithBlackMarginsAndCentresTheImage) {
  StartWith(1920, 1080, true);
  ProcessUntil([&] { return window_->geometry() == QRect(0, 0, 1280, 1024); });
  ASSERT_TRUE(window_->IsFullScreen());
  EXPECT_EQ(window_->geometry(), QRect(0, 0, 1280, 1024));
  EXPECT_FALSE(window_->horizontalScrollBar()->isVisible());
  const ViewTransform& t = window_->Transform();
  EXPECT_TRUE(t.scaled);
  EXPECT_EQ(t.sx, 66);
  EXPECT_EQ(t.offX, 6);
  EXPECT_EQ(t.offY, 156);
  ProcessUntil([] { return false; }, 150);
  const QImage shot = GrabFromScreen(*window_, QRect(0, 0, 1280, 1024));
  // Margins: 156 rows above and below, 6 and 7 columns left and right.
  for (int x = 0; x < 1280; x += 7) {
    EXPECT_EQ(At(shot, x, 0), kBlack);
    EXPECT_EQ(At(shot, x, 155), kBlack);
    EXPECT_EQ(At(shot, x, 156 + 712), kBlack);
    EXPECT_EQ(At(shot, x, 1023), kBlack);
  }
  for (int y = 156; y < 868; y += 5) {
    EXPECT_EQ(At(shot, 5, y), kBlack);
    EXPECT_EQ(At(shot, 1273, y), kBlack);
  }
  // The image equals the framebuffer scaled by the painter on its own.
  std::vector<uint32_t> fb(1920 * 1080);
  FillPattern32(reinterpret_cast<uint8_t*>(fb.data()), 1920, 1080);
  FramePainter reference;
  ASSERT_TRUE(reference.Bind(reinterpret_cast<uint8_t*>(fb.data()), 1920, 1080, 32, 0, 0, 0));
  reference.SetScale(66);
  QImage expected(1280, 1024, QImage::Format_RGB32);
  {
    QPainter p(&expected);
    reference.Paint(p, QRect(0, 0, 1280, 1024), 0, 0, 6, 156);
  }
  EXPECT_EQ(shot, expected);

  // Leaving restores the placed window, scrolled to (0, 0).
  window_->SetFullScreen(false);
  ProcessUntil([&] { return window_->geometry() == QRect(0, 0, 1280, 1024) && !window_->isFullScreen(); });
  EXPECT_FALSE(window_->IsFullScreen());
  EXPECT_FALSE(window_->Transform().scaled);
  EXPECT_EQ(window_->Scroll(), (viewer_window::ScrollPosition{0, 0}));
  EXPECT_TRUE(window_->horizontalScrollBar()->isVisible());
}

// A cursor over the edge of a letter-boxed image (unscaled: right edge;
// scaled: bottom edge), then moved away: nothing of it shows in the margin
// at any time.
TEST_F(WindowTest, CursorOverTheImageEdgeLeavesNoTraceInTheMargin) {
  struct Case {
    int w, h, scale;
    int spots[2][2];
    QPoint white;          // white under the cursor at the first spot
    QRect margin;          // must stay black
  } cases[] = {
      // Cursor at window (128 + 1010, 128 + 400): white up to the image's edge.
      {1024, 768, 100, {{1010, 400}, {500, 300}}, {1151, 559}, {1152, 520, 28, 50}},
      // (700 * 0.8, 990 * 0.8 + 112) and below; image rows 112..911.
      {1600, 1000, 80, {{700, 990}, {100, 100}}, {565, 910}, {550, 912, 50, 28}},
  };
  Gate& gate = gate_;
  std::atomic<int>& where = where_;
  const Case* current = nullptr;
  src_.SetStep([&gate, &where, &current](FakeViewerSource& s, ViewerSurface& surface) {
    if (!gate.Wait(s)) return false;
    const int i = where.load();
    s.MoveCursor(surface, current->spots[i][0], current->spots[i][1]);
    surface.UpdateWindow();
    gate.Done();
    return true;
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    current = &c;
    where = 0;
    src_.GiveCursorImage();
    StartWith(c.w, c.h, true);
    ASSERT_EQ(window_->Transform().sx, c.scale);
    auto marginIsBlack = [&](const QImage& shot) {
      for (int y = c.margin.top(); y <= c.margin.bottom(); ++y)
        for (int x = c.margin.left(); x <= c.margin.right(); ++x)
          ASSERT_EQ(At(shot, x, y), kBlack) << x << "," << y;
    };
    ASSERT_TRUE(gate.Run());
    QImage shot = GrabFromScreen(*window_, QRect(0, 0, 1280, 1024));
    EXPECT_EQ(At(shot, c.white.x(), c.white.y()), kWhite);
    if (c.scale == 100) {
      EXPECT_EQ(At(shot, 1138, 528), kWhite);
    }
    marginIsBlack(shot);
    where = 1;
    ASSERT_TRUE(gate.Run());
    shot = GrabFromScreen(*window_, QRect(0, 0, 1280, 1024));
    EXPECT_NE(At(shot, c.white.x(), c.white.y()), kWhite);
    marginIsBlack(shot);
    if (c.scale == 100) {
      EXPECT_EQ(At(shot, 628, 428), kWhite);
      EXPECT_EQ(At(shot, 1140, 530), PatternPixel(1012, 402) | 0xff000000u);
      EXPECT_EQ(At(shot, 128, 128), PatternPixel(0, 0) | 0xff000000u);
      EXPECT_EQ(At(shot, 1151, 895), PatternPixel(1023, 767) | 0xff000000u);
      EXPECT_EQ(At(shot, 127, 500), kBlack);
      EXPECT_EQ(At(shot, 1152, 895), kBlack);
    }
    window_->SetRestarting();
    window_->Stop();
    window_.reset();
  }
}

TEST_F(WindowTest, InvertingCursorPixelsInvertThePictureBelow) {
  Gate& gate = gate_;
  src_.SetStep([&gate](FakeViewerSource& s, ViewerSurface& surface) {
    if (!gate.Wait(s)) return false;
    {
      // A 16 x 16 cursor: left half inverts, right half transparent.
      std::lock_guard<std::mutex> lock(s.CursorLock());
      RemoteCursorState& c = s.CursorState();
      c.image.width = c.image.height = 16;
      c.image.argb.assign(256, 0);
      c.image.invert.assign(256, 0);
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x) c.image.invert[y * 16 + x] = 1;
      c.hasImage = true;
      c.width = c.height = 16;
    }
    s.Cursor().Update(true, surface);
    s.MoveCursor(surface, 100, 50);
    surface.UpdateWindow();
    gate.Done();
    return true;
  });
  StartWith(320, 200, false);
  ASSERT_TRUE(gate.Run());
  const QImage shot = GrabClient();
  EXPECT_EQ(At(shot, 103, 55), (PatternPixel(103, 55) ^ 0x00ffffffu) | 0xff000000u);
  EXPECT_EQ(At(shot, 110, 55), PatternPixel(110, 55) | 0xff000000u);
  EXPECT_EQ(At(shot, 99, 55), PatternPixel(99, 55) | 0xff000000u);
}

TEST_F(WindowTest, EscapeLeavesFullScreenAndAltEnterTogglesThroughTheOwner) {
  StartWith(800, 600, false);
  const QRect placed = window_->geometry();
  // The owner toggles, as the tray does for ID_FULL_SCREEN.
  window_->SetCommandHandler([this](int id) {
    commands_.push_back(id);
    if (id == kViewerCommandFullScreen) window_->SetFullScreen(!window_->IsFullScreen());
  });
  auto release = [&](int key, Qt::KeyboardModifiers mods) {
    QKeyEvent ev(QEvent::KeyRelease, key, mods);
    QCoreApplication::sendEvent(window_.get(), &ev);
    ProcessUntil([] { return false; }, 50);
  };
  release(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_TRUE(commands_.empty());
  EXPECT_FALSE(window_->IsFullScreen());
  release(Qt::Key_Return, Qt::NoModifier);
  EXPECT_TRUE(commands_.empty());

  release(Qt::Key_Return, Qt::AltModifier);
  EXPECT_EQ(commands_, std::vector<int>{kViewerCommandFullScreen});
  EXPECT_TRUE(window_->IsFullScreen());
  ProcessUntil([&] { return window_->geometry() == QRect(0, 0, 1280, 1024); });
  EXPECT_EQ(window_->geometry(), QRect(0, 0, 1280, 1024));

  release(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_EQ(commands_.size(), 2u);
  EXPECT_FALSE(window_->IsFullScreen());
  ProcessUntil([&] { return window_->geometry() == placed; });
  EXPECT_EQ(window_->geometry(), placed);
  EXPECT_EQ(window_->Scroll(), (viewer_window::ScrollPosition{0, 0}));

  release(Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier);
  EXPECT_TRUE(window_->IsFullScreen());
  release(Qt::Key_Return, Qt::AltModifier);
  EXPECT_FALSE(window_->IsFullScreen());
}

std::string ReadLog() {
  std::ifstream in(Log().FileName());
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

TEST_F(WindowTest, EnteringFullScreenByCommandIsLoggedButNotAtPlacement) {
  Log().Enable(true);
  const int before = CountOf(ReadLog(), "qvViewer: Activated full-screen mode\r\n");
  StartWith(320, 200, true);
  EXPECT_TRUE(window_->IsFullScreen());
  EXPECT_EQ(CountOf(ReadLog(), "qvViewer: Activated full-screen mode\r\n"), before);
  window_->SetFullScreen(false);
  window_->SetFullScreen(true);
  EXPECT_EQ(CountOf(ReadLog(), "qvViewer: Activated full-screen mode\r\n"), before + 1);
  Log().Enable(false);
}

TEST_F(WindowTest, ContextMenuSendsTheWindowsCommands) {
  StartWith(320, 200, false);
  std::vector<QString> texts;
  for (QAction* a : window_->ContextMenu()->actions()) {
    if (a->isSeparator()) {
      texts.push_back("-");
      continue;
    }
    texts.push_back(a->text());
    EXPECT_TRUE(a->isEnabled());
    EXPECT_FALSE(a->isCheckable());
    a->trigger();
  }
  EXPECT_EQ(texts, (std::vector<QString>{"Full Screen\tAlt+Enter", "Hide Window", "Request Refresh",
                                         "-", "Settings...", "About Quillview..."}));
  EXPECT_TRUE(commands_.empty());  // posted, not called from inside the menu
  ProcessUntil([&] { return commands_.size() == 5; });
  EXPECT_EQ(commands_, (std::vector<int>{kViewerCommandFullScreen, kViewerCommandHideWindow,
                                         kViewerCommandRequestRefresh, kViewerCommandSettings,
                                         kViewerCommandAbout}));
}

TEST_F(WindowTest, ClosingTheWindowEndsTheProgramWithoutAMessage) {
  StartWith(320, 200, false);
  window_->close();
  EXPECT_EQ(owner_.fatalStops, 1);
  EXPECT_FALSE(owner_.lastShowMessage);
  // The program's end then stops the viewer: no second call.
  window_->Stop();
  EXPECT_EQ(owner_.fatalStops, 1);
  window_.reset();
}

TEST_F(WindowTest, ARestartDoesNotEndTheProgramButTheLastStopDoes) {
  StartWith(320, 200, false);
  window_->SetRestarting();
  window_->Stop();
  EXPECT_EQ(owner_.fatalStops, 0);
  EXPECT_FALSE(window_->IsRestarting());
  EXPECT_FALSE(window_->isVisible());
  // Started again, the window comes back when the picture does.
  ASSERT_TRUE(window_->Start(&owner_, 5982, false));
  ASSERT_TRUE(WaitExposed(*window_));
  EXPECT_EQ(src_.Cycles(), 2);
  ExpectClientShowsFramebuffer(0, 0);
  window_->Stop();
  EXPECT_EQ(owner_.fatalStops, 1);
  EXPECT_FALSE(owner_.lastShowMessage);
  window_.reset();
}

TEST_F(WindowTest, HiddenWindowLetsUpdatesPassWithoutPainting) {
  StartWith(320, 200, false);
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
  ExpectClientShowsFramebuffer(0, 0);
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
