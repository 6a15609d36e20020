// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv as a black box, inside this binary's private network namespace:
// command-line messages and exit codes, the headless receiver's update
// requests on the command-line port, a transmission's init message and
// snapshot, the disconnection, and the signals that end it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>

#include "common/protocol.h"
#include "tests/support/group_socket.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

using test::ProgramRun;

class ReceiverProgramTest : public testing::Test {
 protected:
  ProgramRun Run(std::vector<std::string> args) {
    return ProgramRun(QVRECV_PATH, dir_.Path(), std::move(args));
  }
  test::TempDir dir_;
};

TEST_F(ReceiverProgramTest, CommandLineMessagesHelpAndVersion) {
  constexpr char kPort[] =
      "qvrecv: Invalid Value: Port must be an even number in the range 1024..65534.\n";
  constexpr char kUsage[] = "qvrecv: Quillview Usage: QvRecv.exe [-port xxxx]\n";
  for (auto [arg, message] : {std::pair<const char*, const char*>{"-port6000", kPort},
                              {"-PORT", kUsage}}) {
    ProgramRun p = Run({"--headless", arg});
    EXPECT_EQ(p.Wait(), 0) << arg;
    EXPECT_EQ(p.Stderr(), message) << arg;
  }
  ProgramRun help = Run({"--help"});
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(help.Stdout().find("Receiver.conf"), std::string::npos);
  ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.Wait(), 0);
  EXPECT_EQ(version.Stdout(), "Quillview version 1.1.0\n");
}

TEST_F(ReceiverProgramTest, HeadlessReceiverFollowsATransmissionAndQuitsOnSigterm) {
  test::GroupSocket requests(6001);
  ProgramRun p = Run({"--headless", "-port", "6000", "--snapshot", "picture.png"});
  ASSERT_TRUE(p.StderrShows("qvrecv: Quillview - Disconnected")) << p.Stderr();
  // The command-line port is applied through a restart; the requests then
  // go to port 6001.
  bool requested = false;
  for (int i = 0; i < 12 && !requested; ++i) {
    auto d = requests.Next(1000);
    requested = d && d->size() == kUpdateRequestSize && IsUpdateRequest(d->data(), d->size());
  }
  EXPECT_TRUE(requested);

  // A sender's init message starts the transmission: 8x4 pixels, 32 bits.
  test::GroupSocket sender;
  std::vector<uint8_t> initBytes(kInitSize);
  BuildInit({.screenId = 0x1234, .width = 8, .height = 4, .bitsPerPixel = 32,
             .redMask = 0xFF0000, .greenMask = 0xFF00, .blueMask = 0xFF},
            initBytes.data());
  bool receiving = false;
  for (int i = 0; i < 20 && !receiving; ++i) {
    sender.Send(6000, initBytes);
    receiving = p.StderrShows("qvrecv: Quillview - Receiving");
  }
  ASSERT_TRUE(receiving) << p.Stderr();

  p.Signal(SIGUSR1);
  QImage image;
  for (int i = 0; i < 100 && image.isNull(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    image = QImage(QString::fromStdString(dir_.Path() + "/picture.png"));
  }
  ASSERT_FALSE(image.isNull()) << p.Stderr();
  EXPECT_EQ(image.size(), QSize(8, 4));
  EXPECT_EQ(image.pixel(3, 2), qRgb(0, 0, 0));

  std::vector<uint8_t> bye(kDisconnectionSize);
  BuildDisconnection(0x1234, bye.data());
  sender.Send(6000, bye);  // the receiver waits again
  EXPECT_TRUE(p.StderrShows("qvrecv: Quillview - Disconnected", 2)) << p.Stderr();
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
}

TEST_F(ReceiverProgramTest, InterruptAndHangUpQuitInOrder) {
  for (int s : {SIGINT, SIGHUP}) {
    ProgramRun p = Run({"--headless"});
    ASSERT_TRUE(p.StderrShows("Quillview - Disconnected")) << p.Stderr();
    p.Signal(s);
    EXPECT_EQ(p.Wait(), 0) << s;
  }
}

}  // namespace
}  // namespace qc
