// SPDX-License-Identifier: GPL-3.0-or-later
// qvTray: the receiver's controller. It loads the settings, shows the
// connection state in the tray with a blinking icon, offers the tray menu,
// owns and restarts the viewer, and sends update requests to the sender
// through its service socket.
//
// Threads: everything runs on the GUI thread except the four calls the
// viewer's update thread makes (UpdateTrayIcon with Modify/Receiving,
// SendUpdateRequest, RestartViewer, FatalStop), which are safe from any
// thread: they touch only atomics and the service socket, and hand the rest
// to the GUI thread through UiServices::Post.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/transmission_signing.h"
#include "receiver/shell/port_rules.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/shell/request_listener.h"
#include "receiver/shell/service_socket.h"
#include "receiver/shell/tray_view.h"
#include "receiver/viewer/viewer.h"
#include "shell/ui_services.h"

namespace qc {

inline constexpr char kWaitingText[] =
    "Quillview is waiting for network data.\n\nNormally, double-clicking the tray icon of "
    "Quillview activates\nthe full-screen mode. However, there is nothing to show yet -\nthere "
    "seems to be no Quillcast active on the selected port.";
inline constexpr char kRestartNeededText[] =
    "Some of the changed settings will not take effect\nuntil next transmission session or "
    "program restart.";
inline constexpr char kFatalText[] = "Fatal error. See the log file (Quillview.log) for details.";
inline constexpr char kReceiverInformationCaption[] = "Quillview Information";
inline constexpr char kReceiverErrorCaption[] = "Quillview Error";

// The blink timer steps the tray icon's blink phase; the request timer asks
// the sender for a full picture while nothing is received.
enum class ReceiverTimer { Blink, Request };
inline constexpr int kBlinkTimerMs = 500;
inline constexpr int kRequestTimerMs = 5000;

// What happens to the tray icon with a state.
enum class TrayAction { Add, Modify, Delete };

class qvTray;

// The viewer as the controller drives it (qvViewer with its window in the
// program, a fake in tests). All calls on the GUI thread except
// SetRestarting and the two queries, which any thread may make.
class ViewerControl {
 public:
  virtual ~ViewerControl() = default;
  // Starts the receiving side on the tray's port; false on failure (the
  // viewer logs which step failed).
  virtual bool Init(qvTray& tray) = 0;
  virtual void Stop() = 0;
  virtual bool IsReceiving() const = 0;
  virtual bool IsFullScreen() const = 0;
  // Marks the coming Stop as a restart, so that the window's destruction does
  // not end the program.
  virtual void SetRestarting() = 0;
  virtual void ShowWindow(bool show) = 0;
  virtual void SetFullScreen(bool on) = 0;
};

// What the settings dialog hands over on OK.
struct ReceiverDialogValues {
  uint32_t port = 0;  // the port field read as an unsigned number
  bool fullScreen = false;
  bool logging = false;
  uint32_t hotkey = 0;
  bool hotkeyEnabled = false;
  // The "Sender key" field as typed (empty: none); nothing: a dialog
  // without the field, which leaves the key as it is.
  std::optional<std::string> senderKey;
};

class qvTray : public ViewerOwner {
 public:
  qvTray(UiServices& ui, ReceiverTrayView& view, ViewerControl& viewer, SettingsStore& store);
  ~qvTray() override;
  qvTray(const qvTray&) = delete;
  qvTray& operator=(const qvTray&) = delete;

  // Start-up: settings (commandLinePort, when not 0, replaces the stored
  // port for this run), timers, viewer, service socket, tray icon, first
  // update request, hot key. False at the first failing step (logged).
  bool Init(int commandLinePort = 0);
  // After the message loop: removes the icon, closes the service socket,
  // releases the hot key.
  void Shutdown();

  // Before Init: the sender key of this run (--trust; a checked key text),
  // never stored; the stored one is not read.
  void TrustSenderForThisRun(const std::string& keyText);
  // The key whose signed transmissions alone are shown; null: unsigned
  // transmissions are followed as by the original receiver.
  const PublicKey* TrustedSender() const { return trusted_ ? &*trusted_ : nullptr; }
  bool TrustFromCommandLine() const { return trustFromCommandLine_; }

  // A new port: applied at once by a viewer restart when nothing is being
  // received, else kept for the next restart.
  void SetPort(int port);
  void SetHotKey(int slot, uint32_t value, bool enabled);

  // Called by the viewer (any thread, see the header comment).
  void TransmissionFrom(uint32_t address, uint16_t port) override;
  void UpdateTrayIcon(TrayState state) override { UpdateTrayIcon(TrayAction::Modify, state); }
  void SendUpdateRequest() override;
  void SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last) override;
  bool HearsOtherReceivers() const override { return requests_.Listening(); }
  bool HeardRepairRequest(uint16_t screenId, uint32_t first, uint32_t last,
                          uint32_t sinceMs) override {
    return requests_.Heard(screenId, first, last, sinceMs);
  }
  void RestartViewer() override;
  void FatalStop(bool showMessage) override;
  bool UpdateTrayIcon(TrayAction action, TrayState state);

  // Events from the view (GUI thread).
  void OnBlinkTimer();
  void OnRequestTimer();
  void OnMenuAboutToShow();  // right click: grey or enable the items
  void OnTrayDoubleClick();
  void OnHotKey();
  void OnCommand(int id);
  // The settings dialog's OK. Returns the port check: when it is not valid
  // nothing was applied and the dialog shows the replacement. The sender
  // key must have been checked by the dialog (ParsePublicKeyText or empty);
  // a new one is stored (unless --trust gave one) and applied at once by a
  // viewer restart.
  PortCheck AcceptSettings(const ReceiverDialogValues& values);
  // Closing the program (the hidden window's WM_CLOSE and WM_DESTROY):
  // removes the icon, stops and destroys the viewer, ends the loop.
  void Close();
  // Runs in Close() while the viewer still holds its picture (the program's
  // final snapshot).
  void SetClosingHook(std::function<void()> hook) { closingHook_ = std::move(hook); }

  // State for the dialogs and tests.
  int Port() const { return settings_.port; }
  bool FullScreenSetting() const { return settings_.fullScreen; }
  uint32_t Hotkey() const { return settings_.hotkey; }
  bool HotkeyEnabled() const { return settings_.hotkeyEnabled; }
  bool PortFromCommandLine() const { return portFromCommandLine_; }
  TrayState State() const { return state_.load(); }
  bool WindowShown() const { return windowShown_; }
  bool RestartNeeded() const { return restartNeeded_; }
  bool Closing() const { return closing_.load(); }

  // The icon and tip of a state in a blink phase.
  static TrayImage ImageFor(TrayState state, bool blinkPhase);
  static const char* TipFor(TrayState state);
  static constexpr char kWaitingSignedTip[] = "Quillview - Waiting for a signed transmission";

 private:
  void ShowTrayIcon(TrayAction action, TrayState state);
  void OnViewerRestart();
  bool OnGuiThread() const { return std::this_thread::get_id() == guiThread_; }

  UiServices& ui_;
  ReceiverTrayView& view_;
  ViewerControl& viewer_;
  SettingsStore& store_;
  std::thread::id guiThread_;

  ReceiverSettings settings_;
  bool settingsOpen_ = false;
  bool aboutOpen_ = false;
  bool windowShown_ = true;
  std::atomic<bool> blinkPhase_{false};
  std::atomic<TrayState> state_{TrayState::Disconnected};
  // The address the transmission comes from (host order, 0: none yet),
  // named in the tip while receiving.
  std::atomic<uint32_t> source_{0};
  std::atomic<bool> closing_{false};
  bool closed_ = false;
  bool viewerAlive_ = false;
  bool iconAdded_ = false;
  bool hotkeyRegistered_ = false;
  bool restartNeeded_ = false;
  bool waitingBoxShown_ = false;
  bool portFromCommandLine_ = false;
  bool restartFailed_ = false;  // the last viewer restart failed
  ServiceSocket service_;
  RequestListener requests_;  // the other receivers' repair requests
  std::function<void()> closingHook_;
  std::optional<PublicKey> trusted_;
  bool trustFromCommandLine_ = false;
};

}  // namespace qc
