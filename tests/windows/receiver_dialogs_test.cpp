// SPDX-License-Identifier: GPL-3.0-or-later
// qvrecv.exe's settings dialog, run modally from its resource template and
// filled in through its controls (by their ids) from a timer while it is up:
// OK stores the receiver's five registry values, Cancel stores nothing, an
// odd port is replaced with the dialog still open, and a command-line port
// greys the port field and is never stored.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "receiver/shell/receiver_settings.h"
#include "tests/receiver_shell/fakes.h"
#include "receiver/shell/windows/resource.h"
#include "receiver/shell/windows/win_dialogs.h"

namespace qc::test {
namespace {

constexpr char kKey[] = "Software\\Quillcast\\Receiver";

std::optional<DWORD> Stored(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, kKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::function<void(HWND)> g_fill;

// Fills the dialog in once it is there.
void CALLBACK Drive(HWND, UINT, UINT_PTR id, DWORD) {
  HWND dialog = FindWindowA(nullptr, "Quillview Settings");
  if (dialog == nullptr || !IsWindowVisible(dialog)) return;
  KillTimer(nullptr, id);
  g_fill(dialog);
}

// Answers the invalid-port box with OK once it is there.
void CALLBACK CloseInvalidValueBox(HWND, UINT, UINT_PTR id, DWORD) {
  HWND box = FindWindowA(nullptr, "Invalid Value");
  if (box == nullptr || !IsWindowVisible(box)) return;
  KillTimer(nullptr, id);
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

void RunDialog(qvTray& tray, std::function<void(HWND)> fill) {
  g_fill = std::move(fill);
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, Drive);
  RunReceiverSettingsDialog(tray);
  KillTimer(nullptr, timer);
}

class ReceiverDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS};
    InitCommonControlsEx(&controls);
    RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }

  test::FakeUiServices ui;
  FakeView view;
  FakeViewer viewer;
  qvSettings store{qvSettings::DefaultPath()};
};

TEST_F(ReceiverDialogTest, OkStoresTheFiveValues) {
  qvTray tray(ui, view, viewer, store);
  RunDialog(tray, [](HWND d) {
    SetDlgItemTextA(d, IDC_PORT, "6000");
    CheckDlgButton(d, IDC_FULL_SCREEN, BST_CHECKED);
    CheckDlgButton(d, IDC_LOGGING, BST_UNCHECKED);
    SendDlgItemMessageA(d, IDC_HOTKEY, HKM_SETHOTKEY, 0x047A, 0);  // Alt+F11
    CheckDlgButton(d, IDC_HOTKEY_ENABLED, BST_UNCHECKED);
    SendMessageA(d, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(Stored("MulticastPort"), 6000u);
  EXPECT_EQ(Stored("FullScreen"), 1u);
  EXPECT_EQ(Stored("HotkeyHide"), 0x047Au);
  EXPECT_EQ(Stored("EnableHotkeyHide"), 0u);
  EXPECT_EQ(Stored("EnableLogging"), 0u);
}

TEST_F(ReceiverDialogTest, TheDialogShowsTheSettingsAndCancelStoresNothing) {
  qvTray tray(ui, view, viewer, store);
  char port[16] = {};
  LRESULT hotkey = 0;
  UINT hotkeyEnabled = 0;
  RunDialog(tray, [&](HWND d) {
    GetDlgItemTextA(d, IDC_PORT, port, sizeof port);
    hotkey = SendDlgItemMessageA(d, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0);
    hotkeyEnabled = IsDlgButtonChecked(d, IDC_HOTKEY_ENABLED);
    SetDlgItemTextA(d, IDC_PORT, "7000");
    SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_STREQ(port, "5982");
  EXPECT_EQ(hotkey, 0x027B);  // Ctrl+F12
  EXPECT_EQ(hotkeyEnabled, static_cast<UINT>(BST_CHECKED));
  EXPECT_FALSE(Stored("MulticastPort").has_value());
  EXPECT_FALSE(Stored("FullScreen").has_value());
  EXPECT_EQ(tray.Port(), 5982);
}

TEST_F(ReceiverDialogTest, AnOddPortIsReplacedAndTheDialogStaysOpen) {
  qvTray tray(ui, view, viewer, store);
  char shown[16] = {};
  bool stillOpen = false;
  RunDialog(tray, [&](HWND d) {
    SetDlgItemTextA(d, IDC_PORT, "5983");
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseInvalidValueBox);
    SendMessageA(d, WM_COMMAND, IDOK, 0);  // returns once the box is closed
    KillTimer(nullptr, timer);
    GetDlgItemTextA(d, IDC_PORT, shown, sizeof shown);
    stillOpen = IsWindow(d) && IsWindowVisible(d);
    SendMessageA(d, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_STREQ(shown, "5984");
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(Stored("MulticastPort").has_value());
  EXPECT_EQ(tray.Port(), 5982);
}

TEST_F(ReceiverDialogTest, ACommandLinePortIsGreyedAndNotStored) {
  qvTray tray(ui, view, viewer, store);
  ASSERT_TRUE(tray.Init(6000));
  BOOL portEnabled = TRUE;
  RunDialog(tray, [&](HWND d) {
    portEnabled = IsWindowEnabled(GetDlgItem(d, IDC_PORT));
    CheckDlgButton(d, IDC_FULL_SCREEN, BST_CHECKED);
    SendMessageA(d, WM_COMMAND, IDOK, 0);
  });
  tray.Shutdown();
  EXPECT_FALSE(portEnabled);
  EXPECT_FALSE(Stored("MulticastPort").has_value());
  EXPECT_EQ(Stored("FullScreen"), 1u);
  EXPECT_EQ(Stored("HotkeyHide"), 0x027Bu);
  EXPECT_EQ(Stored("EnableHotkeyHide"), 1u);
}

}  // namespace
}  // namespace qc::test
