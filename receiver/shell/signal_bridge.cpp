#include "receiver/shell/signal_bridge.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace qv {

namespace {

int gPipe[2] = {-1, -1};

void Handler(int signo) {
  int saved = errno;
  unsigned char byte = static_cast<unsigned char>(signo);
  ssize_t ignored = write(gPipe[1], &byte, 1);
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
    while (read(gPipe[0], &byte, 1) == 1) onSignal_(byte);
  });
  struct sigaction sa{};
  sa.sa_handler = Handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : signalNumbers) sigaction(s, &sa, nullptr);
}

SignalBridge::~SignalBridge() {
  notifier_.reset();
  if (gPipe[0] >= 0) {
    close(gPipe[0]);
    close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
  }
}

}  // namespace qv
