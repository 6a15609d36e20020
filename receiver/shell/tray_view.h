// SPDX-License-Identifier: GPL-3.0-or-later
// What the receiver's tray controller (qvTray) shows of itself: the tray
// icon, its menu and the dialogs (the event loop's services are its
// UiServices). The Qt and the Win32 tray views, the console view
// (--headless, the browser gateway) and a recording fake in tests implement
// it. Every call is made on the GUI thread.
#pragma once

#include "receiver/viewer/receiver_commands.h"

namespace qc {

// Starts every line the receiver writes to standard error.
inline constexpr char kReceiverStderrPrefix[] = "qvrecv: ";

// The six tray images: frame colour, then centre colour.
enum class TrayImage {
  RedRed,        // Disconnected, blink phase set
  RedGreen,      // Disconnected, blink phase clear (also the program icon)
  GreenYellow,   // Receiving, blink phase set
  GreenGreen,    // Receiving, blink phase clear
  YellowGreen,   // Hidden, blink phase set
  YellowYellow,  // Hidden, blink phase clear
};
inline constexpr int kTrayImageCount = 6;

class qvTray;

class ReceiverTrayView {
 public:
  virtual ~ReceiverTrayView() = default;

  // Called once by qvTray::Init, before anything else: the view delivers the
  // tray icon's clicks and the menu commands to the controller from here on.
  virtual void Attach(qvTray& tray) = 0;
  // Shows the tray icon (first call) or changes it.
  virtual void SetTrayIcon(TrayImage image, const char* tip) = 0;
  virtual void RemoveTrayIcon() = 0;
  // Menu position 1: "&Hide Window" (true) or "S&how Window" (false).
  virtual void SetWindowItem(bool hideItem) = 0;
  // Enables or greys Full Screen, Hide/Show Window and Request Refresh.
  virtual void EnableReceivingItems(bool enabled) = 0;
  virtual void SetFullScreenChecked(bool checked) = 0;
  // Runs the settings dialog modally; on OK it calls qvTray::AcceptSettings.
  virtual void RunSettingsDialog() = 0;
  virtual void RunAboutDialog() = 0;
};

}  // namespace qc
