// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/signal_bridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qc {

namespace {

int gPipe[2] = {-1, -1};

void Handler(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  ssize_t ignored = write(gPipe[1], &byte, 1);  // a full pipe already wakes the loop
  (void)ignored;
  errno = saved;
}

}  // namespace

SignalBridge::SignalBridge(std::initializer_list<int> signalNumbers, std::function<void(int)> onSignal,
                           QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  if (pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
    unsigned char byte;
    while (read(gPipe[0], &byte, 1) == 1) {
      if (onSignal_) onSignal_(byte);
    }
  });
  struct sigaction sa{};
  sa.sa_handler = Handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : signalNumbers) {
    struct sigaction old{};
    if (sigaction(s, &sa, &old) == 0) previous_.emplace_back(s, old);
  }
}

SignalBridge::~SignalBridge() {
  // The handlers go first, so that none writes into a closed descriptor.
  for (const auto& [signo, old] : previous_) sigaction(signo, &old, nullptr);
  notifier_.reset();
  if (gPipe[0] >= 0) {
    close(gPipe[0]);
    close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
  }
}

}  // namespace qc
