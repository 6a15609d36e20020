// Test environment of the real-window tests: a private Xvfb (1280 x 1024,
// 24 bits) and a QApplication on it through the xcb platform.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <memory>

#include "tests/viewer_window/qt_test_support.h"
#include "tests/support/xvfb_server.h"

namespace qc::test {

class XvfbQtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    xvfb_ = std::make_unique<XvfbServer>("1280x1024x24");
    ASSERT_TRUE(xvfb_->Ready()) << "no free display among :70 to :79";
    qputenv("DISPLAY", xvfb_->Display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
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
  std::unique_ptr<XvfbServer> xvfb_;
  std::unique_ptr<QApplication> app_;
};

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
  QScreen* screen = QGuiApplication::primaryScreen();
  return screen->grabWindow(window.winId(), rect.x(), rect.y(), rect.width(), rect.height())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
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
