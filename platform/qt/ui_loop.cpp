// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/ui_loop.h"

#include <QCoreApplication>

namespace qc {

void UiLoop::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void UiLoop::StartTimer(int id, int intervalMs, std::function<void()> tick) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    // Precise timers: the sender's poll timer paces the capture (a few ms).
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, std::move(tick));
  }
  timer->start(intervalMs < 0 ? 0 : intervalMs);
}

void UiLoop::StopTimer(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

void UiLoop::Quit(int exitCode) { QCoreApplication::exit(exitCode); }

}  // namespace qc
