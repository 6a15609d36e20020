// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv: the receiver program. Reads the command line, starts as
// shell/startup.h says and runs the receiver (receiver/shell/program.h):
// the Qt tray view, or the console view with --headless. SIGTERM, SIGINT
// and SIGHUP quit like the Quit command; SIGUSR1 writes the --snapshot
// picture.
#include <string>
#include <vector>

#include "common/log_file.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/program.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/shell/receiver_start.h"
#include "shell/qt/qt_startup.h"

namespace qc {

LogFile& Log() {
  static LogFile log("Quillview.log", LogFile::ExitPolicy::Keep);
  return log;
}

}  // namespace qc

int main(int argc, char** argv) {
  const qc::ReceiverCommandLine cl =
      qc::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  const std::string help = qc::ReceiverHelp(/*snapshots=*/true, qc::qvSettings::DefaultPath());
  return qc::RunQtProgram(qc::ReceiverStart(), qc::ReceiverStartRequest(cl, help), argv[0],
                          [&cl](qc::UiServices& ui, bool) { return qc::RunReceiver(ui, cl); });
}
