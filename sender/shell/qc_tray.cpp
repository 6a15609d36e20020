// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/qc_tray.h"

#include <cstdio>

#include "common/log_file.h"
#include "shell/signing_keys.h"
#include "common/protocol.h"
#include "platform/settings_file.h"

namespace qc {

namespace {

// The settings' hotkey index: 0 start/stop, 1 pause.
HotKey HotKeyOf(int index) { return index == 0 ? HotKey::StartStop : HotKey::Pause; }

}  // namespace

qcTray::qcTray(UiServices& ui, TrayView& view, SettingsFile& settingsFile,
               AccelerationBackend& acceleration, EngineFactory makeEngine)
    : ui_(ui),
      view_(view),
      settingsFile_(settingsFile),
      makeEngine_(std::move(makeEngine)),
      acceleration_(acceleration),
      listener_(*this) {}

qcTray::~qcTray() {
  // Shutdown normally ran; after a failed Init the parts still go in order:
  // the listen thread first (it calls the engine), then the engine, then
  // the transport.
  listener_.Shutdown();
  engine_.reset();
}

bool qcTray::UseStoredSigningKey(std::string& message) {
  PrivateKey key;
  std::string problem;
  switch (LoadSenderKey(key, problem)) {
    case StoredKey::None:
      message.clear();
      return true;
    case StoredKey::Unusable:
      message = "The signing key cannot be used: " + problem + ".";
      Log().Print("qcTray: %s\n", message.c_str());
      return false;
    case StoredKey::Loaded:
      break;
  }
  if (!transport_.EnableSigning(key)) {
    message = "The signing key cannot be used.";
    return false;
  }
  message = "Transmissions are signed, key " + Fingerprint(key.publicKey) + ".";
  Log().Print("qcTray: %s\n", message.c_str());
  return true;
}

bool qcTray::Init(bool startFlag, int commandLinePort) {
  LoadSenderSettings(settingsFile_, settings_);
  if (commandLineMonitor_ >= 0) {
    settings_.monitor = commandLineMonitor_;
    settings_.monitorFromCommandLine = true;
  }
  updatePeriod_ = settings_.updatePeriod;
  iconIndex_ = 0;
  menu_ = TrayMenu{};
  RefreshShareMenu();
  if (commandLinePort != 0) settings_.port = commandLinePort;

  if (!transport_.Open(this, kGroupAddress, static_cast<uint16_t>(settings_.port))) {
    Log().Print("qcTray: Failed to init qcSender\n");
    return false;
  }
  if (settings_.disableAcceleration) acceleration_.SetAcceleration(true);

  engine_ = makeEngine_ ? makeEngine_() : nullptr;
  if (!engine_ || !engine_->Init(this)) {
    Log().Print("qcTray: Failed to init qcCapture\n");
    return false;
  }
  StartTimer(TimerId::KeepAlive, kKeepAliveTimerMs);

  if (!listener_.Start()) return false;  // logs its line

  trayIconAdded_ = true;
  UpdateTrayIcon();

  if (settings_.enableHotkeyStart) RegisterHotKeyFor(0);
  if (settings_.enableHotkeyPause) RegisterHotKeyFor(1);

  if (startFlag) ui_.Post([this] { OnCommand(ID_START_TRANSMISSION); });
  return true;
}

void qcTray::RestoreAcceleration() {
  // Also when the setting was switched off while transmitting and the
  // program ends before the Stop that would have applied it: a level that
  // was saved is always put back.
  if (settings_.disableAcceleration || acceleration_.SavedLevel() != AccelerationControl::kOff) {
    acceleration_.SetAcceleration(false);
  }
}

void qcTray::AbortInit() { RestoreAcceleration(); }

void qcTray::Shutdown() {
  RestoreAcceleration();
  if (trayIconAdded_) {
    view_.RemoveTrayIcon();
    trayIconAdded_ = false;
  }
  listener_.Shutdown();
  StopTimer(TimerId::StartCheck);
  StopTimer(TimerId::KeepAlive);
  view_.CloseStartingDialog();
  // The engine's work thread sends the disconnection as it ends.
  engine_.reset();
  transport_.Close();
  for (int index = 0; index < 2; ++index) {
    if (hotkeyRegistered_[index]) ui_.UnregisterHotKey(HotKeyOf(index));
    hotkeyRegistered_[index] = false;
  }
}

// ---- state ----------------------------------------------------------------

bool qcTray::PollingOrPaused() const {
  return engine_ && (engine_->IsPolling() || engine_->IsPaused());
}

qcTray::State qcTray::CurrentState() const {
  if (engine_ && engine_->IsPaused()) return State::Paused;
  if (engine_ && engine_->IsPolling()) return State::Transmitting;
  if (starting_) return State::Starting;
  return State::Idle;
}

const char* qcTray::TipText() const {
  switch (CurrentState()) {
    case State::Paused: return kTipPaused;
    case State::Transmitting: return kTipTransmitting;
    case State::Starting: return kTipStarting;
    case State::Idle: break;
  }
  return kTipIdle;
}

void qcTray::UpdateTrayIcon() {
  if (!trayIconAdded_) return;
  int index = iconIndex_.load();
  std::string tip = TipText();
  if (engine_ && engine_->AreaFellBack()) tip += kTipFallbackNotice;
  if (engine_ && engine_->VideoActive()) tip += kTipVideoNotice;
  if (!view_.SetTrayIcon(index, tip.c_str()))
    Log().Print("qcTray: Unable to change tray icon %d\n", index);
  // The icon may have been placed (or moved) by its tray meanwhile.
  if (engine_) engine_->SetOwnIconArea(view_.TrayIconArea());
}

// The paused icon while paused, else the next animation frame. Runs on the
// sending thread as well as the UI thread; a step lost to the race only
// shows another frame.
void qcTray::StepIcon() {
  if (paused_.load()) {
    iconIndex_ = kPausedIcon;
  } else {
    int next = iconIndex_.load() + 1;
    iconIndex_ = next >= kPausedIcon ? 0 : next;
  }
}

void qcTray::RequestIconRefresh() {
  // At most one refresh waits in the UI queue, however many datagrams go
  // out meanwhile.
  if (iconRefreshPosted_.exchange(true)) return;
  ui_.Post([this] {
    iconRefreshPosted_ = false;
    UpdateTrayIcon();
  });
}

VideoSettings qcTray::Video() const {
  VideoSettings video;
  video.mode = settings_.videoMode == 0   ? VideoMode::Off
               : settings_.videoMode == 1 ? VideoMode::On
                                          : VideoMode::Auto;
  video.bitrateKbps = settings_.videoBitrate;
  video.legacyRefresh = settings_.videoForOldReceivers;
  return video;
}

void qcTray::AdvanceIcon() {
  StepIcon();
  RequestIconRefresh();
}

// ---- events ---------------------------------------------------------------

void qcTray::OnCommand(int id) {
  switch (id) {
    case ID_START_TRANSMISSION: StartTransmission(); break;
    case ID_STOP_TRANSMISSION: StopTransmission(); break;
    case ID_PAUSE_TRANSMISSION: TogglePause(); break;
    case ID_SEND_FULL_UPDATE:
      if (engine_) engine_->RequestRefresh();
      break;
    case ID_SETTINGS: ShowSettings(); break;
    case ID_ABOUT: ShowAbout(); break;
    case ID_QUIT: Quit(); break;
    default: break;
  }
}

void qcTray::OnTimer(TimerId id) {
  switch (id) {
    case TimerId::StartCheck: EndStartCheck(); break;
    case TimerId::KeepAlive:
      if (engine_) engine_->OnKeepAliveTimer();
      break;
  }
}

void qcTray::OnDisplayChange() {
  if (engine_) engine_->OnDisplayChange();
  RefreshShareMenu();  // monitors may have come or gone
}

void qcTray::LogAccount() {
  if (engine_) engine_->LogAccount();
}

void qcTray::OnHotKey(int index) {
  // Posted, so that hotkeys run in order with the menu commands.
  if (index == 0) {
    int id = PollingOrPaused() ? ID_STOP_TRANSMISSION : ID_START_TRANSMISSION;
    ui_.Post([this, id] { OnCommand(id); });
  } else if (index == 1 && PollingOrPaused()) {
    ui_.Post([this] { OnCommand(ID_PAUSE_TRANSMISSION); });
  }
}

void qcTray::OnTrayDoubleClick() { OnCommand(menu_.first); }

// ---- commands -------------------------------------------------------------

void qcTray::StartTransmission() {
  if (warningShown_) return;
  // A Start during a running check (a second hotkey press or double click
  // within the 1500 ms) is ignored, so the listen thread never serves a
  // socket of another phase than the one it was opened for; so is a Start
  // while transmitting, whose check would only hear this sender itself.
  if (startCheckRunning_ || PollingOrPaused()) return;
  starting_ = true;
  startCheckRunning_ = true;
  StepIcon();
  UpdateTrayIcon();
  checkPort_ = settings_.port;
  listener_.OpenListenSocket(static_cast<uint16_t>(settings_.port),
                             ListenThread::Phase::StartCheck);
  listener_.Signal();
  StartTimer(TimerId::StartCheck, kStartCheckMs);
  view_.ShowStartingDialog();
}

void qcTray::EndStartCheck() {
  StopTimer(TimerId::StartCheck);
  if (!startCheckRunning_) return;
  startCheckRunning_ = false;
  // Another transmitter was heard: no transmission; the next Start begins a
  // new check.
  if (listener_.Conflict()) return;
  view_.CloseStartingDialog();
  starting_ = false;
  int requestPort = settings_.port + 1;
  if (!listener_.OpenListenSocket(static_cast<uint16_t>(requestPort),
                                  ListenThread::Phase::Requests)) {
    menu_.startEnabled = false;
    menu_.quitEnabled = false;
    view_.SetMenu(menu_);
    warningShown_ = true;
    char text[256];
    snprintf(text, sizeof text,
             "Cannot listen for data packets on UDP port %d.\nThis is not a fatal error but data "
             "transmission may be unreliable.",
             requestPort);
    ui_.ShowMessage(kWarningCaption, text, MessageIcon::Warning);
    menu_.startEnabled = true;
    menu_.quitEnabled = true;
    warningShown_ = false;
  }
  listener_.Signal();
  ResumePolling();
  Log().Print("qcTray: Transmission started\n");
}

void qcTray::ResumePolling() {
  menu_.first = ID_STOP_TRANSMISSION;
  engine_->SetPolling(true);
  menu_.pauseEnabled = true;
  menu_.fullUpdateEnabled = true;
  view_.SetMenu(menu_);
}

void qcTray::StopTransmission() {
  menu_.first = ID_START_TRANSMISSION;
  menu_.pauseEnabled = false;
  menu_.fullUpdateEnabled = false;
  engine_->SetPolling(false);
  if (engine_->IsPaused()) {
    menu_.pauseChecked = false;
    engine_->SetPaused(false);
    paused_ = false;
  }
  view_.SetMenu(menu_);
  engine_->SendDisconnection();
  if (accelerationChangePending_) {
    acceleration_.SetAcceleration(settings_.disableAcceleration);
    accelerationChangePending_ = false;
  }
  if (portChangePending_) {
    transport_.Open(this, kGroupAddress, static_cast<uint16_t>(settings_.port));
    portChangePending_ = false;
  }
  if (videoChangePending_) {
    videoChangePending_ = false;
    RenewEngine();
  }
  // The end of a transmission steps the icon once more, with the idle tip.
  StepIcon();
  UpdateTrayIcon();
}

void qcTray::TogglePause() {
  // Pause means something only while a transmission runs; a stale command
  // from a menu opened earlier is ignored.
  if (!PollingOrPaused()) return;
  if (!engine_->IsPaused()) {
    menu_.pauseChecked = true;
    engine_->SetPaused(true);
    paused_ = true;
    engine_->SetPolling(false);
    iconIndex_ = kPausedIcon;
    UpdateTrayIcon();
    menu_.fullUpdateEnabled = false;
  } else {
    menu_.pauseChecked = false;
    engine_->SetPaused(false);
    paused_ = false;
    engine_->SetPolling(true);
    StepIcon();
    UpdateTrayIcon();
    menu_.fullUpdateEnabled = true;
  }
  view_.SetMenu(menu_);
}

void qcTray::ShowSettings() {
  if (!settingsOpen_) {
    settingsOpen_ = true;
    view_.RunSettingsDialog(*this);
    settingsOpen_ = false;
  }
  if (portChangePending_ || accelerationChangePending_ || videoChangePending_) {
    ui_.ShowMessage(kInformationCaption, kPendingSettingsText, MessageIcon::Information);
  }
}

void qcTray::ShowAbout() {
  if (aboutOpen_) return;
  aboutOpen_ = true;
  const AboutChoice choice = view_.RunAboutBox();
  aboutOpen_ = false;
  if (choice == AboutChoice::CheckForUpdates) view_.OpenUrl(kUpdatePageUrl);
}

void qcTray::Quit() {
  closing_ = true;
  ui_.Quit(0);
}

void qcTray::FatalError() {
  // One box, however many threads report; none after Quit.
  if (closing_.exchange(true)) return;
  ui_.Post([this] {
    ui_.ShowMessage(kErrorCaption, kFatalErrorText, MessageIcon::Error);
    ui_.Quit(0);
  });
}

// ---- listen thread --------------------------------------------------------

void qcTray::UpdateRequested() {
  std::lock_guard<std::mutex> lock(engineMutex_);
  if (engine_) engine_->RequestRefresh();
}

void qcTray::RepairRequested(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) {
  std::lock_guard<std::mutex> lock(engineMutex_);
  if (engine_) engine_->RequestRepair(screenId, first, last, from);
}

void qcTray::AnotherTransmitterDetected(uint32_t address) {
  int port = checkPort_.load();
  ui_.Post([this, address, port] {
    view_.HideStartingDialog();
    char text[256];
    snprintf(text, sizeof text,
             "Another transmitter detected at IP %d.%d.%d.%d, port %d.\nThere must be exactly one "
             "program transmitting on a particular port.",
             static_cast<int>(address >> 24), static_cast<int>((address >> 16) & 0xFF),
             static_cast<int>((address >> 8) & 0xFF), static_cast<int>(address & 0xFF), port);
    ui_.ShowMessage(kErrorCaption, text, MessageIcon::Error);
  });
}

// ---- settings -------------------------------------------------------------

void qcTray::SetPort(int port) {
  settings_.port = port;
  if (PollingOrPaused()) {
    portChangePending_ = true;
  } else {
    transport_.Open(this, kGroupAddress, static_cast<uint16_t>(port));
  }
}

void qcTray::SetUpdatePeriod(int ms) {
  settings_.updatePeriod = ms;
  updatePeriod_ = ms;
  if (engine_) engine_->UpdatePeriodChanged();
}

void qcTray::SetDisableAcceleration(bool on) {
  settings_.disableAcceleration = on;
  if (PollingOrPaused()) {
    accelerationChangePending_ = true;
  } else {
    acceleration_.SetAcceleration(on);
  }
}

void qcTray::StartTimer(TimerId id, int intervalMs) {
  ui_.StartTimer(static_cast<int>(id), intervalMs, [this, id] { OnTimer(id); });
}

void qcTray::RegisterHotKeyFor(int index) {
  ui_.RegisterHotKey(HotKeyOf(index), index == 0 ? settings_.hotkeyStart : settings_.hotkeyPause,
                     [this, index] { OnHotKey(index); });
  hotkeyRegistered_[index] = true;
}

void qcTray::SetHotKey(int index, uint32_t code, bool enabled) {
  if (index != 0 && index != 1) return;
  bool& storedEnabled = index == 0 ? settings_.enableHotkeyStart : settings_.enableHotkeyPause;
  (index == 0 ? settings_.hotkeyStart : settings_.hotkeyPause) = code;
  if (hotkeyRegistered_[index]) {
    ui_.UnregisterHotKey(HotKeyOf(index));
    hotkeyRegistered_[index] = false;
  }
  if (enabled) RegisterHotKeyFor(index);
  storedEnabled = enabled;
}

std::vector<MonitorInfo> qcTray::Monitors() const {
  return listMonitors_ ? listMonitors_() : std::vector<MonitorInfo>{};
}

void qcTray::RefreshShareMenu() {
  menu_.monitors.clear();
  for (const MonitorInfo& m : Monitors()) menu_.monitors.push_back(MonitorLabel(m));
  menu_.shared = region_.Empty() ? settings_.monitor : -1;
  view_.SetMenu(menu_);
}

void qcTray::SetMonitor(int monitor) {
  bool sameArea = region_.Empty() && monitor == settings_.monitor;
  settings_.monitor = monitor;
  settings_.monitorFromCommandLine = false;
  region_ = {};
  RefreshShareMenu();
  if (sameArea || !engine_) return;
  if (monitor == 0) {
    Log().Print("qcTray: Sharing the whole screen\n");
  } else {
    Log().Print("qcTray: Sharing monitor %d\n", monitor);
  }
  // The engine is made anew on the new area; receivers hear the end of the
  // old transmission and get the init message of the new one.
  bool running = PollingOrPaused();
  if (running) StopTransmission();
  if (!RenewEngine()) return;
  if (running) ResumePolling();
  UpdateTrayIcon();
}

bool qcTray::RenewEngine() {
  std::unique_ptr<CaptureEngine> old;
  {
    std::lock_guard<std::mutex> lock(engineMutex_);
    old = std::move(engine_);
  }
  old.reset();
  std::unique_ptr<CaptureEngine> fresh = makeEngine_ ? makeEngine_() : nullptr;
  if (!fresh || !fresh->Init(this)) {
    Log().Print("qcTray: Failed to init qcCapture\n");
    FatalError();
    return false;
  }
  std::lock_guard<std::mutex> lock(engineMutex_);
  engine_ = std::move(fresh);
  return true;
}

void qcTray::SetVideo(int mode, int bitrateKbps) {
  settings_.videoMode = mode;
  settings_.videoBitrate = bitrateKbps;
  // The engine takes them when it is made: now when idle, else at Stop.
  if (PollingOrPaused() || starting_) {
    videoChangePending_ = true;
  } else if (engine_) {
    RenewEngine();
  }
}

void qcTray::SaveSettings() { SaveSenderSettings(settingsFile_, settings_, Log().IsEnabled()); }

}  // namespace qc
