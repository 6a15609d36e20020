#include "receiver/shell/receiver_settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "common/log_file.h"

namespace qc {
namespace {

class ReceiverSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvsettings-XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/Quillcast/Receiver.conf";
  }
  void TearDown() override {
    qc::Log().Enable(false);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  void WriteFile(const std::string& text) {
    std::system(("mkdir -p '" + dir_ + "/Quillcast'").c_str());
    std::ofstream(path_) << text;
  }
  std::map<std::string, std::string> ReadFile() {
    std::map<std::string, std::string> values;
    std::ifstream in(path_);
    std::string line;
    while (std::getline(in, line)) {
      auto eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
  }

  std::string dir_;
  std::string path_;
};

TEST_F(ReceiverSettingsTest, DefaultsWithoutAFileAndThePathFollowsXdgConfigHome) {
  ReceiverSettings s;
  qvSettings(path_).Load(s);
  EXPECT_EQ(s.port, 5982);
  EXPECT_FALSE(s.fullScreen);
  EXPECT_EQ(s.hotkey, 0x027Bu);
  EXPECT_TRUE(s.hotkeyEnabled);
  EXPECT_FALSE(s.logging);
  EXPECT_FALSE(qc::Log().IsEnabled());
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  EXPECT_EQ(qvSettings::DefaultPath(), path_);
}

TEST_F(ReceiverSettingsTest, StoredValuesAreTakenUnaltered) {
  WriteFile(
      "MulticastPort=1\nFullScreen=7\nHotkeyHide=1147\nEnableHotkeyHide=0\nEnableLogging=1\n");
  ReceiverSettings s;
  qvSettings(path_).Load(s);
  EXPECT_TRUE(s.logging);
  EXPECT_TRUE(qc::Log().IsEnabled());
  EXPECT_EQ(s.port, 1);
  EXPECT_TRUE(s.fullScreen);
  EXPECT_EQ(s.hotkey, 1147u);
  EXPECT_FALSE(s.hotkeyEnabled);

  WriteFile("MulticastPort=5983\n");
  ReceiverSettings odd;
  qvSettings(path_).Load(odd);
  EXPECT_EQ(odd.port, 5983);
}

TEST_F(ReceiverSettingsTest, UnreadableValuesKeepTheirDefaults) {
  WriteFile("MulticastPort=abc\nFullScreen=\nHotkeyHide=99999999999\n");
  ReceiverSettings s;
  qvSettings(path_).Load(s);
  EXPECT_EQ(s.port, 5982);
  EXPECT_FALSE(s.fullScreen);
  EXPECT_EQ(s.hotkey, 0x027Bu);
}

TEST_F(ReceiverSettingsTest, FullScreenSevenIsSavedBackAsOne) {
  WriteFile("MulticastPort=6000\nFullScreen=7\n");
  ReceiverSettings s;
  qvSettings store(path_);
  store.Load(s);
  store.Save(s, false);
  auto v = ReadFile();
  EXPECT_EQ(v["FullScreen"], "1");
  EXPECT_EQ(v["MulticastPort"], "6000");
  EXPECT_EQ(v["HotkeyHide"], "635");
  EXPECT_EQ(v["EnableHotkeyHide"], "1");
  EXPECT_EQ(v["EnableLogging"], "0");
}

TEST_F(ReceiverSettingsTest, CommandLinePortIsNeverStored) {
  WriteFile("MulticastPort=6000\n");
  ReceiverSettings s;
  qvSettings store(path_);
  store.Load(s);
  s.port = 7000;  // as if from the command line
  s.fullScreen = true;
  store.Save(s, true);
  auto v = ReadFile();
  EXPECT_EQ(v["MulticastPort"], "6000");
  EXPECT_EQ(v["FullScreen"], "1");
  EXPECT_EQ(v.count("EnableLogging"), 1u);

  // Without a stored port, none is written either.
  TearDown();
  SetUp();
  store = qvSettings(path_);
  store.Save(s, true);
  EXPECT_EQ(ReadFile().count("MulticastPort"), 0u);
  EXPECT_EQ(ReadFile()["FullScreen"], "1");
}

TEST_F(ReceiverSettingsTest, SaveAndLoadRoundTrip) {
  ReceiverSettings s;
  s.port = 6100;
  s.fullScreen = true;
  s.hotkey = 0x0441;
  s.hotkeyEnabled = false;
  qvSettings(path_).Save(s, false);
  ReceiverSettings back;
  qvSettings(path_).Load(back);
  EXPECT_EQ(back.port, 6100);
  EXPECT_TRUE(back.fullScreen);
  EXPECT_EQ(back.hotkey, 0x0441u);
  EXPECT_FALSE(back.hotkeyEnabled);
}

}  // namespace
}  // namespace qc
