// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend: shows this computer's screen on every receiver of the local
// network. Reads the command line, makes sure only one sender runs, creates
// the tray controller with its view (the tray, or standard error with
// --headless), runs the event loop and shuts the controller down.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/log_file.h"
#include "platform/lock_file.h"
#include "platform/qt/signal_bridge.h"
#include "platform/settings_file.h"
#include "sender/capture/capture.h"
#include "sender/capture/wayland/portal_screen_source.h"
#include "sender/capture/wayland/wlr_screen_source.h"
#include "sender/capture/x11/x11_cursor_source.h"
#include "sender/capture/x11/x11_screen_source.h"
#include "sender/shell/acceleration.h"
#include "sender/shell/capture_choice.h"
#include "sender/shell/command_line.h"
#include "sender/shell/consent_wait.h"
#include "sender/shell/console_view.h"
#include "sender/shell/qt_tray_view.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/sender_settings.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"

namespace qc {

// The program's log: "Quillcast.log" in the working directory, deleted at
// exit when logging is off then.
LogFile& Log() {
  static LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled);
  return log;
}

namespace {

constexpr char kInstanceName[] = "QC_Win32_Instance";

// A box without owner (none with --headless) and the same text on
// standard error.
void Message(bool gui, const char* caption, const char* text, MessageIcon icon) {
  PrintMessage("", caption, text);
  if (!gui) return;
  QMessageBox::Icon qtIcon =
      icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Information;
  QMessageBox box(qtIcon, caption, text, QMessageBox::Ok);
  box.exec();
}

// How long the desktop's screen-sharing dialog may wait for an answer.
int PortalAnswerTimeoutMs() {
  if (const char* wait = getenv("QC_PORTAL_ANSWER_TIMEOUT"); wait != nullptr && atoi(wait) > 0) {
    return std::min(atoi(wait), 3600) * 1000;  // seconds
  }
  return PortalScreenSource::Options{}.answerTimeoutMs;
}

// The engine on the area the tray chose, with the capture chosen at start.
// The portal's source takes the session started while the tray waited, if
// any; a portal that does not share the screen says why in `refusal`.
std::unique_ptr<CaptureEngine> MakeEngine(const qcTray& tray, CaptureBackend backend,
                                          const std::string& tokenPath,
                                          std::unique_ptr<PortalScreenCast>& started,
                                          std::string& refusal) {
  if (backend == CaptureBackend::Portal) {
    PortalScreenSource::Options options;
    options.area = tray.ShareChoice();
    options.tokenPath = tokenPath;
    refusal.clear();
    options.refused = [&refusal](const std::string& why) { refusal = why; };
    options.answerTimeoutMs = PortalAnswerTimeoutMs();
    options.started = std::move(started);
    auto screen = std::make_unique<PortalScreenSource>(std::move(options));
    auto cursor = screen->MakeCursorSource();
    return std::make_unique<qcCapture>(std::move(screen), std::move(cursor));
  }
  if (backend == CaptureBackend::Wlr) {
    WlrScreenSource::Options options;
    options.area = tray.ShareChoice();
    // The compositor draws the cursor into the frames: no cursor source.
    return std::make_unique<qcCapture>(std::make_unique<WlrScreenSource>(options), nullptr);
  }
  X11ScreenSource::Options options;
  options.area = tray.ShareChoice();
  return std::make_unique<qcCapture>(std::make_unique<X11ScreenSource>(options),
                                     X11CursorSource::Create());
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

  // Without a display the toolkit would abort: the command line's messages
  // then go to standard error only, and the tray cannot start.
  bool haveDisplay = getenv("DISPLAY") != nullptr || getenv("WAYLAND_DISPLAY") != nullptr ||
                     getenv("QT_QPA_PLATFORM") != nullptr;
  bool gui = !cmd.headless && haveDisplay;
  std::unique_ptr<QCoreApplication> app;
  if (gui) {
    auto* widgets = new QApplication(argc, argv);
    widgets->setQuitOnLastWindowClosed(false);  // the tray has no window
    app.reset(widgets);
  } else {
    app = std::make_unique<QCoreApplication>(argc, argv);
  }

  if (cmd.status == CommandLine::Status::Usage) {
    Message(gui, kUsageCaption, kUsageText, MessageIcon::Information);
    return 0;
  }
  if (cmd.status == CommandLine::Status::InvalidPort) {
    Message(gui, kInvalidValueCaption, kInvalidPortText, MessageIcon::Information);
    return 0;
  }
  if (!cmd.headless && !haveDisplay) {
    PrintMessage("", kErrorCaption,
                 "No display to show the tray on (DISPLAY is not set); see --headless.");
    return -1;
  }

  LockFile instance;
  switch (instance.Acquire(LockFile::DefaultPath(kInstanceName))) {
    case LockFile::Result::Acquired: break;
    case LockFile::Result::Failed:
      Message(gui, kErrorCaption, "Cannot create mutex.", MessageIcon::Error);
      return 0;
    case LockFile::Result::HeldElsewhere:
      Message(gui, kErrorCaption, "Quillcast is already running.", MessageIcon::Error);
      return 0;
  }

  const SessionEnvironment session = CurrentSession();
  const CaptureChoice capture =
      ChooseCapture(cmd.capture, session, [] { return WlrScreenSource::Available({}); },
                    [] { return PortalScreenSource::Available(); });
  // The portal's permission to share, next to the settings.
  const std::string tokenPath =
      settingsPath.substr(0, settingsPath.find_last_of('/') + 1) + "ScreenCastToken";
  Log().Print("qcsend: %s\n", capture.reason.c_str());
  if (cmd.headless) fprintf(stderr, "qcsend: %s\n", capture.reason.c_str());

  std::unique_ptr<QtViewBase> view;
  if (gui) {
    view = std::make_unique<QtTrayView>();
  } else {
    view = std::make_unique<ConsoleView>();
  }
  SettingsFile settings(settingsPath);
  UnsupportedAcceleration acceleration;
  std::string refusal;  // why the desktop did not share the screen, if it did not
  std::unique_ptr<PortalScreenCast> started;  // asked for before Init, with the loop running
  qcTray* trayPtr = nullptr;  // the factory runs from Init on, once the tray exists
  qcTray tray(*view, settings, acceleration,
              [&trayPtr, &capture, &tokenPath, &started, &refusal] {
                return MakeEngine(*trayPtr, capture.backend, tokenPath, started, refusal);
              });
  trayPtr = &tray;
  view->Attach(tray);
  tray.SetAreaFromCommandLine(cmd.monitor, cmd.region);
  tray.SetMonitorLister([&capture] {
    switch (capture.backend) {
      case CaptureBackend::Wlr: return WlrScreenSource::ListMonitors({});
      case CaptureBackend::Portal: return std::vector<MonitorInfo>{};  // the dialog chooses
      default: return X11ScreenSource::ListMonitors({});
    }
  });
  // Installed before Init: a signal that comes early waits in the pipe
  // until the loop runs.
  SignalBridge quitSignals({SIGTERM, SIGINT, SIGHUP}, [&tray](int) { tray.OnCommand(ID_QUIT); });

  std::string signing;
  if (!tray.UseStoredSigningKey(signing)) {
    Message(gui, kErrorCaption, signing.c_str(), MessageIcon::Error);
    return -1;
  }
  if (!signing.empty()) PrintMessage("", "Quillcast", signing.c_str());

  if (capture.backend == CaptureBackend::Portal) {
    // The wait's log lines go where the settings say (Init reads them again).
    SenderSettings stored;
    LoadSenderSettings(settings, stored);
    ConsentWaitResult consent = WaitForScreenConsent(gui, tokenPath, PortalAnswerTimeoutMs());
    if (consent.quit) return 0;
    if (!consent.cast) {
      const std::string text = "Cannot start Quillcast.\n" + consent.reason;
      Message(gui, kErrorCaption, text.c_str(), MessageIcon::Error);
      return -1;
    }
    started = std::move(consent.cast);
  }

  if (!tray.Init(cmd.start, cmd.port)) {
    tray.AbortInit();
    const std::string text =
        refusal.empty() ? "Cannot start Quillcast.\nSee the log file (Quillcast.log) for details."
                        : "Cannot start Quillcast.\n" + refusal;
    Message(gui, kErrorCaption, text.c_str(), MessageIcon::Error);
    return -1;
  }
  if (cmd.port != 0) tray.SetPortFromCommandLine();

  app->exec();
  tray.Shutdown();
  return 0;
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
