// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/qv_tray.h"

#include <cstdio>

#include "common/log_file.h"
#include "shell/signing_keys.h"

namespace qc {

qvTray::qvTray(UiServices& ui, ReceiverTrayView& view, ViewerControl& viewer,
               SettingsStore& store)
    : ui_(ui),
      view_(view),
      viewer_(viewer),
      store_(store),
      guiThread_(std::this_thread::get_id()) {}

qvTray::~qvTray() = default;

TrayImage qvTray::ImageFor(TrayState state, bool blinkPhase) {
  switch (state) {
    case TrayState::Receiving:
      return blinkPhase ? TrayImage::GreenYellow : TrayImage::GreenGreen;
    case TrayState::Hidden:
      return blinkPhase ? TrayImage::YellowGreen : TrayImage::YellowYellow;
    case TrayState::Disconnected:
    default:
      return blinkPhase ? TrayImage::RedRed : TrayImage::RedGreen;
  }
}

const char* qvTray::TipFor(TrayState state) {
  switch (state) {
    case TrayState::Receiving:
      return "Quillview - Receiving";
    case TrayState::Hidden:
      return "Quillview - Hidden";
    case TrayState::Disconnected:
    default:
      return "Quillview - Disconnected";
  }
}

void qvTray::TrustSenderForThisRun(const std::string& keyText) {
  PublicKey key;
  if (!ParsePublicKeyText(keyText, key)) return;
  trusted_ = key;
  trustFromCommandLine_ = true;
}

bool qvTray::Init(int commandLinePort) {
  view_.Attach(*this);
  store_.Load(settings_);
  if (!trustFromCommandLine_) {
    PublicKey key;
    std::string problem;
    switch (LoadTrustedKey(key, problem)) {
      case StoredKey::Loaded: trusted_ = key; break;
      case StoredKey::None: break;
      case StoredKey::Unusable:
        // Falling back to unsigned transmissions would be unsafe.
        Log().Print("qvTray: The stored sender key cannot be used: %s\n", problem.c_str());
        return false;
    }
  }
  if (trusted_) {
    Log().Print("qvTray: Showing only transmissions signed with key %s\n",
                Fingerprint(*trusted_).c_str());
  }
  // In force before the data socket first opens, and never stored.
  if (commandLinePort != 0) {
    settings_.port = commandLinePort;
    portFromCommandLine_ = true;
  }
  ui_.StartTimer(static_cast<int>(ReceiverTimer::Blink), kBlinkTimerMs,
                 [this] { OnBlinkTimer(); });
  ui_.StartTimer(static_cast<int>(ReceiverTimer::Request), kRequestTimerMs,
                 [this] { OnRequestTimer(); });
  viewerAlive_ = true;
  if (!viewer_.Init(*this)) {
    Log().Print("qvTray: Failed to init qvViewer\n");
    return false;
  }
  if (!service_.Open(settings_.port)) {
    Log().Print("qvTray: Failed to init service socket\n");
    return false;
  }
  requests_.Start(settings_.port);  // without it, requests go out at once
  // A transmission may already have been seen by the viewer's threads; its
  // Receiving state must not be overwritten by the initial one.
  TrayState initial = viewer_.IsReceiving() ? TrayState::Receiving : TrayState::Disconnected;
  blinkPhase_ = false;
  windowShown_ = true;
  UpdateTrayIcon(TrayAction::Add, initial);
  SendUpdateRequest();
  if (settings_.hotkeyEnabled) SetHotKey(0, settings_.hotkey, true);
  return true;
}

void qvTray::Shutdown() {
  if (iconAdded_) ShowTrayIcon(TrayAction::Delete, TrayState::Disconnected);
  service_.Close();
  requests_.Stop();
  if (hotkeyRegistered_) ui_.UnregisterHotKey(HotKey::HideShow);
  hotkeyRegistered_ = false;
}

bool qvTray::UpdateTrayIcon(TrayAction action, TrayState state) {
  state_ = state;
  if (OnGuiThread()) {
    ShowTrayIcon(action, state);
  } else {
    // The icon belongs to the GUI thread; the state is already current, so
    // the posted call shows whatever state holds when it runs.
    ui_.Post([this, action] { ShowTrayIcon(action, state_.load()); });
  }
  return true;
}

void qvTray::ShowTrayIcon(TrayAction action, TrayState state) {
  if (action == TrayAction::Delete) {
    if (!iconAdded_) return;
    iconAdded_ = false;
  } else if (action == TrayAction::Add) {
    iconAdded_ = true;
  } else if (!iconAdded_ || closed_) {
    return;
  }
  if (action == TrayAction::Delete) {
    view_.RemoveTrayIcon();
    return;
  }
  const uint32_t a = source_.load();
  if (state == TrayState::Disconnected && trusted_) {
    view_.SetTrayIcon(ImageFor(state, blinkPhase_.load()), kWaitingSignedTip);
    return;
  }
  if (state != TrayState::Receiving || a == 0) {
    view_.SetTrayIcon(ImageFor(state, blinkPhase_.load()), TipFor(state));
    return;
  }
  char tip[96];
  std::snprintf(tip, sizeof tip, "%s from %u.%u.%u.%u", TipFor(state), a >> 24, (a >> 16) & 0xFF,
                (a >> 8) & 0xFF, a & 0xFF);
  view_.SetTrayIcon(ImageFor(state, blinkPhase_.load()), tip);
}

void qvTray::TransmissionFrom(uint32_t address, uint16_t /*port*/) { source_ = address; }

void qvTray::SendUpdateRequest() { service_.SendUpdateRequest(); }
void qvTray::SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last) {
  service_.SendRepairRequest(screenId, first, last);
}

void qvTray::RestartViewer() {
  UpdateTrayIcon(TrayAction::Modify, TrayState::Disconnected);
  viewer_.SetRestarting();
  ui_.Post([this] { OnViewerRestart(); });
}

void qvTray::OnViewerRestart() {
  if (closing_.load() || closed_) return;
  viewer_.Stop();
  // A viewer that cannot start (the port taken, the network gone) is tried
  // again at the next request tick rather than left deaf.
  restartFailed_ = !viewer_.Init(*this);
  if (restartFailed_) Log().Print("qvTray: Failed to restart qvViewer, retrying\n");
  if (!service_.Open(settings_.port)) Log().Print("qvTray: Failed to init service socket\n");
  requests_.Start(settings_.port);
  view_.SetWindowItem(true);
  windowShown_ = true;
}

void qvTray::FatalStop(bool showMessage) {
  // Once only: the first caller wins, whichever thread it is on.
  if (closing_.exchange(true)) return;
  ui_.Post([this, showMessage] {
    viewer_.ShowWindow(false);
    if (showMessage) ui_.ShowMessage(kReceiverErrorCaption, kFatalText, MessageIcon::Error);
    Close();
  });
}

void qvTray::Close() {
  if (closed_) return;
  if (iconAdded_) ShowTrayIcon(TrayAction::Delete, TrayState::Disconnected);
  state_ = TrayState::Disconnected;
  closing_ = true;
  closed_ = true;
  if (closingHook_) closingHook_();
  if (viewerAlive_) {
    viewer_.Stop();
    viewerAlive_ = false;
  }
  ui_.Quit(0);
}

void qvTray::SetPort(int port) {
  settings_.port = port;
  if (viewer_.IsReceiving()) {
    restartNeeded_ = true;
  } else {
    RestartViewer();
  }
}

void qvTray::SetHotKey(int /*slot*/, uint32_t value, bool enabled) {
  settings_.hotkey = value;
  if (hotkeyRegistered_) ui_.UnregisterHotKey(HotKey::HideShow);
  hotkeyRegistered_ = false;
  if (enabled) {
    hotkeyRegistered_ = ui_.RegisterHotKey(HotKey::HideShow, value, [this] { OnHotKey(); });
  }
  settings_.hotkeyEnabled = enabled;
}

void qvTray::OnBlinkTimer() {
  blinkPhase_ = !blinkPhase_.load();
  ShowTrayIcon(TrayAction::Modify, state_.load());
}

void qvTray::OnRequestTimer() {
  if (restartFailed_) {
    OnViewerRestart();
    return;
  }
  if (!viewer_.IsReceiving()) {
    SendUpdateRequest();
    Log().Print("qvTray: Sending update request\n");
  }
}

void qvTray::OnMenuAboutToShow() { view_.EnableReceivingItems(viewer_.IsReceiving()); }

void qvTray::OnTrayDoubleClick() { OnCommand(ID_FULL_SCREEN); }

void qvTray::OnHotKey() {
  if (!viewer_.IsReceiving()) return;
  int id = windowShown_ ? ID_HIDE_WINDOW : ID_SHOW_WINDOW;
  ui_.Post([this, id] { OnCommand(id); });
}

void qvTray::OnCommand(int id) {
  if (closed_) return;
  switch (id) {
    case ID_FULL_SCREEN:
      if (viewer_.IsReceiving()) {
        bool on = !viewer_.IsFullScreen();
        view_.SetFullScreenChecked(on);
        viewer_.SetFullScreen(on);
        settings_.fullScreen = on;
        ui_.Post([this] { OnCommand(ID_SHOW_WINDOW); });
      } else if (!waitingBoxShown_) {
        waitingBoxShown_ = true;
        ui_.ShowMessage(kReceiverInformationCaption, kWaitingText, MessageIcon::Information);
        waitingBoxShown_ = false;
      }
      break;
    case ID_HIDE_WINDOW:
      if (viewer_.IsReceiving()) {
        view_.SetWindowItem(false);
        viewer_.ShowWindow(false);
        UpdateTrayIcon(TrayAction::Modify, TrayState::Hidden);
        windowShown_ = false;
      }
      break;
    case ID_SHOW_WINDOW:
      if (viewer_.IsReceiving()) {
        view_.SetWindowItem(true);
        viewer_.ShowWindow(true);
        UpdateTrayIcon(TrayAction::Modify, TrayState::Receiving);
        windowShown_ = true;
      }
      break;
    case ID_REQUEST_REFRESH:
      SendUpdateRequest();
      break;
    case ID_SETTINGS:
      if (!settingsOpen_) {
        settingsOpen_ = true;
        view_.RunSettingsDialog();
        settingsOpen_ = false;
      }
      if (restartNeeded_) {
        ui_.ShowMessage(kReceiverInformationCaption, kRestartNeededText, MessageIcon::Information);
        restartNeeded_ = false;
      }
      break;
    case ID_ABOUT:
      if (!aboutOpen_) {
        aboutOpen_ = true;
        view_.RunAboutDialog();
        aboutOpen_ = false;
      }
      break;
    case ID_QUIT:
      ui_.Post([this] { Close(); });
      break;
    default:
      break;
  }
}

PortCheck qvTray::AcceptSettings(const ReceiverDialogValues& v) {
  PortCheck check = CheckDialogPort(v.port);
  if (!check.valid) return check;
  if (check.port != settings_.port) SetPort(check.port);
  settings_.fullScreen = v.fullScreen;
  if (v.logging != Log().IsEnabled()) Log().Enable(v.logging);
  settings_.logging = Log().IsEnabled();
  if (v.hotkey != settings_.hotkey || v.hotkeyEnabled != settings_.hotkeyEnabled) {
    SetHotKey(0, v.hotkey, v.hotkeyEnabled);
  }
  store_.Save(settings_, portFromCommandLine_);
  if (!trustFromCommandLine_ && v.senderKey) {
    PublicKey key;
    const bool haveKey = ParsePublicKeyText(*v.senderKey, key);
    std::optional<PublicKey> wanted;
    if (haveKey) wanted = key;
    if (wanted != trusted_) {
      if (!StoreTrustedKey(haveKey ? *v.senderKey : std::string())) {
        Log().Print("qvTray: The sender key cannot be stored\n");
      }
      trusted_ = wanted;
      // The next cycle takes only what the new key signed (or anything).
      UpdateTrayIcon(TrayAction::Modify, TrayState::Disconnected);
      viewer_.SetRestarting();
      OnViewerRestart();
    }
  }
  return check;
}

}  // namespace qc
