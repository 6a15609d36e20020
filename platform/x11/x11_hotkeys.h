// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on X11: key grabs on the root window, through a connection
// of their own. A hotkey is given as the stored 16-bit hot-key code of the
// settings (virtual-key code in the low byte; modifier flags in the high
// byte: 0x01 Shift, 0x02 Control, 0x04 Alt, 0x08 Super). Each is grabbed in
// all four NumLock/CapsLock variants, so the lock keys never stop it.
//
// The owner watches Fd() (a QSocketNotifier, poll) and calls
// ProcessEvents() when it is readable. One thread uses an object.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct xcb_connection_t;
struct _XCBKeySymbols;

namespace qc {

class X11Hotkeys {
 public:
  // Connects to the display ($DISPLAY when empty); null when there is none.
  static std::unique_ptr<X11Hotkeys> Open(const std::string& display = {});
  ~X11Hotkeys();
  X11Hotkeys(const X11Hotkeys&) = delete;
  X11Hotkeys& operator=(const X11Hotkeys&) = delete;

  int Fd() const;

  // Grabs the hotkey under id (replacing what id held). False when the code
  // names no key this table knows, the key is not on the keyboard, or
  // another client holds the combination.
  bool Grab(int id, uint32_t code);
  void Ungrab(int id);

  // Reads every pending event; calls pressed(id) for each press of a
  // grabbed hotkey. False when the connection broke.
  bool ProcessEvents(const std::function<void(int id)>& pressed);

  // The X keysym of a virtual-key code (letters, digits, F1-F24, the
  // keypad, navigation and punctuation keys); 0 when it has none.
  static uint32_t KeysymForVirtualKey(uint8_t vk);
  // The X modifier mask of a code's flags (Shift, Control, Mod1 for Alt,
  // Mod4 for Super); other flag bits have no X modifier and are dropped.
  static uint16_t ModifierMask(uint32_t code);

 private:
  struct Grabbed {
    int id;
    uint8_t keycode;
    uint16_t modifiers;
  };
  X11Hotkeys() = default;
  void UngrabEntry(const Grabbed& g);
  uint16_t LockMask(uint16_t mask) const;

  xcb_connection_t* conn_ = nullptr;
  uint32_t root_ = 0;
  _XCBKeySymbols* symbols_ = nullptr;
  uint16_t numLockMask_ = 0;
  std::vector<Grabbed> grabbed_;
};

}  // namespace qc
