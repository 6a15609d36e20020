// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/qt/qt_ui_services.h"

#include <QCoreApplication>
#include <QMessageBox>

#include "shell/console_output.h"

namespace qc {

QtUiServices::QtUiServices(const UiStyle& style)
    : style_(style),
      hotkeys_(
          [this](int id) {
            // Copied: the press may re-register its own hotkey.
            auto it = pressed_.find(id);
            if (it == pressed_.end()) return;
            std::function<void()> pressed = it->second;
            pressed();
          },
          style.hotkeyLog, style.hotkeyNames) {}

QtUiServices::~QtUiServices() = default;

void QtUiServices::Post(std::function<void()> task) {
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void QtUiServices::StartTimer(int id, int intervalMs, std::function<void()> tick) {
  Timer& t = timers_[id];
  t.tick = std::move(tick);
  if (t.timer == nullptr) {
    t.timer = new QTimer(this);
    // Precise: a coarse timer may be 5% late, much of the keep-alive's 700 ms.
    t.timer->setTimerType(Qt::PreciseTimer);
    connect(t.timer, &QTimer::timeout, this, [this, id] {
      std::function<void()> tick = timers_[id].tick;  // the tick may restart its timer
      if (tick) tick();
    });
  }
  t.timer->start(intervalMs < 0 ? 0 : intervalMs);
}

void QtUiServices::StopTimer(int id) {
  auto it = timers_.find(id);
  if (it != timers_.end() && it->second.timer != nullptr) it->second.timer->stop();
}

void QtUiServices::Quit(int exitCode) { QCoreApplication::exit(exitCode); }

bool QtUiServices::RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) {
  if (!style_.hotkeys) return false;
  pressed_[static_cast<int>(id)] = std::move(pressed);
  return hotkeys_.Grab(static_cast<int>(id), code);
}

void QtUiServices::UnregisterHotKey(HotKey id) {
  if (!style_.hotkeys) return;
  hotkeys_.Ungrab(static_cast<int>(id));
  pressed_.erase(static_cast<int>(id));
}

void QtUiServices::ShowMessage(std::string_view caption, std::string_view text,
                               MessageIcon icon) {
  PrintMessage(style_.stderrPrefix, caption, text);
  if (!style_.boxes) return;
  const QMessageBox::Icon qtIcon = icon == MessageIcon::Error     ? QMessageBox::Critical
                                   : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                  : QMessageBox::Information;
  QMessageBox box(qtIcon, QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace qc
