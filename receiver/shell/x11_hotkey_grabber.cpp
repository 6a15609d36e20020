#include "receiver/shell/x11_hotkey_grabber.h"

namespace qv {

std::unique_ptr<X11HotKeyGrabber> X11HotKeyGrabber::Open() {
  std::unique_ptr<X11HotKeyGrabber> grabber(new X11HotKeyGrabber);
  grabber->hotkeys_ = qc::X11HotkeyNotifier::Open([g = grabber.get()](int) {
    if (g->pressed_) g->pressed_();
  });
  if (!grabber->hotkeys_) return nullptr;
  return grabber;
}

bool X11HotKeyGrabber::Grab(uint32_t code, std::function<void()> pressed) {
  pressed_ = std::move(pressed);
  return hotkeys_->Grab(0, code);
}

void X11HotKeyGrabber::Release() {
  hotkeys_->Ungrab(0);
  pressed_ = nullptr;
}

}  // namespace qv
