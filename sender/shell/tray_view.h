// SPDX-License-Identifier: GPL-3.0-or-later
// What the tray controller (qcTray) shows of itself: the tray icon and its
// menu, and the program's dialogs (the event loop's services are its
// UiServices). The Qt and the Win32 tray views, the console view
// (--headless) and the tests' fake each implement it, so the controller's
// logic runs the same with a screen, without one, and under test.
//
// Every call is made on the UI thread.
#pragma once

#include <string>
#include <vector>

#include "sender/capture/screen_area.h"

namespace qc {

class qcTray;

// Command identifiers of the tray menu, the hotkeys and the double click.
enum CommandId : int {
  ID_ABOUT = 40001,
  ID_QUIT = 40002,
  ID_STOP_TRANSMISSION = 40003,
  ID_START_TRANSMISSION = 40004,
  ID_PAUSE_TRANSMISSION = 40005,
  ID_SETTINGS = 40006,
  ID_SEND_FULL_UPDATE = 40007,
};

// The controller's timers (its ids in UiServices): the end of the start
// check, and the keep-alive timer (the engine paces its capture itself).
enum class TimerId { StartCheck, KeepAlive };

// The popup menu: "&Start Transmission" or "&Stop Transmission" at position
// 0 (the default item), then Pause, Send Full-Screen Update, the "Share"
// submenu ("Whole screen" and one item per monitor, the shared one checked),
// a separator, Settings, About, a separator and Quit.
struct TrayMenu {
  int first = ID_START_TRANSMISSION;
  bool startEnabled = true;  // applies while first is ID_START_TRANSMISSION
  bool pauseEnabled = false;
  bool pauseChecked = false;
  bool fullUpdateEnabled = false;
  bool quitEnabled = true;
  std::vector<std::string> monitors;  // labels, "name (WxH)"
  int shared = 0;  // 0 the whole screen, k monitor k, -1 a command-line region
  bool operator==(const TrayMenu&) const = default;
};

// How the About box was closed.
enum class AboutChoice { Close, CheckForUpdates };

class TrayView {
 public:
  virtual ~TrayView() = default;

  // Adds the tray icon or changes it: icon index 0-3 are the animation
  // frames (0 also idle), 4 the paused icon. False when it failed.
  virtual bool SetTrayIcon(int iconIndex, const char* tip) = 0;
  virtual void RemoveTrayIcon() = 0;
  // Where the tray icon is drawn, in screen pixels; empty when that is not
  // known (no tray, a tray that does not tell, no icon shown).
  virtual ScreenRect TrayIconArea() const { return {}; }
  virtual void SetMenu(const TrayMenu& menu) = 0;

  // The "Quillcast Starting..." wait dialog: shown (again, if only hidden),
  // hidden, closed.
  virtual void ShowStartingDialog() = 0;
  virtual void HideStartingDialog() = 0;
  virtual void CloseStartingDialog() = 0;

  // The settings dialog, modal; applies through the controller's setters.
  virtual void RunSettingsDialog(qcTray& tray) = 0;
  // The About box, modal: CheckForUpdates for "Check for Updates...", Close
  // for Close Window, Enter, Esc or the close box.
  virtual AboutChoice RunAboutBox() = 0;
  virtual void OpenUrl(const std::string& url) = 0;
};

}  // namespace qc
