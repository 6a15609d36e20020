#include "receiver/shell/x11_hotkey_grabber.h"

#include "common/log_file.h"

namespace qv {

std::unique_ptr<X11HotKeyGrabber> X11HotKeyGrabber::Open() {
  std::unique_ptr<qc::X11Hotkeys> hotkeys = qc::X11Hotkeys::Open();
  if (!hotkeys) return nullptr;
  return std::unique_ptr<X11HotKeyGrabber>(new X11HotKeyGrabber(std::move(hotkeys)));
}

X11HotKeyGrabber::X11HotKeyGrabber(std::unique_ptr<qc::X11Hotkeys> hotkeys)
    : hotkeys_(std::move(hotkeys)) {
  notifier_ = std::make_unique<QSocketNotifier>(hotkeys_->Fd(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    bool alive = hotkeys_->ProcessEvents([this](int) {
      if (pressed_) pressed_();
    });
    if (!alive) notifier_->setEnabled(false);
  });
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
