// SPDX-License-Identifier: GPL-3.0-or-later
// What the receiver's tray controller (qvTray) asks of its user interface:
// the Qt tray view in the program, a console view for --headless, a
// recording fake in tests. Every call is made on the GUI thread unless it
// says otherwise.
#pragma once

#include <cstdint>
#include <functional>

#include "receiver/viewer/receiver_commands.h"
#include "receiver/viewer/viewer.h"
#include "shell/view_types.h"

namespace qc {

// Starts every line the receiver writes to standard error.
inline constexpr char kReceiverStderrPrefix[] = "qvrecv: ";

enum class TrayAction : int { Add = 0, Modify = 1, Delete = 2 };

// The six tray images, by resource number: frame colour, then centre colour.
enum class TrayImage : int {
  RedRed = 101,         // Disconnected, blink phase set
  RedGreen = 109,       // Disconnected, blink phase clear (also the program icon)
  GreenYellow = 102,    // Receiving, blink phase set
  GreenGreen = 110,     // Receiving, blink phase clear
  YellowGreen = 103,    // Hidden, blink phase set
  YellowYellow = 108,   // Hidden, blink phase clear
};

// The blink timer steps the tray icon's blink phase; the request timer asks
// the sender for a full picture while nothing is received.
inline constexpr int kBlinkTimerMs = 500;
inline constexpr int kRequestTimerMs = 5000;

class qvTray;

class ReceiverTrayView {
 public:
  virtual ~ReceiverTrayView() = default;

  // Called once by qvTray::Init, before anything else: the view delivers the
  // tray icon's clicks, menu commands, timer ticks and hot-key presses to
  // the controller from here on.
  virtual void Attach(qvTray& tray) = 0;
  // Runs fn later on the GUI thread, in posting order (a posted message).
  // Any thread.
  virtual void Post(std::function<void()> fn) = 0;
  // Starts the blink timer and the request timer, which call
  // qvTray::OnBlinkTimer and qvTray::OnRequestTimer.
  virtual void StartTimers() = 0;
  // Adds, changes or removes the tray icon. False when the platform refused.
  virtual bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) = 0;
  // Menu position 1: "&Hide Window" (true) or "S&how Window" (false).
  virtual void SetWindowItem(bool hideItem) = 0;
  // Enables or greys Full Screen, Hide/Show Window and Request Refresh.
  virtual void EnableReceivingItems(bool enabled) = 0;
  virtual void SetFullScreenChecked(bool checked) = 0;
  // A modal message box without owner; returns when it is closed.
  virtual void ShowMessage(const char* caption, const char* text, MessageIcon icon) = 0;
  // Runs the settings dialog modally; on OK it calls qvTray::AcceptSettings.
  virtual void RunSettingsDialog() = 0;
  virtual void RunAboutDialog() = 0;
  // Grabs or releases the hide/show hot key (16-bit stored code).
  virtual bool RegisterHotKey(uint32_t code) = 0;
  virtual void UnregisterHotKey() = 0;
  // Ends the message loop with this exit code.
  virtual void Quit(int exitCode) = 0;
};

}  // namespace qc
