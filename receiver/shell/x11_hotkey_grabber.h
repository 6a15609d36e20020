// The hide/show hot key on X11: a grab on the root window through
// qc::X11Hotkeys, whose connection the Qt event loop watches.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

#include "platform/x11_hotkeys.h"
#include "receiver/shell/qt_tray_view.h"

namespace qv {

class X11HotKeyGrabber : public QObject, public HotKeyGrabber {
  Q_OBJECT
 public:
  // Null when the display cannot be reached (the receiver then runs without
  // a hot key).
  static std::unique_ptr<X11HotKeyGrabber> Open();

  bool Grab(uint32_t code, std::function<void()> pressed) override;
  void Release() override;

 private:
  explicit X11HotKeyGrabber(std::unique_ptr<qc::X11Hotkeys> hotkeys);

  std::unique_ptr<qc::X11Hotkeys> hotkeys_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> pressed_;
};

}  // namespace qv
