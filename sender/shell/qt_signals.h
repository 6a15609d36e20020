// SIGTERM, SIGINT and SIGHUP as an orderly Quit: the handler only writes a
// byte into a pipe; the UI thread's event loop reads it and runs the
// callback, so a signal is handled like any other command (also while a
// message box or dialog runs its own loop).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>

namespace qc {

class QuitSignals : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; onSignal runs on the UI thread. One instance.
  explicit QuitSignals(std::function<void()> onSignal);
  ~QuitSignals() override;
  bool Installed() const { return notifier_ != nullptr; }

 private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace qc
