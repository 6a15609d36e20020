// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv.exe: the Windows receiver. Reads the command line, creates the tray
// controller with its Win32 view and the viewer (the Win32 viewer window, or
// nothing with --headless), runs the message loop and shuts the controller
// down. Settings live in the registry (HKEY_CURRENT_USER). Several
// receivers may run at once.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/program.h"
#include "receiver/shell/program_viewers.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/receiver_settings.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"
#include "windows/receiver/win_receiver_view.h"
#include "windows/receiver/win_viewer_window.h"
#include "windows/startup.h"

namespace qc {

// The program's log: "Quillview.log" in the working directory, kept.
LogFile& Log() {
  static LogFile log("Quillview.log", LogFile::ExitPolicy::Keep);
  return log;
}

namespace {

void PrintHelp() {
  printf(
      "Usage: qvrecv [-port xxxx] [--headless] [--trust KEY]\n"
      "       qvrecv --help | --version\n"
      "\n"
      "Shows the screen that a Quillcast sender broadcasts on the local network.\n"
      "\n"
      "  -port xxxx         data port for this run (even, 1024..65534); not stored\n"
      "  --headless         run without window or tray icon; messages go to stderr\n"
      "  --trust KEY        show only transmissions signed with this sender key, for\n"
      "                     this run\n"
      "  --help             show this text\n"
      "  --version          show the version\n"
      "\n"
      "Settings: HKEY_CURRENT_USER\\%s\n"
      "Log file: Quillview.log in the current directory (when EnableLogging is on)\n",
      qvSettings::DefaultPath().c_str());
}

int Run(int argc, char** argv) {
  // The log object exists from the start, so that its exit step runs.
  Log();
  SetProcessShutdownParameters(0x100, 0);
  std::vector<std::string> args(argv + 1, argv + argc);
  const ReceiverCommandLine cl = ParseCommandLine(args);
  switch (cl.action) {
    case CommandLineAction::Help:
      PrintHelp();
      return 0;
    case CommandLineAction::Version:
      printf("Quillview version 1.1.0\n");
      return 0;
    case CommandLineAction::Usage:
    case CommandLineAction::InvalidKey:
    case CommandLineAction::InvalidPort: {
      const bool usage = cl.action == CommandLineAction::Usage;
      const char* caption = usage ? kReceiverUsageCaption : kInvalidValueCaption;
      const char* text = usage ? kReceiverUsageText
                         : cl.action == CommandLineAction::InvalidKey ? kBadKeyText
                                                                          : kInvalidPortText;
      StartupMessage(kReceiverStderrPrefix, !cl.headless, caption, text,
                     MessageIcon::Information);
      return 0;
    }
    case CommandLineAction::Run:
      break;
  }
  if (!cl.snapshotPath.empty()) {
    fprintf(stderr, "%s--snapshot is not available in this build; no picture is written\n",
            kReceiverStderrPrefix);
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
  InitCommonControlsEx(&controls);

  qvSettings store(qvSettings::DefaultPath());
  WinReceiverView view(cl.headless);
  std::unique_ptr<ViewerControl> viewer;
  if (cl.headless) {
    viewer = std::make_unique<HeadlessViewer>();
  } else {
    viewer = std::make_unique<WindowViewer<WinViewerWindow>>();
  }
  if (!view.Created()) {
    view.ShowMessage(kReceiverErrorCaption, kCannotStartText, MessageIcon::Error);
    return -1;
  }
  qvTray tray(view, *viewer, store);
  // The controller quits on its own thread.
  QuitOnConsoleEvents([&] { view.Post([&tray] { tray.OnCommand(ID_QUIT); }); });

  if (!cl.trustKey.empty()) tray.TrustSenderForThisRun(cl.trustKey);
  if (!tray.Init(cl.port)) {
    QuitOnConsoleEvents(nullptr);
    view.ShowMessage(kReceiverErrorCaption, kCannotStartText, MessageIcon::Error);
    return -1;
  }
  const int code = view.Run();
  QuitOnConsoleEvents(nullptr);
  tray.Shutdown();
  return code;
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
