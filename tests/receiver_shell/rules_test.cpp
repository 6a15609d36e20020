// SPDX-License-Identifier: GPL-3.0-or-later
// Pure rules of the receiver: its command line around the shared scan, the
// settings dialog's port field, and the settings store's file.
#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "common/log_file.h"
#include "receiver/shell/command_line.h"
#include "receiver/shell/port_rules.h"
#include "receiver/shell/receiver_settings.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

TEST(ReceiverCommandLineTest, LongOptionsTheClassicPartAndWhatWins) {
  ReceiverCommandLine c =
      ParseCommandLine({"--headless", "-port", "6000", "--snapshot", "/tmp/a.png"});
  EXPECT_EQ(c.action, CommandLineAction::Run);
  EXPECT_TRUE(c.headless);
  EXPECT_EQ(c.port, 6000);
  EXPECT_EQ(c.snapshotPath, "/tmp/a.png");
  EXPECT_EQ(ParseCommandLine({"--snapshot=/tmp/b.png"}).snapshotPath, "/tmp/b.png");
  EXPECT_EQ(ParseCommandLine({"-start"}).action, CommandLineAction::Usage);
  EXPECT_EQ(ParseCommandLine({"-platform", "xcb"}).action, CommandLineAction::Usage);  // not Qt's
  EXPECT_EQ(ParseCommandLine({"--snapshot"}).action, CommandLineAction::Usage);
  // --help and --version win over a bad classic part.
  EXPECT_EQ(ParseCommandLine({"-port", "1", "--help"}).action, CommandLineAction::Help);
  EXPECT_EQ(ParseCommandLine({"x", "--version"}).action, CommandLineAction::Version);
  // --trust takes a sender key, and nothing else.
  const std::string key = "xDmh4VNapJcCnrIrVhs3O9CEA1PZoNA/O8+YWD4GMsw=";
  EXPECT_EQ(ParseCommandLine({"--trust", key}).trustKey, key);
  EXPECT_EQ(ParseCommandLine({"--trust=" + key}).action, CommandLineAction::Run);
  EXPECT_EQ(ParseCommandLine({"--trust", key.substr(2)}).action, CommandLineAction::InvalidKey);
  EXPECT_EQ(ParseCommandLine({"--trust"}).action, CommandLineAction::Usage);
}

TEST(ReceiverPortFieldTest, ReadingAndCheckingOnOk) {
  for (auto [text, value] : {std::pair<const char*, uint32_t>{"5982", 5982u}, {" 6000\t", 6000u},
                             {"", 0u}, {"12a", 0u}, {"4294967295", 4294967295u},
                             {"4294967296", 0u}}) {
    EXPECT_EQ(ReadPortField(text), value) << text;
  }
  for (auto [in, valid, port] : {std::tuple<uint32_t, bool, int>{5982, true, 5982},
                                 {5983, false, 5984}, {4294967295u, false, 65534}}) {
    PortCheck got = CheckDialogPort(in);
    EXPECT_EQ(got.valid, valid) << in;
    EXPECT_EQ(got.port, port) << in;
  }
}

class ReceiverSettingsTest : public testing::Test {
 protected:
  void TearDown() override { Log().Enable(false); }
  void Store(const std::string& text) {
    std::system(("mkdir -p '" + dir.Path() + "/Quillcast'").c_str());
    std::ofstream(path) << text;
  }
  test::TempDir dir;
  std::string path = dir.Path() + "/Quillcast/Receiver.conf";
  qvSettings store{path};
};

TEST_F(ReceiverSettingsTest, StoredValuesAreTakenUnalteredAndUnreadableOnesKeepTheirDefault) {
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
  EXPECT_EQ(qvSettings::DefaultPath(), path);
  Store("MulticastPort=5983\nFullScreen=7\nHotkeyHide=Ctrl+F12\nEnableHotkeyHide=0\n"
        "EnableLogging=1\n");
  ReceiverSettings s;
  store.Load(s);
  EXPECT_TRUE(s.logging && Log().IsEnabled());
  EXPECT_EQ(s.port, 5983);
  EXPECT_TRUE(s.fullScreen);
  EXPECT_EQ(s.hotkey, 0x027Bu);
  EXPECT_FALSE(s.hotkeyEnabled);
}

TEST_F(ReceiverSettingsTest, SaveWritesEveryValueButNeverACommandLinePort) {
  ReceiverSettings s;  // the defaults
  store.Save(s, false);
  EXPECT_EQ(test::ReadFile(path),
            "MulticastPort=5982\nFullScreen=0\nHotkeyHide=635\nEnableHotkeyHide=1\n"
            "EnableLogging=0\n");
  Store("MulticastPort=6000\nFullScreen=7\n");
  store.Load(s);
  s.hotkey = 0x0441;
  s.port = 7000;  // from the command line
  store.Save(s, true);
  EXPECT_EQ(test::ReadFile(path),
            "MulticastPort=6000\nFullScreen=1\nHotkeyHide=1089\nEnableHotkeyHide=1\n"
            "EnableLogging=0\n");
}

}  // namespace
}  // namespace qc
