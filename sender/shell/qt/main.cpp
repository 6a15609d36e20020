// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend: shows this computer's screen on every receiver of the local
// network. Reads the command line, starts as shell/startup.h says (one
// sender at a time), creates the tray controller with its view (the tray,
// or standard error with --headless) and the capture engine's sources, runs
// the event loop and shuts the controller down.
#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/log_file.h"
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
#include "sender/shell/qt/consent_wait.h"
#include "sender/shell/console_view.h"
#include "sender/shell/qt/qt_tray_view.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/sender_settings.h"
#include "sender/shell/sender_start.h"
#include "shell/qt/qt_startup.h"

namespace qc {

// The program's log: "Quillcast.log" in the working directory, deleted at
// exit when logging is off then.
LogFile& Log() {
  static LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled);
  return log;
}

namespace {

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
  const CommandLine cmd = ParseArguments(argc, argv);
  const std::string settingsPath = SettingsFile::DefaultPath(kSenderSettingsFile);
  const StartRequest request = SenderStartRequest(cmd, settingsPath);
  return RunQtProgram(SenderStart(), request, argv[0], [&](QtUiServices& ui, bool headless) {
    const SessionEnvironment session = CurrentSession();
    const CaptureChoice capture =
        ChooseCapture(cmd.capture, session, [] { return WlrScreenSource::Available({}); },
                      [] { return PortalScreenSource::Available(); });
    // The portal's permission to share, next to the settings.
    const std::string tokenPath =
        settingsPath.substr(0, settingsPath.find_last_of('/') + 1) + "ScreenCastToken";
    Log().Print("qcsend: %s\n", capture.reason.c_str());
    if (headless) fprintf(stderr, "qcsend: %s\n", capture.reason.c_str());

    std::unique_ptr<TrayView> view;
    QtTrayView* trayView = nullptr;
    if (headless) {
      view = std::make_unique<ConsoleView>("the settings file");
    } else {
      view = std::make_unique<QtTrayView>();
      trayView = static_cast<QtTrayView*>(view.get());
    }
    SettingsFile settings(settingsPath);
    UnsupportedAcceleration acceleration;
    std::string refusal;  // why the desktop did not share the screen, if it did not
    std::unique_ptr<PortalScreenCast> started;  // asked for before Init, with the loop running
    qcTray* trayPtr = nullptr;  // the factory runs from Init on, once the tray exists
    qcTray tray(ui, *view, settings, acceleration,
                [&trayPtr, &capture, &tokenPath, &started, &refusal] {
                  return MakeEngine(*trayPtr, capture.backend, tokenPath, started, refusal);
                });
    trayPtr = &tray;
    if (trayView != nullptr) trayView->Attach(tray, [&ui] { return ui.HotkeyRoute(); });
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
    SignalBridge signalBridge({SIGTERM, SIGINT, SIGHUP, SIGUSR1}, [&tray](int signo) {
      if (signo == SIGUSR1) {
        tray.LogAccount();
      } else {
        tray.OnCommand(ID_QUIT);
      }
    });

    // On the portal the desktop's permission is asked for first, with the
    // event loop running (the tray says that it waits).
    auto askConsent = [&]() -> std::optional<int> {
      if (capture.backend != CaptureBackend::Portal) return std::nullopt;
      // The wait's log lines go where the settings say (Init reads them again).
      SenderSettings stored;
      LoadSenderSettings(settings, stored);
      ConsentWaitResult consent =
          WaitForScreenConsent(!headless, tokenPath, PortalAnswerTimeoutMs());
      if (consent.quit) return 0;
      if (!consent.cast) {
        ui.ShowMessage(kErrorCaption, "Cannot start Quillcast.\n" + consent.reason,
                       MessageIcon::Error);
        return -1;
      }
      started = std::move(consent.cast);
      return std::nullopt;
    };
    return RunSenderTray(ui, tray, cmd, refusal, [] { return QCoreApplication::exec(); },
                         askConsent);
  });
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) { return qc::Run(argc, argv); }
