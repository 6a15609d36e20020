// The settings file, the sender's settings store on top of it, and the
// single-instance lock.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/log_file.h"
#include "platform/lock_file.h"
#include "platform/settings_file.h"
#include "sender/shell/sender_settings.h"

namespace qc {
namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/qc-settings-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

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
  std::string saved = getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : "";
  setenv("XDG_CONFIG_HOME", "/x/conf", 1);
  EXPECT_EQ(SettingsFile::DefaultPath("Vorazudud.conf"), "/x/conf/Quillcast/Vorazudud.conf");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsFile::DefaultPath("Vorazudud.conf"),
            "/home/u/.config/Quillcast/Vorazudud.conf");
  if (!saved.empty()) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

TEST(SettingsFileTest, SaveCreatesFoldersAndKeepsForeignLines) {
  TempDir dir;
  std::string path = dir.Path() + "/a/b/test.conf";
  SettingsFile file(path);
  EXPECT_FALSE(file.Load());
  file.Write("One", 1);
  file.Write("Minus", -5);
  ASSERT_TRUE(file.Save());
  EXPECT_EQ(ReadAll(path), "One=1\nMinus=-5\n");

  WriteAll(path, "# comment\nOne=7\r\ngarbage line\n");
  SettingsFile again(path);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Read("One"), 7u);
  again.Write("Two", 2);
  ASSERT_TRUE(again.Save());
  EXPECT_EQ(ReadAll(path), "# comment\nOne=7\ngarbage line\nTwo=2\n");
}

class SenderSettingsTest : public testing::Test {
 protected:
  void TearDown() override { Log().Enable(false); }
  TempDir dir;
  std::string path = dir.Path() + "/Quillcast/Vorazudud.conf";
};

TEST_F(SenderSettingsTest, NoFileGivesDefaultsAndWritesNothing) {
  SettingsFile file(path);
  SenderSettings s;
  s.port = 1;  // overwritten only by a stored value
  LoadSenderSettings(file, s);
  EXPECT_EQ(s.port, 1);
  SenderSettings fresh;
  LoadSenderSettings(file, fresh);
  EXPECT_EQ(fresh.port, 5982);
  EXPECT_EQ(fresh.updatePeriod, 10);
  EXPECT_FALSE(fresh.disableAcceleration);
  EXPECT_EQ(fresh.hotkeyStart, 0x047Bu);
  EXPECT_EQ(fresh.hotkeyPause, 0x047Au);
  EXPECT_TRUE(fresh.enableHotkeyStart);
  EXPECT_TRUE(fresh.enableHotkeyPause);
  EXPECT_FALSE(Log().IsEnabled());
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(Exists(dir.Path() + "/Quillcast"));
}

TEST_F(SenderSettingsTest, StoredValuesAreUsedUnchecked) {
  SettingsFile file(path);
  file.Write("MulticastPort", 5983);  // odd: only the dialog validates
  file.Write("UpdatePeriod", 2);
  file.Write("DisableVideoAcceleration", 7);
  file.Write("EnableHotkeyPause", 0);
  file.Write("EnableLogging", 1);
  ASSERT_TRUE(file.Save());
  SenderSettings s;
  LoadSenderSettings(file, s);
  EXPECT_TRUE(Log().IsEnabled());
  EXPECT_EQ(s.port, 5983);
  EXPECT_EQ(s.updatePeriod, 2);
  EXPECT_TRUE(s.disableAcceleration);  // any non-zero number is true
  EXPECT_FALSE(s.enableHotkeyPause);
  EXPECT_TRUE(s.enableHotkeyStart);  // missing: default
}

TEST_F(SenderSettingsTest, NonIntegerHotkeyKeepsTheDefault) {
  ASSERT_EQ(mkdir((dir.Path() + "/Quillcast").c_str(), 0700), 0);
  WriteAll(path, "HotkeyStart=Alt+F12\nHotkeyPause=99999999999\n");
  SettingsFile file(path);
  SenderSettings s;
  LoadSenderSettings(file, s);
  EXPECT_EQ(s.hotkeyStart, 0x047Bu);
  EXPECT_EQ(s.hotkeyPause, 0x047Au);
}

TEST_F(SenderSettingsTest, EverySaveWritesAllValues) {
  SettingsFile file(path);
  SenderSettings s;
  SaveSenderSettings(file, s, false);
  EXPECT_EQ(ReadAll(path),
            "MulticastPort=5982\nUpdatePeriod=10\nDisableVideoAcceleration=0\nHotkeyStart=1147\n"
            "HotkeyPause=1146\nEnableHotkeyStart=1\nEnableHotkeyPause=1\nEnableLogging=0\n");
  s.updatePeriod = 40;
  SaveSenderSettings(file, s, true);
  SettingsFile back(path);
  ASSERT_TRUE(back.Load());
  EXPECT_EQ(back.Read("UpdatePeriod"), 40u);
  EXPECT_EQ(back.Read("EnableLogging"), 1u);
  EXPECT_EQ(back.Read("MulticastPort"), 5982u);
}

TEST_F(SenderSettingsTest, CommandLinePortIsNeverWritten) {
  SettingsFile file(path);
  SenderSettings s;
  s.port = 7000;
  s.portFromCommandLine = true;
  SaveSenderSettings(file, s, false);
  SettingsFile back(path);
  ASSERT_TRUE(back.Load());
  EXPECT_FALSE(back.Read("MulticastPort"));
  EXPECT_EQ(back.Read("UpdatePeriod"), 10u);

  // A stored port stays as it was.
  back.Write("MulticastPort", 5990);
  ASSERT_TRUE(back.Save());
  s.port = 7002;
  SaveSenderSettings(file, s, false);
  SettingsFile again(path);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Read("MulticastPort"), 5990u);
}

TEST_F(SenderSettingsTest, UnwritableFileIsOnlyLogged) {
  // A plain file where the folder should be: the save fails quietly.
  WriteAll(dir.Path() + "/Quillcast", "x");
  SettingsFile file(path);
  SaveSenderSettings(file, SenderSettings{}, false);
  EXPECT_FALSE(Exists(path));
}

TEST(LockFileTest, SecondHolderIsRefusedUntilTheFirstReleasesAndPathIsInTheRuntimeDir) {
  TempDir dir;
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
  EXPECT_EQ(LockFile::DefaultPath("QC_Win32_Instance"), "/tmp/QC_Win32_Instance");
}

}  // namespace
}  // namespace qc
