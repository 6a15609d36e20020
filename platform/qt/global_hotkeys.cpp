// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/global_hotkeys.h"

#include <cstdlib>
#include <cstring>

#include "common/log_file.h"
#include "platform/qt/portal_global_shortcuts.h"
#ifdef QC_HAVE_X11_HOTKEYS
#include "platform/qt/x11_hotkey_notifier.h"
#endif

namespace qc {

#ifndef QC_HAVE_X11_HOTKEYS
class X11HotkeyNotifier {};
#endif

namespace {

// XDG_SESSION_TYPE=wayland, or a Wayland display without an X11 session type.
bool WaylandSession() {
  const char* type = getenv("XDG_SESSION_TYPE");
  if (type != nullptr && std::strcmp(type, "wayland") == 0) return true;
  return getenv("WAYLAND_DISPLAY") != nullptr && (type == nullptr || std::strcmp(type, "x11") != 0);
}

}  // namespace

GlobalHotkeys::GlobalHotkeys(std::function<void(int)> pressed, const char* logPrefix,
                             std::vector<std::string> names)
    : pressed_(std::move(pressed)), logPrefix_(logPrefix), names_(std::move(names)) {}

GlobalHotkeys::~GlobalHotkeys() = default;

void GlobalHotkeys::Choose() {
  if (chosen_) return;
  chosen_ = true;
  const bool wayland = WaylandSession();
  if (wayland) {
    portal_ = PortalGlobalShortcuts::Open(
        [this](int index) {
          if (pressed_) pressed_(index);
        },
        names_, logPrefix_ != nullptr ? logPrefix_ : "Hotkeys");
    if (portal_) {
      route_ = Route::Portal;
      return;
    }
  }
#ifdef QC_HAVE_X11_HOTKEYS
  notifier_ = X11HotkeyNotifier::Open([this](int id) {
    if (pressed_) pressed_(id);
  });
  if (notifier_) {
    route_ = wayland ? Route::X11OnWayland : Route::X11;
    if (logPrefix_ != nullptr) {
      notifier_->OnConnectionLost(
          [prefix = logPrefix_] { Log().Print("%s: Hotkey connection lost\n", prefix); });
      if (wayland) {
        Log().Print("%s: Wayland session without a GlobalShortcuts portal: hotkeys work only "
                    "over X11 windows; use the tray menu\n",
                    logPrefix_);
      }
    }
    return;
  }
#endif
  if (logPrefix_ != nullptr) Log().Print("%s: No X display for hotkeys\n", logPrefix_);
}

GlobalHotkeys::Route GlobalHotkeys::CurrentRoute() {
  Choose();
  return route_;
}

bool GlobalHotkeys::Grab(int index, uint32_t code) {
  Choose();
  if (portal_) {
    portal_->Bind(index, code);
    return true;
  }
#ifdef QC_HAVE_X11_HOTKEYS
  return notifier_ && notifier_->Grab(index, code);
#else
  (void)index;
  (void)code;
  return false;
#endif
}

void GlobalHotkeys::Ungrab(int index) {
  if (portal_) portal_->Unbind(index);
#ifdef QC_HAVE_X11_HOTKEYS
  if (notifier_) notifier_->Ungrab(index);
#else
  (void)index;
#endif
}

}  // namespace qc
