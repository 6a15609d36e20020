// Event-loop helpers of the viewer window tests.
#pragma once

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <thread>

namespace qc::test {

// Runs the event loop until pred() holds or maxMs passed (a limit for a
// hung window, not a speed requirement); returns pred().
inline bool ProcessUntil(const std::function<bool()>& pred, int maxMs = 10000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return pred();
}

}  // namespace qc::test
