// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/x11/x11_hotkeys.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

namespace qc {

namespace {

// X keysyms (X11/keysymdef.h) of the keys a hot-key code can name.
constexpr uint32_t kXkF1 = 0xFFBE;
constexpr uint32_t kXkNumLock = 0xFF7F;

struct VkKeysym {
  uint8_t vk;
  uint32_t keysym;
};

constexpr VkKeysym kTable[] = {
    {0x08, 0xFF08},                      // Backspace
    {0x09, 0xFF09},                      // Tab
    {0x0D, 0xFF0D},                      // Return
    {0x13, 0xFF13},                      // Pause
    {0x14, 0xFFE5},                      // Caps Lock
    {0x1B, 0xFF1B},                      // Escape
    {0x20, 0x0020},                      // space
    {0x21, 0xFF55},                      // Page Up
    {0x22, 0xFF56},                      // Page Down
    {0x23, 0xFF57},                      // End
    {0x24, 0xFF50},                      // Home
    {0x25, 0xFF51},                      // Left
    {0x26, 0xFF52},                      // Up
    {0x27, 0xFF53},                      // Right
    {0x28, 0xFF54},                      // Down
    {0x2C, 0xFF61},                      // Print
    {0x2D, 0xFF63},                      // Insert
    {0x2E, 0xFFFF},                      // Delete
    {0x6A, 0xFFAA},                      // keypad *
    {0x6B, 0xFFAB},                      // keypad +
    {0x6D, 0xFFAD},                      // keypad -
    {0x6E, 0xFFAE},                      // keypad .
    {0x6F, 0xFFAF},                      // keypad /
    {0x90, kXkNumLock}, {0x91, 0xFF14},  // Scroll Lock
    {0xBA, 0x003B},                      // ;
    {0xBB, 0x003D},                      // =
    {0xBC, 0x002C},                      // ,
    {0xBD, 0x002D},                      // -
    {0xBE, 0x002E},                      // .
    {0xBF, 0x002F},                      // /
    {0xC0, 0x0060},                      // `
    {0xDB, 0x005B},                      // [
    {0xDC, 0x005C},                      // backslash
    {0xDD, 0x005D},                      // ]
    {0xDE, 0x0027},                      // '
};

}  // namespace

uint32_t X11Hotkeys::KeysymForVirtualKey(uint8_t vk) {
  if (vk >= '0' && vk <= '9') return vk;                      // XK_0..XK_9
  if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 'a';          // XK_a..XK_z
  if (vk >= 0x70 && vk <= 0x87) return kXkF1 + (vk - 0x70);   // F1..F24
  if (vk >= 0x60 && vk <= 0x69) return 0xFFB0 + (vk - 0x60);  // keypad digits
  for (const auto& e : kTable) {
    if (e.vk == vk) return e.keysym;
  }
  return 0;
}

uint16_t X11Hotkeys::ModifierMask(uint32_t code) {
  uint32_t m = (code >> 8) & 0xFF;
  uint16_t mask = 0;
  if (m & 0x01) mask |= XCB_MOD_MASK_SHIFT;
  if (m & 0x02) mask |= XCB_MOD_MASK_CONTROL;
  if (m & 0x04) mask |= XCB_MOD_MASK_1;
  if (m & 0x08) mask |= XCB_MOD_MASK_4;
  return mask;
}

std::unique_ptr<X11Hotkeys> X11Hotkeys::Open(const std::string& display) {
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
  if (conn == nullptr || xcb_connection_has_error(conn)) {
    if (conn != nullptr) xcb_disconnect(conn);
    return nullptr;
  }
  std::unique_ptr<X11Hotkeys> h(new X11Hotkeys);
  h->conn_ = conn;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
  if (it.rem == 0) return nullptr;
  h->root_ = it.data->root;
  h->symbols_ = xcb_key_symbols_alloc(conn);
  if (h->symbols_ == nullptr) return nullptr;

  // Which modifier NumLock is on (usually Mod2).
  xcb_keycode_t* numLock = xcb_key_symbols_get_keycode(h->symbols_, kXkNumLock);
  xcb_get_modifier_mapping_reply_t* map =
      xcb_get_modifier_mapping_reply(conn, xcb_get_modifier_mapping(conn), nullptr);
  if (numLock != nullptr && map != nullptr) {
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map);
    int perMod = map->keycodes_per_modifier;
    for (int mod = 0; mod < 8; ++mod) {
      for (int k = 0; k < perMod; ++k) {
        for (const xcb_keycode_t* n = numLock; *n != XCB_NO_SYMBOL; ++n) {
          if (codes[mod * perMod + k] == *n) h->numLockMask_ = static_cast<uint16_t>(1u << mod);
        }
      }
    }
  }
  free(map);
  free(numLock);
  if (h->numLockMask_ == 0) h->numLockMask_ = XCB_MOD_MASK_2;
  return h;
}

X11Hotkeys::~X11Hotkeys() {
  if (conn_ != nullptr) {
    for (const auto& g : grabbed_) UngrabEntry(g);
    xcb_flush(conn_);
  }
  if (symbols_ != nullptr) xcb_key_symbols_free(symbols_);
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

int X11Hotkeys::Fd() const { return xcb_get_file_descriptor(conn_); }

uint16_t X11Hotkeys::LockMask(uint16_t mask) const {
  return static_cast<uint16_t>(mask & ~(XCB_MOD_MASK_LOCK | numLockMask_));
}

bool X11Hotkeys::Grab(int id, uint32_t code) {
  Ungrab(id);
  uint32_t keysym = KeysymForVirtualKey(static_cast<uint8_t>(code & 0xFF));
  if (keysym == 0) return false;
  xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(symbols_, keysym);
  if (keycodes == nullptr || keycodes[0] == XCB_NO_SYMBOL) {
    free(keycodes);
    return false;
  }
  Grabbed g{id, keycodes[0], ModifierMask(code)};
  free(keycodes);
  const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, numLockMask_,
                               static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLockMask_)};
  bool ok = true;
  for (uint16_t v : variants) {
    xcb_void_cookie_t c = xcb_grab_key_checked(conn_, 1, root_, g.modifiers | v, g.keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    if (xcb_generic_error_t* e = xcb_request_check(conn_, c)) {
      ok = false;  // BadAccess: another client holds it
      free(e);
    }
  }
  if (!ok) {
    UngrabEntry(g);
    xcb_flush(conn_);
    return false;
  }
  grabbed_.push_back(g);
  return true;
}

void X11Hotkeys::UngrabEntry(const Grabbed& g) {
  const uint16_t variants[] = {0, XCB_MOD_MASK_LOCK, numLockMask_,
                               static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLockMask_)};
  for (uint16_t v : variants) xcb_ungrab_key(conn_, g.keycode, root_, g.modifiers | v);
}

void X11Hotkeys::Ungrab(int id) {
  for (auto it = grabbed_.begin(); it != grabbed_.end();) {
    if (it->id == id) {
      UngrabEntry(*it);
      it = grabbed_.erase(it);
    } else {
      ++it;
    }
  }
  xcb_flush(conn_);
}

bool X11Hotkeys::ProcessEvents(const std::function<void(int id)>& pressed) {
  while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
    if ((event->response_type & 0x7F) == XCB_KEY_PRESS) {
      auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
      uint16_t mods = LockMask(key->state) &
                      (XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4);
      for (const auto& g : grabbed_) {
        if (g.keycode == key->detail && g.modifiers == mods) pressed(g.id);
      }
    }
    free(event);
  }
  return xcb_connection_has_error(conn_) == 0;
}

}  // namespace qc
