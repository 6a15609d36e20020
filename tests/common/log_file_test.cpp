// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/log_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"

namespace qc {
namespace {

namespace fs = std::filesystem;

void WriteOld(const char* name) {
  std::ofstream(name, std::ios::binary) << "left by an earlier run\n";
}

// Each test runs in a fresh working directory, since the log name is relative.
class LogFileTest : public testing::Test {
 protected:
  void SetUp() override { fs::current_path(dir_.Path()); }
  void TearDown() override { fs::current_path(old_); }
  fs::path old_ = fs::current_path();
  test::TempDir dir_;
};

std::string Format(const char* fmt, ...) {
  char buf[LogFile::kLineBuffer];
  va_list args;
  va_start(args, fmt);
  int n = LogFile::FormatLine(buf, "12:34:56 ", fmt, args);
  va_end(args);
  return std::string(buf, n);
}

// "HH:MM:SS " on a 24-hour clock, then the message with CR LF; nothing while
// disabled; the first Enable truncates, later ones append.
TEST_F(LogFileTest, PrefixIsLocalTimeFirstEnableTruncatesNothingWhileDisabled) {
  WriteOld("Quillcast.log");
  LogFile log("Quillcast.log", LogFile::ExitPolicy::Keep);
  log.Print("qcTray: lost\n");
  log.Enable(true);
  EXPECT_EQ(fs::file_size("Quillcast.log"), 0u);
  log.Print("qcTray: kept %s\n", "line");
  log.Enable(false);
  log.Print("b\n");
  log.Enable(true);
  log.Print("c\n");
  const std::string text = test::ReadFile("Quillcast.log");
  ASSERT_EQ(text.size(), 28u + 12) << text;
  int h = -1, m = -1, sec = -1;
  ASSERT_EQ(sscanf(text.c_str(), "%2d:%2d:%2d ", &h, &m, &sec), 3) << text;
  EXPECT_TRUE(h >= 0 && h < 24 && m >= 0 && m < 60 && sec >= 0 && sec <= 60) << text;
  EXPECT_EQ(text[2] + std::string(1, text[5]), "::");
  EXPECT_EQ(text.substr(8, 20), " qcTray: kept line\r\n");
  EXPECT_EQ(text.substr(36), " c\r\n");
  // LF becomes CR LF; long messages are cut.
  const std::string x1012(1012, 'x'), y3000(3000, 'y');
  const std::pair<std::string, std::string> cases[] = {
      {"qcTray: Hello 42\n", "12:34:56 qcTray: Hello 42\r\n"},
      {"no line end", "12:34:56 no line end"},
      // 1013 bytes ending in LF still end in CR LF: 1023 bytes in all.
      {x1012 + "\n", "12:34:56 " + x1012 + "\r\n"},
      // Longer: cut at 1022 bytes, without a line end.
      {y3000 + "\n", "12:34:56 " + std::string(1013, 'y')},
  };
  for (const auto& [msg, line] : cases) EXPECT_EQ(Format("%s", msg.c_str()), line) << msg.size();
}

TEST_F(LogFileTest, SenderDeletesItsLogWhenDisabledAtExitReceiverNeverDeletes) {
  WriteOld("Quillview.log");
  { LogFile log("Quillview.log", LogFile::ExitPolicy::Keep); }
  EXPECT_EQ(test::ReadFile("Quillview.log"), "left by an earlier run\n");
  WriteOld("Quillcast.log");
  { LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled); }
  EXPECT_FALSE(fs::exists("Quillcast.log"));
  for (bool disableAgain : {false, true}) {
    {
      LogFile log("Quillcast.log", LogFile::ExitPolicy::DeleteWhenDisabled);
      log.Enable(true);
      log.Print("x\n");
      if (disableAgain) log.Enable(false);
    }
    EXPECT_EQ(fs::exists("Quillcast.log"), !disableAgain) << disableAgain;
  }
}

}  // namespace
}  // namespace qc
