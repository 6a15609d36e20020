// SPDX-License-Identifier: GPL-3.0-or-later
// The global hotkeys of X11Hotkeys in the Qt event loop: a socket notifier
// watches the X connection and reports each press of a grabbed hotkey.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/x11/x11_hotkeys.h"

namespace qc {

class X11HotkeyNotifier : public QObject {
  Q_OBJECT
 public:
  // Connects to $DISPLAY; null when there is none. pressed(id) runs on the
  // GUI thread for each press of the hotkey grabbed under id.
  static std::unique_ptr<X11HotkeyNotifier> Open(std::function<void(int id)> pressed);
  ~X11HotkeyNotifier() override;

  // As X11Hotkeys::Grab and Ungrab.
  bool Grab(int id, uint32_t code);
  void Ungrab(int id);
  // Runs when the connection breaks; no hotkey is reported after that.
  void OnConnectionLost(std::function<void()> lost) { lost_ = std::move(lost); }

 private:
  X11HotkeyNotifier(std::unique_ptr<X11Hotkeys> hotkeys, std::function<void(int id)> pressed);
  void ProcessEvents();

  std::unique_ptr<X11Hotkeys> hotkeys_;
  std::function<void(int id)> pressed_;
  std::function<void()> lost_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qc
