// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend.exe: the Windows sender. Reads the command line, makes sure only one
// sender runs (a named mutex), creates the tray controller with its Win32
// view and the GDI capture sources, runs the message loop and shuts the
// controller down. Settings live in the registry (HKEY_CURRENT_USER).
#include <windows.h>

#include <cstdio>
#include <memory>

#include "common/log_file.h"
#include "platform/lock_file.h"
#include "platform/settings_file.h"
#include "sender/capture/capture.h"
#include "sender/capture/windows/gdi_cursor_source.h"
#include "sender/capture/windows/gdi_screen_source.h"
#include "sender/shell/command_line.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/sender_settings.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"
#include "windows/sender/win_acceleration.h"
#include "windows/sender/win_tray_view.h"
#include "windows/startup.h"

namespace qc {

// The program's log: "Quillcast.log" in the working directory, deleted at
// exit when logging is off then.
LogFile& Log() {
  static LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled);
  return log;
}

namespace {

constexpr char kInstanceName[] = "QC_Win32_Instance";

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
  CommandLine cmd = ParseArguments(argc, argv);
  std::string settingsPath = SettingsFile::DefaultPath(kSenderSettingsFile);
  if (cmd.status == CommandLine::Status::Ok && cmd.help) {
    fputs(LongUsage(settingsPath).c_str(), stdout);
    return 0;
  }
  if (cmd.status == CommandLine::Status::Ok && cmd.version) {
    puts("qcsend (Quillcast) 1.1.0");
    return 0;
  }
  if (cmd.status == CommandLine::Status::Ok && cmd.newKey) {
    std::string report;
    const bool made = MakeSenderKey(report);
    fputs(report.c_str(), made ? stdout : stderr);
    return made ? 0 : 1;
  }
  bool gui = !cmd.headless;
  if (cmd.status == CommandLine::Status::Usage) {
    StartupMessage("", gui, kUsageCaption, kUsageText, MessageIcon::Information);
    return 0;
  }
  if (cmd.status == CommandLine::Status::InvalidPort) {
    StartupMessage("", gui, kInvalidValueCaption, kInvalidPortText, MessageIcon::Information);
    return 0;
  }

  LockFile instance;
  switch (instance.Acquire(LockFile::DefaultPath(kInstanceName))) {
    case LockFile::Result::Acquired: break;
    case LockFile::Result::Failed:
      StartupMessage("", gui, kErrorCaption, "Cannot create mutex.", MessageIcon::Error);
      return 0;
    case LockFile::Result::HeldElsewhere:
      StartupMessage("", gui, kErrorCaption, "Quillcast is already running.", MessageIcon::Error);
      return 0;
  }

  WinTrayView view(cmd.headless);
  if (!view.Created()) {
    StartupMessage("", gui, kErrorCaption, "Cannot start Quillcast.", MessageIcon::Error);
    return -1;
  }
  SettingsFile settings(settingsPath);
  RegistryAcceleration acceleration;  // the display driver's "Acceleration.Level"
  qcTray* trayPtr = nullptr;  // the factory runs from Init on, once the tray exists
  qcTray tray(view, settings, acceleration, [&trayPtr] { return MakeEngine(*trayPtr); });
  trayPtr = &tray;
  view.Attach(tray);
  tray.SetAreaFromCommandLine(cmd.monitor, cmd.region);
  tray.SetMonitorLister([] { return GdiScreenSource::ListMonitors(); });
  // Ctrl+C, Ctrl+Break, closing the console, log-off and shut-down: the
  // controller quits on its own thread (its Quit sends the disconnection
  // datagram).
  QuitOnConsoleEvents([&] { view.PostToUi([&tray] { tray.OnCommand(ID_QUIT); }); });

  std::string signing;
  if (!tray.UseStoredSigningKey(signing)) {
    StartupMessage("", gui, kErrorCaption, signing.c_str(), MessageIcon::Error);
    return -1;
  }
  if (!signing.empty()) PrintMessage("", "Quillcast", signing.c_str());

  if (!tray.Init(cmd.start, cmd.port)) {
    QuitOnConsoleEvents(nullptr);
    tray.AbortInit();
    StartupMessage("", gui, kErrorCaption,
            "Cannot start Quillcast.\nSee the log file (Quillcast.log) for details.",
            MessageIcon::Error);
    return -1;
  }
  if (cmd.port != 0) tray.SetPortFromCommandLine();

  view.Run();
  QuitOnConsoleEvents(nullptr);
  tray.Shutdown();
  return 0;
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
