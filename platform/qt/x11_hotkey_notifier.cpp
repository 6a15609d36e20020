// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/x11_hotkey_notifier.h"

namespace qc {

std::unique_ptr<X11HotkeyNotifier> X11HotkeyNotifier::Open(std::function<void(int id)> pressed) {
  std::unique_ptr<X11Hotkeys> hotkeys = X11Hotkeys::Open();
  if (!hotkeys) return nullptr;
  return std::unique_ptr<X11HotkeyNotifier>(new X11HotkeyNotifier(std::move(hotkeys), std::move(pressed)));
}

X11HotkeyNotifier::X11HotkeyNotifier(std::unique_ptr<X11Hotkeys> hotkeys,
                                     std::function<void(int id)> pressed)
    : hotkeys_(std::move(hotkeys)), pressed_(std::move(pressed)) {
  notifier_ = std::make_unique<QSocketNotifier>(hotkeys_->Fd(), QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ProcessEvents(); });
}

X11HotkeyNotifier::~X11HotkeyNotifier() = default;

bool X11HotkeyNotifier::Grab(int id, uint32_t code) { return hotkeys_->Grab(id, code); }

void X11HotkeyNotifier::Ungrab(int id) { hotkeys_->Ungrab(id); }

void X11HotkeyNotifier::ProcessEvents() {
  bool alive = hotkeys_->ProcessEvents([this](int id) {
    if (pressed_) pressed_(id);
  });
  if (!alive) {
    notifier_->setEnabled(false);
    if (lost_) lost_();
  }
}

}  // namespace qc
