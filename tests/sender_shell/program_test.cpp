// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend as a black box, inside the test's private network namespace and on
// a private Xvfb: command-line messages and exit codes, the single instance,
// a failed start, a headless transmission on the wire, the disconnection and
// exit code 0 on SIGTERM, SIGINT and SIGHUP, the log file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <fstream>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "tests/support/group_socket.h"
#include "tests/support/private_network.h"
#include "tests/support/program_runner.h"
#include "tests/support/xvfb_server.h"

namespace qc {
namespace {

using test::ProgramRun;

constexpr char kNoServer[] = ":69";  // no X server runs there
constexpr char kPortMessage[] =
    "Invalid Value: Port must be an even number in the range 1024..65534.\n";
constexpr char kUsageMessage[] = "Quillcast Usage: QcSend.exe [-start] [-port xxxx]\n";

class ProgramTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    xvfb_ = new test::XvfbServer("320x240x24");
    test::AddTestSourceAddress();
  }
  static void TearDownTestSuite() {
    delete xvfb_;
    xvfb_ = nullptr;
  }
  ProgramRun Run(std::vector<std::string> args, const std::string& display = kNoServer) {
    return ProgramRun(QCSEND_PATH, dir_.Path(), std::move(args), display);
  }
  // Runs to the end; returns the exit code and leaves standard error in err.
  int RunToEnd(std::vector<std::string> args, std::string* err,
               const std::string& display = kNoServer) {
    ProgramRun p = Run(std::move(args), display);
    int code = p.Wait();
    *err = p.Stderr();
    return code;
  }

  static inline test::XvfbServer* xvfb_ = nullptr;
  test::TempDir dir_;
};

TEST_F(ProgramTest, CommandLineMessagesExitZeroAndAFailedStartExitsWithMinusOne) {
  std::string err;
  EXPECT_EQ(RunToEnd({"--headless", "-port6000"}, &err), 0);
  EXPECT_EQ(err, kPortMessage);
  EXPECT_EQ(RunToEnd({"--headless", "--bogus"}, &err), 0);
  EXPECT_EQ(err, kUsageMessage);
  // Without any display the command line is still read, its message on
  // standard error only; the tray itself cannot start.
  EXPECT_EQ(RunToEnd({"-port", "6001"}, &err, ""), 0);
  EXPECT_EQ(err, kPortMessage);
  EXPECT_EQ(RunToEnd({}, &err, ""), 255);
  EXPECT_NE(err.find("Quillcast Error: No display"), std::string::npos) << err;
  EXPECT_FALSE(test::FileExists(dir_.Path() + "/config"));  // nothing written
  EXPECT_EQ(RunToEnd({"--headless"}, &err), 255);  // no X server: no capture
  EXPECT_NE(err.find("Quillcast Error: Cannot start Quillcast.\nSee the log file (Quillcast.log) "
                     "for details.\n"),
            std::string::npos)
      << err;

  ProgramRun help = Run({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find(dir_.Path() + "/config/Quillcast/Vorazudud.conf"),
            std::string::npos);
  ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Stdout(), "qcsend (Quillcast) 1.1.0\n");
}

uint16_t TypeOf(const std::vector<uint8_t>& d) { return d.size() >= 2 ? ReadU16(d.data()) : 0; }

// Skips datagrams up to the disconnection datagram (empty if none came).
std::vector<uint8_t> NextDisconnection(test::GroupSocket& watcher) {
  while (auto d = watcher.Next(10000)) {
    if (TypeOf(*d) == static_cast<uint16_t>(PacketType::Disconnection)) return *d;
  }
  return {};
}

TEST_F(ProgramTest, HeadlessStartTransmitsAndSigtermDisconnects) {
  ASSERT_TRUE(xvfb_->Ready());
  mkdir((dir_.Path() + "/config").c_str(), 0700);
  mkdir((dir_.Path() + "/config/Quillcast").c_str(), 0700);
  std::ofstream(dir_.Path() + "/config/Quillcast/Vorazudud.conf") << "EnableLogging=1\n";
  test::GroupSocket watcher(kDefaultPort);
  ProgramRun p = Run({"--headless", "-start"}, xvfb_->Display());

  // The start check, then the full-screen update: the init message first.
  auto init = watcher.Next(10000);
  ASSERT_TRUE(init);
  ASSERT_EQ(TypeOf(*init), static_cast<uint16_t>(PacketType::Init));
  InitMessage msg;
  ASSERT_TRUE(ParseInit(init->data(), init->size(), msg));
  EXPECT_EQ(msg.width, 320);
  EXPECT_EQ(msg.height, 240);
  EXPECT_EQ(msg.bitsPerPixel, 32);  // a 24-bit screen goes out as 32

  // The quarters, numbered from 0, all with the init's identifier, then
  // cursor datagrams and keep-alives.
  uint32_t expected = 0;
  int keepAlives = 0;
  bool sawCursorOrKeepAlive = false;
  while (keepAlives < 2) {
    auto d = watcher.Next(10000);
    ASSERT_TRUE(d) << "no datagram";
    ASSERT_EQ(ReadU16(d->data() + 2), msg.screenId);
    uint16_t type = TypeOf(*d);
    if (type == static_cast<uint16_t>(PacketType::FullUpdate)) {
      EXPECT_FALSE(sawCursorOrKeepAlive);  // nothing between the quarters
      CompressedHeader h;
      ASSERT_TRUE(ParseCompressedHeader(d->data(), d->size(), h));
      EXPECT_EQ(h.sequence, expected++);
    } else {
      sawCursorOrKeepAlive = true;
      if (type == static_cast<uint16_t>(PacketType::KeepAlive)) {
        EXPECT_EQ(d->size(), kKeepAliveSize);
        ++keepAlives;
      }
    }
  }
  EXPECT_GE(expected, 4u);  // at least one datagram per quarter
  EXPECT_TRUE(p.StderrShows("Quillcast - Transmitting"));

  p.Signal(SIGTERM);
  std::vector<uint8_t> bye = NextDisconnection(watcher);
  ASSERT_EQ(bye.size(), kDisconnectionSize);
  EXPECT_EQ(ReadU16(bye.data() + 2), msg.screenId);
  EXPECT_EQ(p.Wait(), 0);

  std::string log = test::ReadFile(dir_.Path() + "/Quillcast.log");
  for (const char* line : {"qcTray: Listen thread started\r\n", "qcTray: Transmission started\r\n",
                           "qcTray: Listen thread finished\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
  }
}

TEST_F(ProgramTest, SigintAndSighupQuitInOrderAndAnOldLogGoesWhileLoggingIsOff) {
  ASSERT_TRUE(xvfb_->Ready());
  std::ofstream(dir_.Path() + "/Quillcast.log") << "old";
  for (int sig : {SIGINT, SIGHUP}) {
    test::GroupSocket watcher(kDefaultPort);
    ProgramRun p = Run({"--headless", "-start"}, xvfb_->Display());
    auto init = watcher.Next(10000);
    ASSERT_TRUE(init && TypeOf(*init) == static_cast<uint16_t>(PacketType::Init)) << sig;
    p.Signal(sig);
    EXPECT_FALSE(NextDisconnection(watcher).empty()) << sig;
    EXPECT_EQ(p.Wait(), 0) << sig;
  }
  EXPECT_FALSE(test::FileExists(dir_.Path() + "/Quillcast.log"));
}

TEST_F(ProgramTest, TrayProgramWithoutANotificationAreaTransmitsAndRefusesASecondInstance) {
  ASSERT_TRUE(xvfb_->Ready());
  test::GroupSocket watcher(kDefaultPort);
  ProgramRun tray = Run({"-start"}, xvfb_->Display());
  auto init = watcher.Next(10000);
  ASSERT_TRUE(init && TypeOf(*init) == static_cast<uint16_t>(PacketType::Init));
  EXPECT_TRUE(tray.StderrShows("no notification area"));

  std::string err;
  EXPECT_EQ(RunToEnd({"--headless", "-start"}, &err, xvfb_->Display()), 0);
  EXPECT_EQ(err, "Quillcast Error: Quillcast is already running.\n");
  // Its command line is read first: a bad argument gives its own message.
  EXPECT_EQ(RunToEnd({"--headless", "-port", "1022"}, &err, xvfb_->Display()), 0);
  EXPECT_EQ(err, kPortMessage);

  tray.Signal(SIGTERM);
  EXPECT_FALSE(NextDisconnection(watcher).empty());
  EXPECT_EQ(tray.Wait(), 0);
}

}  // namespace
}  // namespace qc
