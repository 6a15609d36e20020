// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the documentation's screenshots of the viewer window: a made-up
// 1920 x 1080 sender desktop shown on a private 1280 x 1024 Xvfb, once
// windowed (scroll bars, scrolled a little) and once full screen (scaled to
// 66 %, letter-boxed). Not a test; run by hand:
//   viewer_window_screenshots docs/qvrecv-windowed.png docs/qvrecv-fullscreen.png
#include <QApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <cstdio>
#include <cstring>

#include "receiver/viewer/qt/viewer_window.h"
#include "tests/viewer_window/fake_viewer_source.h"
#include "tests/support/xvfb_server.h"

namespace {

// A sender's desktop: a panel and an editor window with code.
QImage SenderDesktop(int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient sky(0, 0, 0, h);
  sky.setColorAt(0, QColor(38, 70, 110));
  sky.setColorAt(1, QColor(90, 130, 160));
  p.fillRect(0, 0, w, h, sky);
  p.fillRect(0, 0, w, 32, QColor(30, 30, 34));
  p.setPen(QColor(230, 230, 230));
  p.setFont(QFont("DejaVu Sans", 11));
  p.drawText(QRect(12, 0, 400, 32), Qt::AlignVCenter, "Activities     Editor     Terminal");
  p.drawText(QRect(w - 220, 0, 208, 32), Qt::AlignVCenter | Qt::AlignRight, "Mon 10:42");

  auto window = [&](QRect r, const char* title, QColor body) {
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(r, 8, 8);
    p.setBrush(QColor(60, 63, 70));
    QPainterPath bar;
    bar.addRoundedRect(QRectF(r.left(), r.top(), r.width(), 34), 8, 8);
    p.drawPath(bar);
    p.setPen(QColor(235, 235, 235));
    p.setFont(QFont("DejaVu Sans", 11, QFont::Bold));
    p.drawText(QRect(r.left(), r.top(), r.width(), 34), Qt::AlignCenter, title);
  };

  const QRect editor(90, 80, 1100, 760);
  window(editor, "frame_painter.cpp - Editor", QColor(250, 250, 246));
  p.setFont(QFont("DejaVu Sans Mono", 12));
  const char* code[] = {
      "// Paints the client-area rectangle: image and black margins.",
      "void FramePainter::Paint(QPainter& painter, const QRect& area) {",
      "  const QRect image = ImageRect();",
      "  const QRect part = area & image;",
      "  if (part.isEmpty()) {",
      "    painter.fillRect(area, Qt::black);",
      "    return;",
      "  }",
      "  FillMargins(painter, area, part);",
      "  if (scale_ == 100) {",
      "    ConvertRect(part);",
      "  } else {",
      "    ScaleRect(part);   // area average, 22-bit lanes",
      "  }",
      "}",
      "",
      "The quick brown fox jumps over the lazy dog. 0123456789",
      "Small text stays legible when the screen is scaled down.",
  };
  int y = editor.top() + 66;
  int line = 1;
  for (const char* text : code) {
    p.setPen(QColor(150, 150, 150));
    p.drawText(editor.left() + 14, y, QString::number(line++).rightJustified(3));
    p.setPen(text[0] == '/' ? QColor(40, 130, 60) : QColor(30, 30, 60));
    p.drawText(editor.left() + 64, y, QString::fromLatin1(text));
    y += 24;
  }

  return img;
}

// An arrow pointer, premultiplied ARGB, hot spot at its tip.
void ArrowCursor(qc::RemoteCursorImage& out) {
  QImage img(32, 32, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(1, 1);
    arrow.lineTo(1, 22);
    arrow.lineTo(6, 17);
    arrow.lineTo(10, 26);
    arrow.lineTo(13, 25);
    arrow.lineTo(9, 16);
    arrow.lineTo(16, 16);
    arrow.closeSubpath();
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(Qt::black);
    p.drawPath(arrow);
  }
  out.width = out.height = 32;
  out.hotX = out.hotY = 1;
  out.argb.assign(reinterpret_cast<const uint32_t*>(img.constBits()),
                  reinterpret_cast<const uint32_t*>(img.constBits()) + 32 * 32);
  out.invert.clear();
}

bool Save(const char* path) {
  qc::test::ProcessUntil([] { return false; }, 300);
  const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
  if (!shot.save(QString::fromLocal8Bit(path))) {
    fprintf(stderr, "cannot write %s\n", path);
    return false;
  }
  printf("wrote %s (%dx%d)\n", path, shot.width(), shot.height());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s WINDOWED.png FULLSCREEN.png\n", argv[0]);
    return 2;
  }
  qc::test::XvfbServer xvfb("1280x1024x24");
  if (!xvfb.Ready()) {
    fprintf(stderr, "no free display among :70 to :79\n");
    return 1;
  }
  qputenv("DISPLAY", xvfb.Display().c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
  qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  int qtArgc = 1;
  QApplication app(qtArgc, argv);

  const QImage desktop = SenderDesktop(1920, 1080);
  qc::test::FakeViewerSource src;
  src.SetFormat(1920, 1080);
  src.SetPattern([&desktop](uint8_t* px, int w, int h) {
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(px) + static_cast<size_t>(y) * w;
      std::memcpy(row, desktop.constScanLine(y), static_cast<size_t>(w) * 4);
      for (int x = 0; x < w; ++x) row[x] &= 0x00ffffffu;  // the sender's pad byte
    }
  });
  src.SetStep([](qc::test::FakeViewerSource& s, qc::ViewerSurface& surface) {
    {
      std::lock_guard<std::mutex> lock(s.CursorLock());
      qc::RemoteCursorState& c = s.CursorState();
      ArrowCursor(c.image);
      c.hasImage = true;
      c.width = c.height = 32;
    }
    s.Cursor().Update(true, surface);
    s.MoveCursor(surface, 700, 400);
    surface.UpdateWindow();
    return false;
  });
  qc::test::RecordingOwner owner;
  qc::ViewerWindow window(src);
  window.Start(&owner, 5982, false);
  qc::test::ProcessUntil([&] { return src.StepsDone() && window.isVisible(); });
  window.ScrollBy(180, 60);
  if (!Save(argv[1])) return 1;
  window.SetFullScreen(true);
  if (!Save(argv[2])) return 1;
  window.SetRestarting();
  window.Stop();
  return 0;
}
