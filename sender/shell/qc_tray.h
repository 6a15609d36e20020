// SPDX-License-Identifier: GPL-3.0-or-later
// qcTray: the sender's controller and the owner of everything else in it:
// the settings, the transport, the capture engine, the listen thread and the
// display-acceleration switch. It turns the user's commands (menu, double
// click, hotkeys, -start) into the transmission states Idle, Starting,
// Transmitting and Paused, and talks to the screen only through its
// TrayView and its UiServices.
//
// The icon animates while changes of the screen go out (AdvanceIcon, from
// the capture engine's ChangeSent): not on keep-alives, and not on the
// icon's own frames, which the engine tells apart by the icon's place on
// the screen (TrayView::TrayIconArea). A tray on the shared screen would
// otherwise capture each frame as a change, whose datagram would advance
// the icon again, for ever.
//
// Threads: everything runs on the UI thread except AdvanceIcon (the capture
// work thread), FatalError (any thread) and the ListenOwner calls (the listen
// thread); those three only post work to the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sender/capture/capture_engine.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/sender.h"
#include "sender/shell/acceleration.h"
#include "sender/shell/listen_thread.h"
#include "sender/shell/sender_settings.h"
#include "sender/shell/tray_view.h"
#include "shell/ui_services.h"

namespace qc {

class SettingsFile;

// Texts of the controller's boxes and tips.
inline constexpr char kErrorCaption[] = "Quillcast Error";
inline constexpr char kWarningCaption[] = "Quillcast Warning";
inline constexpr char kInformationCaption[] = "Quillcast Information";
inline constexpr char kFatalErrorText[] =
    "Fatal error. See the log file (Quillcast.log) for details.";
inline constexpr char kPendingSettingsText[] =
    "Some of the changed settings will take effect\nonly after stopping and restarting the "
    "transmission.";
inline constexpr char kTipIdle[] = "Quillcast - Idle";
inline constexpr char kTipStarting[] = "Quillcast - Starting";
inline constexpr char kTipTransmitting[] = "Quillcast - Transmitting";
inline constexpr char kTipPaused[] = "Quillcast - Paused";
inline constexpr char kUpdatePageUrl[] =
    "http://www.quillcast.example.com/vorazudud/updates/?ver=1.1.0";
inline constexpr int kStartCheckMs = 1500;
// The capture engine's keep-alive timer.
inline constexpr int kKeepAliveTimerMs = kKeepAliveIntervalMs;
inline constexpr int kPausedIcon = 4;
// Added to the tip while the chosen area could not be shared and the primary
// monitor is sent instead.
inline constexpr char kTipFallbackNotice[] = " (primary monitor only)";
inline constexpr char kTipVideoNotice[] = " - a video goes out as H.264";

class qcTray : public SenderOwner, public ListenOwner, public CaptureOwner {
 public:
  using EngineFactory = std::function<std::unique_ptr<CaptureEngine>()>;
  using MonitorLister = std::function<std::vector<MonitorInfo>()>;

  enum class State { Idle, Starting, Transmitting, Paused };

  qcTray(UiServices& ui, TrayView& view, SettingsFile& settingsFile,
         AccelerationBackend& acceleration, EngineFactory makeEngine);
  ~qcTray() override;
  qcTray(const qcTray&) = delete;
  qcTray& operator=(const qcTray&) = delete;

  // Loads the settings, opens the transport, creates the capture engine,
  // starts the listen thread, adds the tray icon, registers the hotkeys and,
  // with startFlag, posts a Start. A non-zero commandLinePort replaces the
  // stored port. False (with one log line) on the first failure.
  bool Init(bool startFlag, int commandLinePort);
  // After a failed Init: puts back the display acceleration if Init had
  // switched it off.
  void AbortInit();
  // Set by start-up when -port was given.
  void SetPortFromCommandLine() { settings_.portFromCommandLine = true; }
  // Set by start-up before Init: -monitor (-1: none) and -region (empty:
  // none) replace the stored "Monitor" for this run.
  void SetAreaFromCommandLine(int monitor, const ScreenRect& region) {
    commandLineMonitor_ = monitor;
    region_ = region;
  }
  // Where the "Share" submenu and the settings dialog get the monitors
  // from (RandR in the program); none set: only the whole screen is listed.
  void SetMonitorLister(MonitorLister lister) { listMonitors_ = std::move(lister); }
  std::vector<MonitorInfo> Monitors() const;
  // What the engine made next shares (the engine factory reads it).
  AreaChoice ShareChoice() const { return {settings_.monitor, region_}; }
  // After the event loop: tears down what Init built.
  void Shutdown();

  // UI-thread events.
  void OnCommand(int id);
  void OnTimer(TimerId id);
  void OnHotKey(int index);
  void OnTrayDoubleClick();  // sends the command of menu position 0
  void OnDisplayChange();
  // Logs what the running transmission has sent so far (SIGUSR1).
  void LogAccount();

  // Setters of the settings dialog; each applies its value at once or, for
  // the port and the acceleration switch while transmitting or paused, at
  // the next Stop.
  void SetPort(int port);
  void SetUpdatePeriod(int ms);
  void SetDisableAcceleration(bool on);
  void SetHotKey(int index, uint32_t code, bool enabled);
  // Shares the whole screen (0) or monitor k from now on: a transmission
  // ends in order (disconnection) and starts again at once on the new area.
  void SetMonitor(int monitor);
  // VideoMode (0 off, 1 on, 2 auto) and VideoBitrate (kbit/s): the capture
  // engine is made anew with them, at once when idle, else at the next Stop.
  void SetVideo(int mode, int bitrateKbps);
  // Writes all settings (the dialog's SaveSettings).
  void SaveSettings();
  const SenderSettings& Settings() const { return settings_; }

  // State, for the views and tests.
  State CurrentState() const;
  const char* TipText() const;
  bool PortChangePending() const { return portChangePending_; }
  bool AccelerationChangePending() const { return accelerationChangePending_; }
  bool VideoChangePending() const { return videoChangePending_; }

  // Before Init: signs every transmission with the stored key pair, if
  // there is one (qcsend --new-key made it). False when a stored key cannot
  // be used: the program must not then transmit unsigned. message: what
  // to tell the user either way ("" when there is no key).
  bool UseStoredSigningKey(std::string& message);

  // CaptureOwner: what the capture engine reaches through its owner.
  qcSender& Sender() override { return transport_; }
  int UpdatePeriod() const override { return updatePeriod_.load(); }  // any thread
  VideoSettings Video() const override;
  void ChangeSent() override { AdvanceIcon(); }
  // The engine's set-up boxes (unsupported screen); UI thread, from Init.
  void ShowErrorMessage(const char* caption, const char* text) override {
    ui_.ShowMessage(caption, text, MessageIcon::Error);
  }

  // SenderOwner (and the engine's fatal path): any thread.
  void FatalError() override;
  // A change of the screen went out: the next animation frame. Work thread.
  void AdvanceIcon();

  // ListenOwner.
  void UpdateRequested() override;
  void RepairRequested(uint16_t screenId, uint32_t first, uint32_t last,
                       uint32_t from) override;
  void AnotherTransmitterDetected(uint32_t address) override;

 private:
  void StartTransmission();
  void EndStartCheck();
  void StopTransmission();
  void TogglePause();
  void ShowSettings();
  void ShowAbout();
  void Quit();
  void StepIcon();
  void UpdateTrayIcon();
  void RequestIconRefresh();
  bool PollingOrPaused() const;
  void StartTimer(TimerId id, int intervalMs);
  void StopTimer(TimerId id) { ui_.StopTimer(static_cast<int>(id)); }
  void RegisterHotKeyFor(int index);
  void RestoreAcceleration();
  void RefreshShareMenu();
  void ResumePolling();
  // Replaces the capture engine with a fresh one (its Init reads the
  // settings); false, through the fatal path, when it cannot be made.
  bool RenewEngine();

  UiServices& ui_;
  TrayView& view_;
  SettingsFile& settingsFile_;
  EngineFactory makeEngine_;
  AccelerationControl acceleration_;
  SenderSettings settings_;
  std::atomic<int> updatePeriod_{10};
  std::atomic<int> checkPort_{kDefaultPort};  // the port of the running start check
  qcSender transport_;
  // Replaced on the UI thread when the shared area changes; the listen
  // thread reaches it under engineMutex_.
  std::unique_ptr<CaptureEngine> engine_;
  std::mutex engineMutex_;
  MonitorLister listMonitors_;
  int commandLineMonitor_ = -1;
  ScreenRect region_;
  ListenThread listener_;
  TrayMenu menu_;

  // The pause state as the controller set it, for the icon step on the
  // sending thread (which must not reach into the engine while it ends).
  std::atomic<bool> paused_{false};
  std::atomic<int> iconIndex_{0};
  std::atomic<bool> iconRefreshPosted_{false};
  std::atomic<bool> closing_{false};
  bool trayIconAdded_ = false;
  bool starting_ = false;
  bool startCheckRunning_ = false;
  bool warningShown_ = false;
  bool portChangePending_ = false;
  bool accelerationChangePending_ = false;
  bool videoChangePending_ = false;
  bool settingsOpen_ = false;
  bool aboutOpen_ = false;
  bool hotkeyRegistered_[2] = {false, false};
};

}  // namespace qc
