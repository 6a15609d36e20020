// SPDX-License-Identifier: GPL-3.0-or-later
// An auto-reset event: Set() releases one waiter (or the next Wait() if none
// is waiting) and the event resets itself. Sets that arrive while it is
// already set collapse into one.
#pragma once

#include <condition_variable>
#include <mutex>

namespace qc {

class AutoResetEvent {
 public:
  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    cv_.notify_one();
  }

  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [this] { return signalled_; });
    signalled_ = false;
  }

  // True when the event was signalled within timeoutMs.
  bool WaitFor(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return signalled_; })) {
      return false;
    }
    signalled_ = false;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace qc
