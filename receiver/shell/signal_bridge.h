// Turns POSIX signals into calls on the GUI thread: the handler only writes
// the signal number into a pipe; a socket notifier reads it in the event
// loop and runs the callback there.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace qv {

class SignalBridge : public QObject {
  Q_OBJECT
 public:
  // onSignal runs on the GUI thread with the signal number. One bridge per
  // process.
  SignalBridge(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal,
               QObject* parent = nullptr);
  ~SignalBridge() override;

 private:
  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace qv
