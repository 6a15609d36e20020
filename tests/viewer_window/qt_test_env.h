// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt side of the viewer window tests: a QApplication on a private Xvfb
// (1280 x 1024, 24 bits, xcb platform) or on the offscreen platform, event
// loop helpers, screen grabs and the test pattern.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/xvfb_server.h"

namespace qc::test {

// True when the run asks for the OpenGL view (QV_RENDERER=gl).
inline bool GlForced() { return qgetenv("QV_RENDERER") == "gl"; }

class QtEnvironment : public testing::Environment {
 public:
  // The OpenGL view (QV_RENDERER=gl) needs a display with GLX: such runs
  // always get the Xvfb.
  explicit QtEnvironment(bool onXvfb) : onXvfb_(onXvfb || GlForced()) {}
  void SetUp() override {
    if (onXvfb_) {
      xvfb_ = std::make_unique<XvfbServer>("1280x1024x24");
      ASSERT_TRUE(xvfb_->Ready()) << "Xvfb did not start";
      qputenv("DISPLAY", xvfb_->Display().c_str());
      qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
      qputenv("QT_QPA_PLATFORM", "offscreen");
      // The offscreen platform warns about every raise(); nothing to learn.
      qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
        if (!msg.startsWith(QLatin1String("This plugin does not support"))) {
          fprintf(stderr, "%s\n", qPrintable(msg));
        }
      });
    }
    // No session bus: the tests need none, and its client library leaks.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    static int argc = 1;
    static char name[] = "viewer_window_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override {
    app_.reset();
    xvfb_.reset();
  }

 private:
  bool onXvfb_;
  std::unique_ptr<XvfbServer> xvfb_;
  std::unique_ptr<QApplication> app_;
};

// Runs the event loop until pred() holds or maxMs passed (a limit for a
// hung window, not a speed requirement); returns pred().
inline bool ProcessUntil(const std::function<bool()>& pred, int maxMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

// Waits until the window is on screen and its first paint reached the X
// server.
inline bool WaitExposed(QWidget& w) {
  const bool ok = ProcessUntil([&] {
    return w.isVisible() && w.windowHandle() != nullptr && w.windowHandle()->isExposed();
  });
  ProcessUntil([] { return false; }, 150);
  return ok;
}

// What the X server shows of the widget's rectangle (window coordinates).
inline QImage GrabFromScreen(QWidget& window, const QRect& rect) {
  return QGuiApplication::primaryScreen()
      ->grabWindow(window.winId(), rect.x(), rect.y(), rect.width(), rect.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

// The largest difference of one colour channel between two images of one
// size (256 when the sizes differ).
inline int MaxChannelDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 256;
  int most = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      most = std::max({most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                       std::abs(qBlue(p) - qBlue(q))});
    }
  return most;
}

// The test pattern: every pixel different in its neighbourhood.
inline uint32_t PatternPixel(int x, int y) {
  return (static_cast<uint32_t>((x * 7) & 0xff) << 16) | (static_cast<uint32_t>((y * 3) & 0xff) << 8) |
         static_cast<uint32_t>((x ^ y) & 0xff);
}
inline void FillPattern32(uint8_t* px, int w, int h) {
  auto* p = reinterpret_cast<uint32_t*>(px);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p[static_cast<size_t>(y) * w + x] = PatternPixel(x, y);
}

}  // namespace qc::test
