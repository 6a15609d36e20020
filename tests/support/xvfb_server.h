// SPDX-License-Identifier: GPL-3.0-or-later
// A private Xvfb for tests and benchmarks: the server picks a free display
// number itself (-displayfd), so parallel runs never collide. No TCP; killed
// by the destructor or, should the test die first, by the kernel.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace qc::test {

class XvfbServer {
 public:
  // geometry: "WIDTHxHEIGHTxDEPTH".
  explicit XvfbServer(const std::string& geometry) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      close(fds[0]);
      // Quiet: Xvfb reports missing fonts and keymaps it does not need here.
      if (!freopen("/dev/null", "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry.c_str(),
             "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // The server writes its display number once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&p, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty()) {
      display_ = ":" + number;
      ready_ = true;
    }
  }

  ~XvfbServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Display() const { return display_; }
  pid_t Pid() const { return pid_; }

 private:
  std::string display_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace qc::test
