// SPDX-License-Identifier: GPL-3.0-or-later
// Turns POSIX signals into calls on the GUI thread: the handler only writes
// the signal number into a pipe; a socket notifier reads it in the event
// loop and runs the callback there, so a signal is handled like any other
// command (also while a message box or dialog runs its own loop).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <csignal>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace qc {

class SignalBridge : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; onSignal runs on the GUI thread with the signal
  // number. One bridge per process. A signal that comes before the event
  // loop runs waits in the pipe.
  SignalBridge(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal,
               QObject* parent = nullptr);
  // Puts the handlers that were there before back, then closes the pipe.
  ~SignalBridge() override;

 private:
  std::function<void(int)> onSignal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<std::pair<int, struct sigaction>> previous_;
};

}  // namespace qc
