// SPDX-License-Identifier: GPL-3.0-or-later
// Runs one of the programs (qcsend, qvrecv) as a black box for the program
// tests: in a folder of its own (working directory, settings under
// folder/config, lock file in the folder), with standard output and error
// captured in files there. Only inside the test's private network namespace.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace qc::test {

class ProgramRun {
 public:
  // display: the X display to use; "" runs without any display; nothing
  // leaves the environment as it is.
  ProgramRun(const std::string& program, const std::string& dir, std::vector<std::string> args,
             std::optional<std::string> display = std::nullopt)
      : errPath_(dir + "/stderr-" + std::to_string(counter_)),
        outPath_(dir + "/stdout-" + std::to_string(counter_)) {
    ++counter_;
    pid_ = fork();
    if (pid_ != 0) return;
    if (chdir(dir.c_str()) != 0) _exit(126);
    dup2(open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    dup2(open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);  // no desktop session here
    if (display && display->empty()) {
      for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
    } else if (display) {
      setenv("DISPLAY", display->c_str(), 1);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ~ProgramRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  void Signal(int signo) { kill(pid_, signo); }
  // The exit code; a death by signal s gives -1000 - s.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1000 - WTERMSIG(status);
  }
  std::string Stderr() const { return ReadFile(errPath_); }
  std::string Stdout() const { return ReadFile(outPath_); }
  // Waits (guarded against a hang, 20 s) until standard error holds text
  // at least times times.
  bool StderrShows(const std::string& text, int times = 1) const {
    for (int i = 0; i < 400; ++i) {
      std::string err = Stderr();
      int count = 0;
      for (size_t p = err.find(text); p != std::string::npos; p = err.find(text, p + 1)) ++count;
      if (count >= times) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 private:
  static inline int counter_ = 0;
  std::string errPath_;
  std::string outPath_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace qc::test
