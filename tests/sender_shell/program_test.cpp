// qcsend as a black box, inside the test's private network namespace and on
// a private Xvfb (:63): command-line messages and exit codes, the single
// instance, a failed start, a headless transmission on the wire, the
// disconnection and exit code 0 on SIGTERM, SIGINT and SIGHUP, the log file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "platform/udp_socket.h"
#include "tests/support/xvfb_server.h"

namespace qc {
namespace {


std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// One run of qcsend in a folder of its own: settings, lock and log there.
class Program {
 public:
  Program(const std::string& dir, std::vector<std::string> args, const std::string& display)
      : stderrPath_(dir + "/stderr-" + std::to_string(counter_++) + ".txt") {
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(dir.c_str()) != 0) _exit(126);
      int err = open(stderrPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int out = open((stderrPath_ + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(err, 2);
      dup2(out, 1);
      setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
      setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
      setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);  // no desktop session here
      if (display.empty()) {
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
      } else {
        setenv("DISPLAY", display.c_str(), 1);
      }
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(QCSEND_PATH));
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(QCSEND_PATH, argv.data());
      _exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  void Signal(int sig) { kill(pid_, sig); }
  // The exit code (a signal death counts as -1000 - signal).
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    exited_ = true;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return -1000 - WTERMSIG(status);
  }
  std::string Stderr() const { return ReadFile(stderrPath_); }
  std::string Stdout() const { return ReadFile(stderrPath_ + ".out"); }
  // Waits (guarded against a hang) until standard error holds text.
  bool StderrShows(const std::string& text) const {
    for (int i = 0; i < 1000; ++i) {
      if (Stderr().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  static inline int counter_ = 0;
  std::string stderrPath_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

class ProgramTest : public testing::Test {
 protected:
  ProgramTest() {
    char tmpl[] = "/tmp/qc-program-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  ~ProgramTest() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  int RunToEnd(std::vector<std::string> args, std::string* err,
               const std::string& display = ":69") {
    Program p(dir_, std::move(args), display);
    int code = p.Wait();
    *err = p.Stderr();
    return code;
  }
  void WriteSettings(const std::string& text) {
    mkdir((dir_ + "/config").c_str(), 0700);
    mkdir((dir_ + "/config/Quillcast").c_str(), 0700);
    std::ofstream(dir_ + "/config/Quillcast/Vorazudud.conf") << text;
  }

  std::string dir_;
};

constexpr char kPortMessage[] =
    "Invalid Value: Port must be an even number in the range 1024..65534.\n";
constexpr char kUsageMessage[] = "Quillcast Usage: QcSend.exe [-start] [-port xxxx]\n";

TEST_F(ProgramTest, CommandLineErrorsShowTheirMessageAndExitZero) {
  std::string err;
  for (auto [arg, message] : {std::pair<const char*, const char*>{"-port6000", kPortMessage},
                              {"-Start", kUsageMessage}, {"-start6000", kUsageMessage},
                              {"--bogus", kUsageMessage}}) {
    EXPECT_EQ(RunToEnd({"--headless", arg}, &err), 0) << arg;
    EXPECT_EQ(err, message) << arg;
  }
  EXPECT_EQ(RunToEnd({"--headless", "-port", "6001"}, &err), 0);
  EXPECT_EQ(err, kPortMessage);
  EXPECT_FALSE(Exists(dir_ + "/config"));  // nothing written
}

TEST_F(ProgramTest, HelpAndVersion) {
  Program help(dir_, {"--help"}, ":69");
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find(dir_ + "/config/Quillcast/Vorazudud.conf"), std::string::npos);
  EXPECT_NE(help.Stdout().find("-start"), std::string::npos);
  Program version(dir_, {"--version"}, ":69");
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Stdout(), "qcsend (Quillcast) 1.1.0\n");
}

TEST_F(ProgramTest, FailedStartExitsWithMinusOne) {
  // No X server on :69: the capture engine cannot start.
  std::string err;
  EXPECT_EQ(RunToEnd({"--headless"}, &err, ":69"), 255);
  EXPECT_NE(err.find("Quillcast Error: Cannot start Quillcast.\nSee the log file (Quillcast.log) "
                     "for details.\n"),
            std::string::npos)
      << err;
}

TEST_F(ProgramTest, TrayWithoutADisplaySaysSo) {
  std::string err;
  // The command line is still read first, its message on standard error.
  EXPECT_EQ(RunToEnd({"-port", "1"}, &err, ""), 0);
  EXPECT_EQ(err, kPortMessage);
  EXPECT_EQ(RunToEnd({}, &err, ""), 255);
  EXPECT_NE(err.find("Quillcast Error: No display"), std::string::npos) << err;
}

class XvfbProgramTest : public ProgramTest {
 protected:
  static void SetUpTestSuite() {
    xvfb_ = new test::XvfbServer("320x240x24");
    // lo's 127.0.0.1 has host scope, which multicast source selection
    // skips; a global documentation address gives datagrams a source.
    std::system("ip addr add 192.0.2.7/32 dev lo 2>/dev/null");
  }
  static void TearDownTestSuite() {
    delete xvfb_;
    xvfb_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(xvfb_->Ready()); }
  std::string Display() const { return xvfb_->Display(); }

  static inline test::XvfbServer* xvfb_ = nullptr;
};

// A receiver of the data port, as qvrecv joins it.
class Watcher {
 public:
  explicit Watcher(uint16_t port) {
    EXPECT_TRUE(socket_.Create());
    EXPECT_TRUE(socket_.SetReuseAddress(true));
    EXPECT_TRUE(socket_.SetReceiveBuffer(kReceiverDataReceiveBuffer));
    EXPECT_TRUE(socket_.Bind(port));
    EXPECT_TRUE(socket_.JoinGroup(kGroupAddressHostOrder));
  }
  // The next datagram, or an empty one after a (generous) guard time.
  std::vector<uint8_t> Next() {
    std::vector<uint8_t> d(kMaxDatagram + 16);
    long n = socket_.ReceiveFor(d.data(), d.size(), 10000);
    d.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return d;
  }

 private:
  UdpSocket socket_;
};

uint16_t TypeOf(const std::vector<uint8_t>& d) { return d.size() >= 2 ? ReadU16(d.data()) : 0; }

// Skips datagrams up to the disconnection datagram (empty if none came).
std::vector<uint8_t> NextDisconnection(Watcher& watcher) {
  std::vector<uint8_t> d;
  do {
    d = watcher.Next();
  } while (!d.empty() && TypeOf(d) != static_cast<uint16_t>(PacketType::Disconnection));
  return d;
}

TEST_F(XvfbProgramTest, HeadlessStartTransmitsAndSigtermDisconnects) {
  WriteSettings("EnableLogging=1\n");
  Watcher watcher(kDefaultPort);
  Program p(dir_, {"--headless", "-start"}, Display());

  // The start check, then the full-screen update: the init message first.
  std::vector<uint8_t> init = watcher.Next();
  ASSERT_EQ(TypeOf(init), static_cast<uint16_t>(PacketType::Init));
  InitMessage msg;
  ASSERT_TRUE(ParseInit(init.data(), init.size(), msg));
  EXPECT_EQ(msg.width, 320);
  EXPECT_EQ(msg.height, 240);
  EXPECT_EQ(msg.bitsPerPixel, 32);  // a 24-bit screen goes out as 32

  // The four quarters, numbered from 0, all with the init's identifier.
  uint32_t expected = 0;
  int keepAlives = 0;
  bool sawCursorOrKeepAlive = false;
  while (keepAlives < 2) {
    std::vector<uint8_t> d = watcher.Next();
    ASSERT_FALSE(d.empty()) << "no datagram";
    ASSERT_EQ(ReadU16(d.data() + 2), msg.screenId);
    uint16_t type = TypeOf(d);
    if (type == static_cast<uint16_t>(PacketType::FullUpdate)) {
      EXPECT_FALSE(sawCursorOrKeepAlive);  // nothing between the quarters
      CompressedHeader h;
      ASSERT_TRUE(ParseCompressedHeader(d.data(), d.size(), h));
      EXPECT_EQ(h.sequence, expected++);
    } else if (type == static_cast<uint16_t>(PacketType::KeepAlive)) {
      sawCursorOrKeepAlive = true;
      EXPECT_EQ(d.size(), kKeepAliveSize);
      ++keepAlives;
    } else {
      sawCursorOrKeepAlive = true;  // cursor shape and position
    }
  }
  EXPECT_GE(expected, 4u);  // at least one datagram per quarter
  EXPECT_TRUE(p.StderrShows("Quillcast - Transmitting"));

  p.Signal(SIGTERM);
  std::vector<uint8_t> d = NextDisconnection(watcher);
  ASSERT_FALSE(d.empty()) << "no disconnection";
  EXPECT_EQ(d.size(), kDisconnectionSize);
  EXPECT_EQ(ReadU16(d.data() + 2), msg.screenId);
  EXPECT_EQ(p.Wait(), 0);

  std::string log = ReadFile(dir_ + "/Quillcast.log");
  EXPECT_NE(log.find("qcTray: Listen thread started\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("qcTray: Transmission started\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("qcTray: Listen thread finished\r\n"), std::string::npos) << log;
}

TEST_F(XvfbProgramTest, SigintAndSighupQuitInOrderToo) {
  // A log left by an earlier run is deleted at exit while logging is off.
  std::ofstream(dir_ + "/Quillcast.log") << "old";
  for (int sig : {SIGINT, SIGHUP}) {
    Watcher watcher(kDefaultPort);
    Program p(dir_, {"--headless", "-start"}, Display());
    ASSERT_EQ(TypeOf(watcher.Next()), static_cast<uint16_t>(PacketType::Init)) << sig;
    p.Signal(sig);
    EXPECT_FALSE(NextDisconnection(watcher).empty()) << sig;
    EXPECT_EQ(p.Wait(), 0) << sig;
  }
  EXPECT_FALSE(Exists(dir_ + "/Quillcast.log"));
}

TEST_F(XvfbProgramTest, TrayProgramTransmitsWithoutANotificationArea) {
  // The desktop program on a bare X server: no tray host, so it says so and
  // works on (hotkeys, signals).
  Watcher watcher(kDefaultPort);
  Program p(dir_, {"-start"}, Display());
  ASSERT_EQ(TypeOf(watcher.Next()), static_cast<uint16_t>(PacketType::Init));
  EXPECT_TRUE(p.StderrShows("no notification area"));
  p.Signal(SIGTERM);
  EXPECT_FALSE(NextDisconnection(watcher).empty());
  EXPECT_EQ(p.Wait(), 0);
}

TEST_F(XvfbProgramTest, SecondInstanceIsRefused) {
  Program first(dir_, {"--headless"}, Display());
  ASSERT_TRUE(first.StderrShows("Quillcast - Idle"));
  std::string err;
  EXPECT_EQ(RunToEnd({"--headless", "-start"}, &err, Display()), 0);
  EXPECT_EQ(err, "Quillcast Error: Quillcast is already running.\n");
  // Its command line is read first: a bad argument gives its own message.
  EXPECT_EQ(RunToEnd({"--headless", "-port", "1022"}, &err, Display()), 0);
  EXPECT_EQ(err, kPortMessage);
  first.Signal(SIGTERM);
  EXPECT_EQ(first.Wait(), 0);
}

TEST_F(XvfbProgramTest, AnotherTransmitterOnThePortPreventsTheStart) {
  constexpr uint16_t kPort = 6200;
  UdpSocket other;
  ASSERT_TRUE(other.Create());
  SocketAddress to;
  ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, kPort, to));
  Program p(dir_, {"--headless", "-start", "-port", std::to_string(kPort)}, Display());
  // The other transmitter's keep-alives, until the box is reported.
  const uint8_t keepAlive[4] = {0xF7, 0xFF, 0x34, 0x12};
  bool reported = false;
  for (int i = 0; i < 500 && !reported; ++i) {
    other.SendTo(keepAlive, sizeof keepAlive, to);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    reported = p.Stderr().find("Another transmitter") != std::string::npos;
  }
  ASSERT_TRUE(reported);
  EXPECT_TRUE(p.StderrShows(
      "Quillcast Error: Another transmitter detected at IP 192.0.2.7, port 6200.\nThere must be "
      "exactly one program transmitting on a particular port.\n"));
  // Past the end of the 1500 ms check, which must not start anything.
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
  EXPECT_EQ(p.Stderr().find("Quillcast - Transmitting"), std::string::npos);
}

}  // namespace
}  // namespace qc
