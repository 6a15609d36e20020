// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend.exe: the Windows sender. Reads the command line, starts as
// shell/startup.h says (one sender at a time: a named mutex), creates the
// tray controller on its hidden window with the Win32 view (or the console
// view) and the GDI capture sources, runs the message loop and shuts the
// controller down. Settings live in the registry (HKEY_CURRENT_USER).
#include <windows.h>

#include <cstdio>
#include <memory>

#include "common/log_file.h"
#include "platform/settings_file.h"
#include "sender/capture/capture.h"
#include "sender/capture/windows/gdi_cursor_source.h"
#include "sender/capture/windows/gdi_screen_source.h"
#include "sender/shell/command_line.h"
#include "sender/shell/console_view.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/sender_settings.h"
#include "sender/shell/sender_start.h"
#include "sender/shell/windows/win_acceleration.h"
#include "sender/shell/windows/win_tray_view.h"
#include "shell/windows/startup.h"

namespace qc {

// The program's log: "Quillcast.log" in the working directory, deleted at
// exit when logging is off then.
LogFile& Log() {
  static LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled);
  return log;
}

namespace {

// The engine on the area the tray chose.
std::unique_ptr<CaptureEngine> MakeEngine(const qcTray& tray) {
  GdiScreenSource::Options options;
  options.area = tray.ShareChoice();
  return std::make_unique<qcCapture>(std::make_unique<GdiScreenSource>(options),
                                     std::make_unique<GdiCursorSource>());
}

int Run(int argc, char** argv) {
  // The log object exists from the start, so that its exit step (which
  // deletes a log left over while logging is off) always runs.
  Log();
  const CommandLine cmd = ParseArguments(argc, argv);
  const std::string settingsPath = SettingsFile::DefaultPath(kSenderSettingsFile);
  std::unique_ptr<TrayWindow> window;
  ProgramStart start = SenderStart();
  start.makeUi = [&window](const UiStyle& style) -> UiServices& {
    // A hidden top-level window (not message-only): only those receive the
    // WM_DISPLAYCHANGE broadcast.
    window = std::make_unique<TrayWindow>("QC_Win32_TrayWindow", "Quillcast", false, style);
    return *window;
  };
  const StartRequest request = SenderStartRequest(cmd, settingsPath);
  return RunProgram(start, request, [&](UiServices& ui, bool headless) {
    if (window->Handle() == nullptr) {
      ui.ShowMessage(kErrorCaption, "Cannot start Quillcast.", MessageIcon::Error);
      return -1;
    }
    std::unique_ptr<TrayView> view;
    WinTrayView* trayView = nullptr;
    if (headless) {
      view = std::make_unique<ConsoleView>("the registry values");
    } else {
      view = std::make_unique<WinTrayView>(*window);
      trayView = static_cast<WinTrayView*>(view.get());
    }
    SettingsFile settings(settingsPath);
    RegistryAcceleration acceleration;  // the display driver's "Acceleration.Level"
    qcTray* trayPtr = nullptr;  // the factory runs from Init on, once the tray exists
    qcTray tray(ui, *view, settings, acceleration, [&trayPtr] { return MakeEngine(*trayPtr); });
    trayPtr = &tray;
    if (trayView != nullptr) trayView->Attach(tray);
    tray.SetAreaFromCommandLine(cmd.monitor, cmd.region);
    tray.SetMonitorLister([] { return GdiScreenSource::ListMonitors(); });
    window->AddHandler([&tray](UINT msg, WPARAM wp, LPARAM) {
      if (msg == WM_DISPLAYCHANGE) tray.OnDisplayChange();
      if (msg == WM_CLOSE || (msg == WM_ENDSESSION && wp != 0)) tray.OnCommand(ID_QUIT);
      return msg == WM_DISPLAYCHANGE || msg == WM_CLOSE || msg == WM_ENDSESSION;
    });
    // Ctrl+C, Ctrl+Break, closing the console, log-off and shut-down: the
    // controller quits on its own thread (its Quit sends the disconnection
    // datagram).
    QuitOnConsoleEvents consoleQuit([&] { ui.Post([&tray] { tray.OnCommand(ID_QUIT); }); });

    return RunSenderTray(ui, tray, cmd, "", [&window, trayView] {
      return window->Run([trayView](MSG& msg) {
        return trayView != nullptr && trayView->TakesMessage(msg);  // Esc in Starting
      });
    });
  });
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
