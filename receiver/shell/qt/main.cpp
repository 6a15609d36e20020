// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv: the receiver program. Reads the command line, starts as
// shell/startup.h says, and runs the controller with the Qt tray view and
// the viewer window (the console view and no window with --headless) until
// the event loop ends; then shuts down in order. SIGTERM, SIGINT and SIGHUP
// quit like the Quit command; SIGUSR1 writes the --snapshot picture.
#include <signal.h>

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "platform/qt/signal_bridge.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/console_view.h"
#include "receiver/shell/program_viewers.h"
#include "receiver/shell/qt/qt_tray_view.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/shell/receiver_start.h"
#include "receiver/shell/qt/snapshot.h"
#include "receiver/viewer/qt/viewer_window.h"
#include "shell/qt/qt_startup.h"

namespace qc {

LogFile& Log() {
  static LogFile log("Quillview.log", LogFile::ExitPolicy::Keep);
  return log;
}

namespace {

void Snapshot(const ProgramViewer& viewer, const std::string& path) {
  if (path.empty()) return;
  if (!WriteSnapshot(viewer.Picture(), QString::fromStdString(path))) {
    fprintf(stderr, "%sno picture written to %s (nothing received yet)\n", kReceiverStderrPrefix,
            path.c_str());
  }
}

// The run once the UI services exist: controller, view, viewer, signals,
// event loop, orderly shutdown.
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

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  const qc::ReceiverCommandLine cl =
      qc::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const std::string help = qc::ReceiverHelp(/*snapshots=*/true, qc::qvSettings::DefaultPath());
  return qc::RunQtProgram(qc::ReceiverStart(), qc::ReceiverStartRequest(cl, help), argv[0],
                          [&cl](qc::UiServices& ui, bool) { return qc::RunReceiver(ui, cl); });
}
