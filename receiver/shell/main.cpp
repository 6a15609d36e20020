// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv: the receiver program. Reads the command line, starts the tray
// controller with the Qt tray view (or the console view with --headless),
// runs the event loop and shuts down in order. SIGTERM, SIGINT and SIGHUP
// quit like the Quit command; SIGUSR1 writes the --snapshot picture.
#include <signal.h>

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/tray_view.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"
#include "receiver/shell/program.h"
#include "receiver/shell/receiver_settings.h"

namespace qc {

LogFile& Log() {
  static LogFile log("Quillview.log", LogFile::ExitPolicy::Keep);
  return log;
}

}  // namespace qc

namespace {

void PrintHelp() {
  printf(
      "Usage: qvrecv [-port xxxx] [--headless] [--snapshot FILE.png] [--trust KEY]\n"
      "       qvrecv --help | --version\n"
      "\n"
      "Shows the screen that a Quillcast sender broadcasts on the local network.\n"
      "\n"
      "  -port xxxx         data port for this run (even, 1024..65534); not stored\n"
      "  --headless         run without window or tray icon; messages go to stderr\n"
      "  --snapshot FILE    write the received picture (without cursor) as PNG on\n"
      "                     SIGUSR1 and when the program ends\n"
      "  --trust KEY        show only transmissions signed with this sender key (the\n"
      "                     text \"qcsend --new-key\" printed), for this run; the\n"
      "                     settings dialog's \"Sender key\" stores one\n"
      "  --help             show this text\n"
      "  --version          show the version\n"
      "\n"
      "Settings: %s\n"
      "Log file: Quillview.log in the current directory (when EnableLogging is on)\n",
      qc::qvSettings::DefaultPath().c_str());
}

bool HaveDisplay() {
  for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* s = getenv(v);
    if (s != nullptr && s[0] != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  qc::ReceiverCommandLine cl = qc::ParseCommandLine(args);

  // Qt never sees the command line: every token is the receiver's own.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};

  switch (cl.action) {
    case qc::CommandLineAction::Help:
      PrintHelp();
      return 0;
    case qc::CommandLineAction::Version:
      printf("Quillview version 1.1.0\n");
      return 0;
    case qc::CommandLineAction::Usage:
    case qc::CommandLineAction::InvalidKey:
    case qc::CommandLineAction::InvalidPort: {
      bool usage = cl.action == qc::CommandLineAction::Usage;
      const char* caption = usage ? qc::kReceiverUsageCaption : qc::kInvalidValueCaption;
      const char* text = usage ? qc::kReceiverUsageText
                         : cl.action == qc::CommandLineAction::InvalidKey ? qc::kBadKeyText
                                                                          : qc::kInvalidPortText;
      qc::PrintMessage(qc::kReceiverStderrPrefix, caption, text);
      if (!cl.headless && HaveDisplay()) {
        QApplication app(qtArgc, qtArgv);
        QMessageBox::information(nullptr, QString::fromUtf8(caption), QString::fromUtf8(text));
      }
      return 0;
    }
    case qc::CommandLineAction::Run:
      break;
  }

  if (!cl.headless && !HaveDisplay()) {
    fprintf(stderr, "qvrecv: no display to show the picture on (use --headless)\n");
    return -1;
  }
  std::unique_ptr<QCoreApplication> app;
  if (cl.headless) {
    app = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
  } else {
    auto gui = std::make_unique<QApplication>(qtArgc, qtArgv);
    gui->setQuitOnLastWindowClosed(false);
    gui->setWindowIcon(QIcon(QStringLiteral(":/qvrecv/icons/qvrecv-64.png")));
    app = std::move(gui);
  }
  app->setApplicationName(QStringLiteral("Quillview"));
  return qc::RunReceiver(cl);
}
