// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/program.h"

#include <signal.h>

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <memory>

#include "common/log_file.h"
#include "platform/qt/signal_bridge.h"
#include "receiver/shell/console_view.h"
#include "receiver/shell/program_viewers.h"
#include "receiver/shell/qt_tray_view.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/shell/receiver_start.h"
#include "receiver/shell/snapshot.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/viewer/viewer_window.h"

namespace qc {

namespace {

void Snapshot(const ProgramViewer& viewer, const std::string& path) {
  if (path.empty()) return;
  if (!WriteSnapshot(viewer.Picture(), QString::fromStdString(path))) {
    fprintf(stderr, "%sno picture written to %s (nothing received yet)\n", kReceiverStderrPrefix,
            path.c_str());
  }
}

}  // namespace

int RunReceiver(UiServices& ui, const ReceiverCommandLine& cl) {
  QCoreApplication::setApplicationName(QStringLiteral("Quillview"));
  qvSettings store(qvSettings::DefaultPath());
  std::unique_ptr<ReceiverTrayView> view;
  std::unique_ptr<ProgramViewer> viewer;
  if (cl.headless) {
    view = std::make_unique<ReceiverConsoleView>();
    viewer = std::make_unique<HeadlessViewer>();
  } else {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/qvrecv/icons/qvrecv-64.png")));
    view = std::make_unique<ReceiverQtTrayView>();
    viewer = std::make_unique<WindowViewer<ViewerWindow>>();
  }
  qvTray tray(ui, *view, *viewer, store);
  tray.SetClosingHook([&] { Snapshot(*viewer, cl.snapshotPath); });

  SignalBridge signalBridge({SIGTERM, SIGINT, SIGHUP, SIGUSR1}, [&](int signo) {
    if (signo == SIGUSR1) {
      Snapshot(*viewer, cl.snapshotPath);
    } else {
      tray.OnCommand(ID_QUIT);
    }
  });

  if (!cl.trustKey.empty()) tray.TrustSenderForThisRun(cl.trustKey);
  if (!tray.Init(cl.port)) {
    ui.ShowMessage(kReceiverErrorCaption, kCannotStartText, MessageIcon::Error);
    return -1;
  }
  int code = QCoreApplication::exec();
  tray.Shutdown();
  return code;
}

}  // namespace qc
