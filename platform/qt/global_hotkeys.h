// SPDX-License-Identifier: GPL-3.0-or-later
// The programs' global hotkeys: X11 grabs watched by the event loop where
// the build has X11, nothing elsewhere. The X connection is opened at the
// first grab; without a display no hotkey is grabbed and the programs stay
// usable through the tray and the signals.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace qc {

class X11HotkeyNotifier;

class GlobalHotkeys {
 public:
  // pressed(index) runs on the GUI thread. logPrefix (e.g. "qcTray"), when
  // not null, names the log lines about a missing or lost display.
  GlobalHotkeys(std::function<void(int index)> pressed, const char* logPrefix);
  ~GlobalHotkeys();

  // Grabs the stored 16-bit code under index. False when there is no
  // display or another program holds the combination.
  bool Grab(int index, uint32_t code);
  void Ungrab(int index);

 private:
  std::function<void(int)> pressed_;
  const char* logPrefix_;
  std::unique_ptr<X11HotkeyNotifier> notifier_;
  bool opened_ = false;
};

}  // namespace qc
