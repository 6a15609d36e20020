// A private X server for the window tests: Xvfb on the first free display
// of :70 to :79, without TCP, killed by the destructor.
#pragma once

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace qc::test {

class XvfbDisplay {
 public:
  // geometry: "WIDTHxHEIGHTxDEPTH".
  explicit XvfbDisplay(const std::string& geometry) {
    for (int n = 70; n <= 79 && !ready_; ++n) {
      if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
      Start(n, geometry);
    }
  }
  ~XvfbDisplay() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Display() const { return display_; }

 private:
  void Start(int n, const std::string& geometry) {
    const std::string display = ":" + std::to_string(n);
    const pid_t pid = fork();
    if (pid == 0) {
      if (freopen("/dev/null", "w", stderr) == nullptr || freopen("/dev/null", "w", stdout) == nullptr) {
        _exit(126);
      }
      execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", geometry.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) return;
    const std::string path = "/tmp/.X11-unix/X" + std::to_string(n);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return;  // taken by someone else
      if (Connects(path)) {
        // Make sure the server that answered is ours, not a racing one.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (waitpid(pid, &status, WNOHANG) == pid) return;
        pid_ = pid;
        display_ = display;
        ready_ = true;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
  }

  static bool Connects(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
  }

  std::string display_;
  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace qc::test
