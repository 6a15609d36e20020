// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file, the sender's settings store on top of it, and the
// single-instance lock.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "common/log_file.h"
#include "platform/lock_file.h"
#include "platform/settings_file.h"
#include "sender/shell/sender_settings.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

using test::FileExists;
using test::ReadFile;

TEST(SettingsFileTest, ValuesAreDecimal32BitIntegers) {
  for (auto [text, value] : {std::pair<const char*, uint32_t>{"5982", 5982u}, {" 10 ", 10u},
                             {"4294967295", 0xFFFFFFFFu}, {"-1", 0xFFFFFFFFu},
                             {"-2147483648", 0x80000000u}}) {
    EXPECT_EQ(SettingsFile::ParseValue(text), value) << text;
  }
  for (const char* text : {"4294967296", "-2147483649", "", "-", "0x47B", "12 34", "Alt+F12"}) {
    EXPECT_FALSE(SettingsFile::ParseValue(text)) << text;
  }
}

TEST(SettingsFileTest, PathFollowsXdgConfigHome) {
  setenv("XDG_CONFIG_HOME", "/x/conf", 1);
  EXPECT_EQ(SettingsFile::DefaultPath("Vorazudud.conf"), "/x/conf/Quillcast/Vorazudud.conf");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsFile::DefaultPath("Receiver.conf"), "/home/u/.config/Quillcast/Receiver.conf");
}

TEST(SettingsFileTest, SaveCreatesFoldersAndKeepsForeignLines) {
  test::TempDir dir;
  std::string path = dir.Path() + "/a/b/test.conf";
  SettingsFile file(path);
  EXPECT_FALSE(file.Load());
  file.Write("One", 1);
  file.Write("Minus", -5);
  ASSERT_TRUE(file.Save());
  EXPECT_EQ(ReadFile(path), "One=1\nMinus=-5\n");

  std::ofstream(path) << "# comment\nOne=7\r\ngarbage line\n";
  SettingsFile again(path);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Read("One"), 7u);
  again.Write("Two", 2);
  ASSERT_TRUE(again.Save());
  EXPECT_EQ(ReadFile(path), "# comment\nOne=7\ngarbage line\nTwo=2\n");
}

class SenderSettingsTest : public testing::Test {
 protected:
  void TearDown() override { Log().Enable(false); }
  void Store(const std::string& text) {
    mkdir((dir.Path() + "/Quillcast").c_str(), 0700);
    std::ofstream(path) << text;
  }
  test::TempDir dir;
  std::string path = dir.Path() + "/Quillcast/Vorazudud.conf";
  SettingsFile file{path};
};

TEST_F(SenderSettingsTest, StoredValuesAreUsedUncheckedAndUnreadableOnesKeepTheirDefault) {
  SenderSettings none;  // no file: nothing changes and nothing is written
  LoadSenderSettings(file, none);
  EXPECT_FALSE(Log().IsEnabled());
  EXPECT_FALSE(FileExists(dir.Path() + "/Quillcast"));

  Store("MulticastPort=5983\nUpdatePeriod=2\nDisableVideoAcceleration=7\nEnableHotkeyPause=0\n"
        "EnableLogging=1\nHotkeyStart=Alt+F12\nHotkeyPause=99999999999\nMonitor=2\n");
  SenderSettings s;
  LoadSenderSettings(file, s);
  EXPECT_TRUE(Log().IsEnabled());
  EXPECT_EQ(s.port, 5983);  // odd: only the dialog validates
  EXPECT_EQ(s.updatePeriod, 2);
  EXPECT_TRUE(s.disableAcceleration);  // any non-zero number is true
  EXPECT_FALSE(s.enableHotkeyPause);
  EXPECT_TRUE(s.enableHotkeyStart);  // missing: default
  EXPECT_EQ(s.hotkeyStart, 0x047Bu);
  EXPECT_EQ(s.hotkeyPause, 0x047Au);
  EXPECT_EQ(s.monitor, 2);
}

TEST_F(SenderSettingsTest, EverySaveWritesAllValuesButNeverACommandLinePort) {
  SenderSettings s;  // the defaults
  SaveSenderSettings(file, s, false);
  EXPECT_EQ(ReadFile(path),
            "MulticastPort=5982\nUpdatePeriod=10\nDisableVideoAcceleration=0\nHotkeyStart=1147\n"
            "HotkeyPause=1146\nEnableHotkeyStart=1\nEnableHotkeyPause=1\nEnableLogging=0\nMonitor=0\n"
            "VideoMode=2\nVideoBitrate=3500\nVideoForOldReceivers=0\n");
  // A port or monitor from the command line is never written: the stored
  // ones stay.
  s.port = 7000;
  s.portFromCommandLine = true;
  s.monitor = 2;
  s.monitorFromCommandLine = true;
  s.updatePeriod = 40;
  SaveSenderSettings(file, s, true);
  EXPECT_EQ(ReadFile(path),
            "MulticastPort=5982\nUpdatePeriod=40\nDisableVideoAcceleration=0\nHotkeyStart=1147\n"
            "HotkeyPause=1146\nEnableHotkeyStart=1\nEnableHotkeyPause=1\nEnableLogging=1\nMonitor=0\n"
            "VideoMode=2\nVideoBitrate=3500\nVideoForOldReceivers=0\n");

  std::system(("rm -r '" + dir.Path() + "/Quillcast'").c_str());
  std::ofstream(dir.Path() + "/Quillcast") << "x";  // a file where the folder should be
  SaveSenderSettings(file, s, false);  // only logged
  EXPECT_FALSE(FileExists(path));
}

TEST(LockFileTest, SecondHolderIsRefusedUntilTheFirstReleasesAndPathIsInTheRuntimeDir) {
  test::TempDir dir;
  std::string path = dir.Path() + "/QC_Win32_Instance";
  LockFile first;
  ASSERT_EQ(first.Acquire(path), LockFile::Result::Acquired);
  LockFile second;
  EXPECT_EQ(second.Acquire(path), LockFile::Result::HeldElsewhere);
  first.Release();
  EXPECT_EQ(second.Acquire(path), LockFile::Result::Acquired);
  EXPECT_EQ(LockFile().Acquire(dir.Path() + "/missing/dir/lock"), LockFile::Result::Failed);
  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(LockFile::DefaultPath("QC_Win32_Instance"), "/run/user/1000/QC_Win32_Instance");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(LockFile::DefaultPath("QC_Win32_Instance"),
            "/tmp/QC_Win32_Instance-" + std::to_string(getuid()));
}

}  // namespace
}  // namespace qc
