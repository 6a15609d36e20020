// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/qt/consent_wait.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "common/log_file.h"
#include "sender/capture/wayland/portal_consent.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/qt/qt_tray_view.h"

namespace qc {

namespace {

constexpr char kWaitingTip[] = "Quillcast - Waiting for permission to share the screen";
// A stored permission answers within milliseconds: only a longer wait is a
// dialog the user has to see to.
constexpr int kShowAfterMs = 300;

}  // namespace

ConsentWaitResult WaitForScreenConsent(bool gui, const std::string& tokenPath,
                                       int answerTimeoutMs) {
  ConsentWaitResult out;
  QEventLoop loop;
  bool answered = false;
  // A quit (the icon's menu, or a quit signal through QCoreApplication::exit)
  // leaves the loop without an answer.
  std::unique_ptr<QMenu> menu;
  std::unique_ptr<QSystemTrayIcon> icon;
  QTimer show;
  show.setSingleShot(true);
  QObject::connect(&show, &QTimer::timeout, [&] {
    Log().Print("qcsend: Waiting for the desktop's permission to share the screen\n");
    if (!gui) {
      fputs("qcsend: Waiting for the desktop's permission to share the screen\n", stderr);
      return;
    }
    menu = std::make_unique<QMenu>();
    QAction* quit = menu->addAction(QStringLiteral("&Quit"));
    QObject::connect(quit, &QAction::triggered, &loop, [&loop] { loop.exit(1); });
    icon = std::make_unique<QSystemTrayIcon>(TrayIconImage(kPausedIcon));
    icon->setToolTip(QString::fromUtf8(kWaitingTip));
    icon->setContextMenu(menu.get());
    icon->show();
  });
  show.start(kShowAfterMs);
  PortalConsent consent(tokenPath, answerTimeoutMs);
  consent.Begin([&loop, &answered] {
    QMetaObject::invokeMethod(
        &loop,
        [&loop, &answered] {
          answered = true;
          loop.exit(0);
        },
        Qt::QueuedConnection);
  });
  loop.exec();
  if (!answered) {
    consent.Cancel();
    out.quit = true;
  }
  consent.Join();
  // The consent's thread has ended: its outcome is final.
  show.stop();
  if (icon) icon->hide();
  if (out.quit) {
    Log().Print("qcsend: Quit while waiting for the desktop's permission\n");
    return out;
  }
  out.cast = consent.TakeCast();
  if (!out.cast) out.reason = consent.Reason();
  return out;
}

}  // namespace qc
