// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows implementations of the platform seams, checked through the
// system's own calls: registry values, the named mutex, the log file's
// sharing.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/log_file.h"
#include "platform/lock_file.h"
#include "platform/settings_file.h"
#include "tests/support/temp_dir.h"

namespace qc {
namespace {

class RegistryTest : public testing::Test {
 protected:
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  static constexpr char kKey[] = "Software\\Quillcast\\PlatformTest";
  const std::string path_ = std::string(kKey) + "\\";
};

TEST_F(RegistryTest, KeysAreUnderSoftwareQuillcastAndValuesAreDwords) {
  EXPECT_EQ(SettingsFile::DefaultPath("Vorazudud.conf"), "Software\\Quillcast\\Vorazudud\\");
  EXPECT_EQ(SettingsFile::DefaultPath("Receiver.conf"), "Software\\Quillcast\\Receiver\\");

  SettingsFile missing(path_);
  EXPECT_FALSE(missing.Load());  // loading creates no key
  EXPECT_FALSE(missing.Load());

  SettingsFile file(path_);
  file.Write("MulticastPort", 5984);
  file.Write("HotkeyHide", -1);
  ASSERT_TRUE(file.Save());
  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(
      RegGetValueA(HKEY_CURRENT_USER, kKey, "MulticastPort", RRF_RT_ANY, &type, &value, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 5984u);

  // Any type with at most 4 bytes of data is a number; longer data is not.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  const BYTE wide[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  RegSetValueExA(key, "FullScreen", 0, REG_QWORD, wide, sizeof wide);
  const BYTE binary[4] = {7, 0, 0, 0};
  RegSetValueExA(key, "EnableLogging", 0, REG_BINARY, binary, sizeof binary);
  RegCloseKey(key);

  SettingsFile again(path_);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Read("MulticastPort"), 5984u);
  EXPECT_EQ(again.Read("HotkeyHide"), 0xFFFFFFFFu);
  EXPECT_EQ(again.Read("EnableLogging"), 7u);
  EXPECT_FALSE(again.Read("FullScreen"));
  EXPECT_FALSE(again.Read("EnableHotkeyHide"));
}

TEST(NamedMutexTest, OneHolderPerNameUntilReleased) {
  EXPECT_EQ(LockFile::DefaultPath("QC_Win32_Instance"), "QC_Win32_Instance");
  const std::string name = "QC_Win32_Instance_test";
  LockFile first;
  ASSERT_EQ(first.Acquire(name), LockFile::Result::Acquired);
  LockFile second;
  EXPECT_EQ(second.Acquire(name), LockFile::Result::HeldElsewhere);
  first.Release();
  EXPECT_EQ(second.Acquire(name), LockFile::Result::Acquired);
  EXPECT_EQ(LockFile().Acquire("Local\\no\\such\\namespace"), LockFile::Result::Failed);
}

TEST(LogFileSharingTest, OthersMayReadTheOpenLogButNotWriteOrDeleteIt) {
  test::TempDir dir;
  const std::string name = dir.Path() + "\\Quillview.log";
  {
    LogFile log(name.c_str(), LogFile::ExitPolicy::Keep);
    log.Enable(true);
    log.Print("qvTray: %s\n", "line");
    HANDLE reader = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    EXPECT_FALSE(DeleteFileA(name.c_str()));
  }
  const std::string text = test::ReadFile(name);
  ASSERT_EQ(text.size(), 9u + 12u + 2u);
  EXPECT_EQ(text.substr(2, 1) + text.substr(5, 1), "::");
  EXPECT_EQ(text.substr(9), "qvTray: line\r\n");
}

}  // namespace
}  // namespace qc
