// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/global_hotkeys.h"

#include "common/log_file.h"
#ifdef QC_HAVE_X11_HOTKEYS
#include "platform/qt/x11_hotkey_notifier.h"
#endif

namespace qc {

#ifndef QC_HAVE_X11_HOTKEYS
class X11HotkeyNotifier {};
#endif

GlobalHotkeys::GlobalHotkeys(std::function<void(int)> pressed, const char* logPrefix)
    : pressed_(std::move(pressed)), logPrefix_(logPrefix) {}

GlobalHotkeys::~GlobalHotkeys() = default;

bool GlobalHotkeys::Grab(int index, uint32_t code) {
#ifdef QC_HAVE_X11_HOTKEYS
  if (!opened_) {
    opened_ = true;
    notifier_ = X11HotkeyNotifier::Open([this](int id) {
      if (pressed_) pressed_(id);
    });
    if (logPrefix_ != nullptr) {
      if (notifier_) {
        notifier_->OnConnectionLost(
            [prefix = logPrefix_] { Log().Print("%s: Hotkey connection lost\n", prefix); });
      } else {
        Log().Print("%s: No X display for hotkeys\n", logPrefix_);
      }
    }
  }
  return notifier_ && notifier_->Grab(index, code);
#else
  (void)index;
  (void)code;
  return false;
#endif
}

void GlobalHotkeys::Ungrab(int index) {
#ifdef QC_HAVE_X11_HOTKEYS
  if (notifier_) notifier_->Ungrab(index);
#else
  (void)index;
#endif
}

}  // namespace qc
