// A private Xvfb for tests and benchmarks: started on the given display
// number (each test binary keeps to its own numbers), without TCP, and
// killed by the destructor or, should the test die first, by the kernel.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace qc::test {

class XvfbServer {
 public:
  // geometry: "WIDTHxHEIGHTxDEPTH".
  XvfbServer(int displayNumber, const std::string& geometry)
      : display_(":" + std::to_string(displayNumber)) {
    pid_ = fork();
    if (pid_ == 0) {
      // The server goes when the test does, even when the test crashes.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      // Quiet: Xvfb reports missing fonts and keymaps it does not need here.
      freopen("/dev/null", "w", stderr);
      freopen("/dev/null", "w", stdout);
      execlp("Xvfb", "Xvfb", display_.c_str(), "-screen", "0", geometry.c_str(), "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready when a client can connect.
    for (int i = 0; i < 200 && pid_ > 0; ++i) {
      xcb_connection_t* c = xcb_connect(display_.c_str(), nullptr);
      bool ok = !xcb_connection_has_error(c);
      xcb_disconnect(c);
      if (ok) {
        ready_ = true;
        break;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;  // it exited (display number taken?)
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
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
