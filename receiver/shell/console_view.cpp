#include "receiver/shell/console_view.h"

#include <QCoreApplication>
#include <cstdio>

#include "receiver/shell/tray.h"

namespace qv {

void PrintMessage(const char* caption, const char* text) {
  fprintf(stderr, "qvrecv: %s: %s\n", caption, text);
  fflush(stderr);
}

ConsoleView::ConsoleView(QObject* parent) : QObject(parent) {}

void ConsoleView::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(this, std::move(fn), Qt::QueuedConnection);
}

void ConsoleView::StartTimers() {
  connect(&blinkTimer_, &QTimer::timeout, this, [this] { tray_->OnBlinkTimer(); });
  connect(&requestTimer_, &QTimer::timeout, this, [this] { tray_->OnRequestTimer(); });
  blinkTimer_.start(500);
  requestTimer_.start(5000);
}

bool ConsoleView::SetTrayIcon(TrayAction action, TrayImage, const char* tip) {
  // Only changes of state are worth a line, not every blink.
  if (action != TrayAction::Delete && lastTip_ != tip) {
    lastTip_ = tip;
    fprintf(stderr, "qvrecv: %s\n", tip);
    fflush(stderr);
  }
  return true;
}

void ConsoleView::ShowMessage(const char* caption, const char* text, MessageIcon) {
  PrintMessage(caption, text);
}

void ConsoleView::Quit(int exitCode) { QCoreApplication::exit(exitCode); }

}  // namespace qv
