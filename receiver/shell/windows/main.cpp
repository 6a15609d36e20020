// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv.exe: the Windows receiver. Reads the command line, starts as
// shell/startup.h says, creates the tray controller on its hidden window
// with the Win32 view and viewer window (the console view and no window
// with --headless), runs the message loop and shuts the controller down.
// Settings live in the registry (HKEY_CURRENT_USER). Several receivers may
// run at once.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/console_view.h"
#include "receiver/shell/program_viewers.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/shell/receiver_start.h"
#include "receiver/shell/windows/resource.h"
#include "receiver/shell/windows/win_receiver_view.h"
#include "receiver/viewer/windows/win_viewer_window.h"
#include "shell/windows/startup.h"

namespace qc {

// The program's log: "Quillview.log" in the working directory, kept.
LogFile& Log() {
  static LogFile log("Quillview.log", LogFile::ExitPolicy::Keep);
  return log;
}

namespace {

int Run(int argc, char** argv) {
  // The log object exists from the start, so that its exit step runs.
  Log();
  SetProcessShutdownParameters(0x100, 0);
  const ReceiverCommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  std::unique_ptr<TrayWindow> window;
  ProgramStart start = ReceiverStart();
  start.makeUi = [&window](const UiStyle& style) -> UiServices& {
    // Never shown: it carries the icon's callbacks, the timers, the hot key
    // and the commands. Headless, a message-only window: it needs no display.
    constexpr char kTrayClass[] = "Quillview Tray Class";
    window = std::make_unique<TrayWindow>(
        kTrayClass, kTrayClass, !style.boxes, style,
        LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_RED_GREEN)));
    return *window;
  };
  const std::string help =
      ReceiverHelp(/*snapshots=*/false, "HKEY_CURRENT_USER\\" + qvSettings::DefaultPath());
  return RunProgram(start, ReceiverStartRequest(cl, help), [&](UiServices& ui, bool headless) {
    if (!cl.snapshotPath.empty()) {
      fprintf(stderr, "%s--snapshot is not available in this build; no picture is written\n",
              kReceiverStderrPrefix);
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);

    qvSettings store(qvSettings::DefaultPath());
    std::unique_ptr<ReceiverTrayView> view;
    std::unique_ptr<ViewerControl> viewer;
    bool created = window->Handle() != nullptr;
    if (!created) Log().Print("qvTray: Failed to create dummy window\n");
    if (headless) {
      view = std::make_unique<ReceiverConsoleView>();
      viewer = std::make_unique<HeadlessViewer>();
    } else {
      auto trayView = std::make_unique<WinReceiverView>(*window);
      created = created && trayView->Created();
      view = std::move(trayView);
      WinViewerWindow::SetClassIcon(IDI_RED_GREEN);
      viewer = std::make_unique<WindowViewer<WinViewerWindow>>();
    }
    if (!created) {
      ui.ShowMessage(kReceiverErrorCaption, kCannotStartText, MessageIcon::Error);
      return -1;
    }
    qvTray tray(ui, *view, *viewer, store);
    window->AddHandler([&tray](UINT msg, WPARAM wp, LPARAM) {
      // The controller removes the icon, stops the viewer and ends the loop.
      if (msg == WM_CLOSE || (msg == WM_ENDSESSION && wp != 0)) tray.Close();
      return msg == WM_CLOSE || msg == WM_ENDSESSION;
    });
    // The controller quits on its own thread.
    QuitOnConsoleEvents consoleQuit([&] { ui.Post([&tray] { tray.OnCommand(ID_QUIT); }); });

    if (!cl.trustKey.empty()) tray.TrustSenderForThisRun(cl.trustKey);
    if (!tray.Init(cl.port)) {
      ui.ShowMessage(kReceiverErrorCaption, kCannotStartText, MessageIcon::Error);
      return -1;
    }
    const int code = window->Run();
    tray.Shutdown();
    return code;
  });
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
