// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on a Wayland desktop: a private session bus (dbus-daemon)
// first without a portal, then with a small GlobalShortcuts portal
// (fake_shortcuts_portal.py). Without a portal and without an X display
// there are no hotkeys; with it the stored codes go to the desktop as
// preferred triggers under the program's names, presses in the program's
// own session reach it (a press in another session does not), a change
// binds anew in a fresh session and closes the old one, and a change while
// the desktop waits for the user withdraws the waiting request.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/qt/global_hotkeys.h"
#include "tests/support/temp_dir.h"

namespace qc {
namespace {

// Runs the event loop until done() or the time is up.
bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::vector<std::string> LinesStarting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  }
  return out;
}

class PortalShortcutsTest : public testing::Test {
 protected:
  void SetUp() override {
    // A bus that starts no services: the desktop's own portals stay out.
    const std::string config = dir_.Path() + "/bus.conf";
    FILE* conf = fopen(config.c_str(), "w");
    ASSERT_NE(conf, nullptr);
    fprintf(conf,
            "<busconfig><type>session</type><listen>unix:dir=%s</listen>"
            "<auth>EXTERNAL</auth><policy context='default'>"
            "<allow send_destination='*' eavesdrop='true'/><allow eavesdrop='true'/>"
            "<allow own='*'/></policy></busconfig>\n",
            dir_.Path().c_str());
    fclose(conf);
    const std::string command =
        "dbus-daemon --config-file=" + config + " --fork --print-address=1 --print-pid=1";
    FILE* daemon = popen(command.c_str(), "r");
    ASSERT_NE(daemon, nullptr);
    char address[512] = {}, pid[32] = {};
    const bool read = fgets(address, sizeof address, daemon) && fgets(pid, sizeof pid, daemon);
    pclose(daemon);
    ASSERT_TRUE(read) << "dbus-daemon did not start";
    busPid_ = atoi(pid);
    std::string a = address;
    a.erase(a.find_last_not_of("\n") + 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", a.c_str(), 1);
    setenv("XDG_SESSION_TYPE", "wayland", 1);
    setenv("WAYLAND_DISPLAY", "wayland-test", 1);
    unsetenv("DISPLAY");
  }
  void TearDown() override {
    for (pid_t p : {portalPid_, busPid_}) {
      if (p > 0) kill(p, SIGTERM);
    }
    if (portalPid_ > 0) waitpid(portalPid_, nullptr, 0);
  }
  void StartPortal() {
    portalPid_ = fork();
    if (portalPid_ == 0) {
      execl("/usr/bin/python3", "python3", FAKE_PORTAL, log_.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  std::string Log() const { return test::ReadFile(log_); }

  test::TempDir dir_;
  std::string log_ = dir_.Path() + "/portal.log";
  pid_t busPid_ = -1;
  pid_t portalPid_ = -1;
};

TEST_F(PortalShortcutsTest, DesktopBindsPreferredKeysAndReportsOwnPressesAndRebindsOnChange) {
  int argc = 1;
  char name[] = "global_shortcuts_test";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);

  {
    GlobalHotkeys none([](int) {}, nullptr);
    EXPECT_EQ(none.CurrentRoute(), GlobalHotkeys::Route::None);
    EXPECT_FALSE(none.Grab(0, 0x047B));
  }

  StartPortal();
  ASSERT_TRUE(PumpUntil([this] { return Log().find("ready") != std::string::npos; }))
      << "the fake portal did not start (python3-dbus, python3-gi)";
  std::vector<int> pressed;
  GlobalHotkeys keys([&pressed](int index) { pressed.push_back(index); }, nullptr,
                     {"Start or stop", "Pause"});
  EXPECT_TRUE(keys.Grab(0, 0x047B));  // Alt+F12
  EXPECT_TRUE(keys.Grab(1, 0x0341));  // Ctrl+Shift+A
  EXPECT_EQ(keys.CurrentRoute(), GlobalHotkeys::Route::Portal);
  ASSERT_TRUE(PumpUntil([&pressed] { return pressed.size() >= 2; })) << Log();
  PumpUntil([] { return false; }, 200);  // nothing more arrives
  EXPECT_EQ(pressed, (std::vector<int>{0, 1}));

  // Both grabs of one turn made one session.
  std::vector<std::string> sessions = LinesStarting(Log(), "session ");
  ASSERT_EQ(sessions.size(), 1u) << Log();
  const std::string first = sessions[0].substr(8);
  EXPECT_EQ(LinesStarting(Log(), "bind "),
            (std::vector<std::string>{"bind " + first + " hotkey-0 ALT+F12 'Start or stop'",
                                      "bind " + first + " hotkey-1 CTRL+SHIFT+a 'Pause'"}));

  keys.Ungrab(1);
  ASSERT_TRUE(PumpUntil([&pressed] { return pressed.size() >= 3; })) << Log();
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(pressed, (std::vector<int>{0, 1, 0}));
  sessions = LinesStarting(Log(), "session ");
  ASSERT_EQ(sessions.size(), 2u) << Log();
  const std::string second = sessions[1].substr(8);
  EXPECT_EQ(LinesStarting(Log(), "closed "), (std::vector<std::string>{"closed " + first}));
  EXPECT_EQ(LinesStarting(Log(), "bind " + second),
            (std::vector<std::string>{"bind " + second + " hotkey-0 ALT+F12 'Start or stop'"}));

  // A key without a name here: the desktop asks the user, who does not
  // answer; the next change does not wait for that.
  keys.Grab(1, 0x04FF);
  ASSERT_TRUE(PumpUntil([this] { return LinesStarting(Log(), "bind ").size() >= 5; })) << Log();
  keys.Grab(1, 0x0341);
  ASSERT_TRUE(PumpUntil([&pressed] { return pressed.size() >= 5; })) << Log();
  EXPECT_EQ(LinesStarting(Log(), "withdrawn ").size(), 1u) << Log();
  sessions = LinesStarting(Log(), "session ");
  ASSERT_EQ(sessions.size(), 4u) << Log();
  EXPECT_EQ(LinesStarting(Log(), "bind " + sessions[3].substr(8)),
            (std::vector<std::string>{
                "bind " + sessions[3].substr(8) + " hotkey-0 ALT+F12 'Start or stop'",
                "bind " + sessions[3].substr(8) + " hotkey-1 CTRL+SHIFT+a 'Pause'"}));
}

}  // namespace
}  // namespace qc
