// SPDX-License-Identifier: GPL-3.0-or-later
// The programs' global hotkeys. On a Wayland desktop whose portal offers
// GlobalShortcuts the desktop binds them (PortalGlobalShortcuts); otherwise
// they are X11 grabs watched by the event loop, where the build has X11 (on
// Wayland those see only keys typed into X11 windows), else nothing. The
// way is chosen at the first grab or question; without one no hotkey works
// and the programs stay usable through the tray and the signals.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qc {

class X11HotkeyNotifier;
class PortalGlobalShortcuts;

class GlobalHotkeys {
 public:
  enum class Route {
    None,    // no display for hotkeys
    X11,     // X11 grabs in an X11 session
    X11OnWayland,  // X11 grabs, seen only while an X11 window has the focus
    Portal,  // the desktop's GlobalShortcuts portal
  };

  // pressed(index) runs on the GUI thread. logPrefix (e.g. "qcTray"), when
  // not null, names the log lines about the route and a lost display.
  // names[index] describes hotkey index to a desktop that binds it.
  GlobalHotkeys(std::function<void(int index)> pressed, const char* logPrefix,
                std::vector<std::string> names = {});
  ~GlobalHotkeys();

  // Grabs the stored 16-bit code under index. False when there is no
  // display or another program holds the combination; through the portal
  // true (the desktop binds it later, maybe to another key).
  bool Grab(int index, uint32_t code);
  void Ungrab(int index);
  // How the hotkeys reach the program (chosen now if not yet).
  Route CurrentRoute();

 private:
  void Choose();

  std::function<void(int)> pressed_;
  const char* logPrefix_;
  std::vector<std::string> names_;
  std::unique_ptr<X11HotkeyNotifier> notifier_;
  std::unique_ptr<PortalGlobalShortcuts> portal_;
  Route route_ = Route::None;
  bool chosen_ = false;
};

}  // namespace qc
