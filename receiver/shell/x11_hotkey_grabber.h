// The hide/show hot key on X11: a grab on the root window through
// qc::X11HotkeyNotifier, which the Qt event loop watches.
#pragma once

#include <functional>
#include <memory>

#include "platform/qt/x11_hotkey_notifier.h"
#include "receiver/shell/qt_tray_view.h"

namespace qv {

class X11HotKeyGrabber : public HotKeyGrabber {
 public:
  // Null when the display cannot be reached (the receiver then runs without
  // a hot key).
  static std::unique_ptr<X11HotKeyGrabber> Open();

  bool Grab(uint32_t code, std::function<void()> pressed) override;
  void Release() override;

 private:
  X11HotKeyGrabber() = default;

  std::unique_ptr<qc::X11HotkeyNotifier> hotkeys_;
  std::function<void()> pressed_;
};

}  // namespace qv
