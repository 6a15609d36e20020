#include "sender/shell/qt_view_base.h"

#include <QCoreApplication>
#include <cstdio>

#include "common/log_file.h"
#include "sender/shell/tray_controller.h"
#ifdef QC_HAVE_X11_HOTKEYS
#include "platform/qt/x11_hotkey_notifier.h"
#endif

namespace qc {

#ifndef QC_HAVE_X11_HOTKEYS
// Without X11 the hotkeys are simply not available.
class X11HotkeyNotifier {};
#endif

QtViewBase::QtViewBase() = default;
QtViewBase::~QtViewBase() = default;

void QtViewBase::PostToUi(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void QtViewBase::StartTimer(TimerId id, int intervalMs) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    // Precise timers: the poll timer paces the capture (a few ms).
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (tray_ != nullptr) tray_->OnTimer(id);
    });
  }
  timer->start(intervalMs < 0 ? 0 : intervalMs);
}

void QtViewBase::StopTimer(TimerId id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

void QtViewBase::Quit() {
  // Leaves every running event loop, also a message box's or a dialog's.
  QCoreApplication::exit(0);
}

void QtViewBase::WriteToStderr(const char* caption, const std::string& text) {
  fprintf(stderr, "%s: %s\n", caption, text.c_str());
  fflush(stderr);
}

void QtViewBase::RegisterHotKey(int index, uint32_t code) {
#ifdef QC_HAVE_X11_HOTKEYS
  if (!hotkeysTried_) {
    hotkeysTried_ = true;
    hotkeys_ = X11HotkeyNotifier::Open([this](int id) {
      if (tray_ != nullptr) tray_->OnHotKey(id);
    });
    if (hotkeys_) {
      hotkeys_->OnConnectionLost([] { Log().Print("qcTray: Hotkey connection lost\n"); });
    } else {
      Log().Print("qcTray: No X display for hotkeys\n");
    }
  }
  // A combination another program holds is not reported.
  if (hotkeys_) hotkeys_->Grab(index, code);
#else
  (void)index;
  (void)code;
#endif
}

void QtViewBase::UnregisterHotKey(int index) {
#ifdef QC_HAVE_X11_HOTKEYS
  if (hotkeys_) hotkeys_->Ungrab(index);
#else
  (void)index;
#endif
}

}  // namespace qc
