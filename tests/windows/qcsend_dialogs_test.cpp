// SPDX-License-Identifier: GPL-3.0-or-later
// qcsend.exe's settings dialog driven through its real controls under Wine
// (on a private Xvfb): a second thread finds the dialog, types, steps the
// spins, sets the hot-key fields and presses the buttons, while this thread
// runs it modally; the results are read back from the registry with the
// registry API. Also a registered hot key fired by synthesised keys, and the
// display driver's "Acceleration.Level" switch, as far as Wine's registry
// can show it.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "platform/settings_file.h"
#include "sender/shell/sender_settings.h"
#include "sender/shell/settings_dialog_logic.h"
#include "tests/sender_shell/fakes.h"
#include "sender/shell/windows/resource_ids.h"
#include "sender/shell/windows/win_acceleration.h"
#include "sender/shell/windows/win_dialogs.h"
#include "shell/windows/tray_window.h"

namespace qc {
namespace {

constexpr char kKey[] = "Software\\Quillcast\\Vorazudud";

// A top-level dialog with the caption, once shown (a modal dialog is shown
// after its initialisation); waits up to 20 s.
HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 2000; ++i) {
    HWND w = FindWindowA("#32770", caption);
    if (w != nullptr && IsWindowVisible(w)) return w;
    Sleep(10);
  }
  return nullptr;
}

std::string Text(HWND dialog, int id) {
  char text[512] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

// The "Invalid Value" box's text; the box is then closed with its OK.
std::string TakeInvalidValueBox() {
  HWND box = WaitForDialog("Invalid Value");
  if (box == nullptr) return "(no box)";
  std::string text = Text(box, 0xFFFF);  // the message box's text control
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  while (IsWindow(box)) Sleep(10);
  return text;
}

std::optional<DWORD> RegistryDword(HKEY root, const std::string& key, const char* name) {
  DWORD type = 0, value = 0, size = sizeof value;
  if (RegGetValueA(root, key.c_str(), name, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4) {
    return std::nullopt;
  }
  return value;
}

class SettingsDialogTest : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }

  // Runs the dialog here and script(dialog) on a second thread; whatever
  // the script leaves open is cancelled.
  int Run(const std::function<void(HWND)>& script) {
    std::thread driver([&] {
      HWND dialog = WaitForDialog("Quillcast Settings");
      if (dialog == nullptr) return;
      script(dialog);
      if (IsWindow(dialog)) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    int result = RunSettingsDialog(tray_);
    driver.join();
    return result;
  }

  static std::optional<DWORD> Stored(const char* name) {
    return RegistryDword(HKEY_CURRENT_USER, kKey, name);
  }

  test::FakeUiServices ui_;
  test::FakeView view_;
  SettingsFile file_{SettingsFile::DefaultPath(kSenderSettingsFile)};
  test::FakeAcceleration acceleration_;
  qcTray tray_{ui_, view_, file_, acceleration_, [] { return std::make_unique<test::FakeEngine>(); }};
};

void Step(HWND dialog, int box, bool up) {
  HWND edit = GetDlgItem(dialog, box);
  SendMessageA(edit, WM_KEYDOWN, up ? VK_UP : VK_DOWN, 0);
  SendMessageA(edit, WM_KEYUP, up ? VK_UP : VK_DOWN, 0);
}

TEST_F(SettingsDialogTest, OkWritesEveryValueAsDwordUnderTheSendersKey) {
  ASSERT_EQ(SettingsFile::DefaultPath(kSenderSettingsFile), std::string(kKey) + "\\");
  constexpr WORD kCtrlShiftF9 = MAKEWORD(VK_F9, HOTKEYF_CONTROL | HOTKEYF_SHIFT);
  bool pauseFieldEnabled = true;
  std::string port, period, bitrate;
  int modes = 0;
  int result = Run([&](HWND d) {
    SetDlgItemTextA(d, IDC_PORT, "6101");
    Step(d, IDC_PORT, true);  // odd: first made 6102, then 6104
    port = Text(d, IDC_PORT);
    Step(d, IDC_PERIOD, true);  // 10, 15, 20
    Step(d, IDC_PERIOD, true);
    period = Text(d, IDC_PERIOD);
    SendDlgItemMessageA(d, IDC_DISABLE_ACCELERATION, BM_CLICK, 0, 0);
    SendDlgItemMessageA(d, IDC_HOTKEY_START, HKM_SETHOTKEY, kCtrlShiftF9, 0);
    SendDlgItemMessageA(d, IDC_ENABLE_HOTKEY_PAUSE, BM_CLICK, 0, 0);
    pauseFieldEnabled = IsWindowEnabled(GetDlgItem(d, IDC_HOTKEY_PAUSE));
    modes = static_cast<int>(SendDlgItemMessageA(d, IDC_VIDEO_MODE, CB_GETCOUNT, 0, 0));
    bitrate = Text(d, IDC_VIDEO_BITRATE);
    SendDlgItemMessageA(d, IDC_VIDEO_MODE, CB_SETCURSEL, 1, 0);
    SetDlgItemTextA(d, IDC_VIDEO_BITRATE, "2500");
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(port, "6104");
  EXPECT_EQ(period, "20");
  EXPECT_FALSE(pauseFieldEnabled);

  EXPECT_EQ(Stored("MulticastPort"), 6104u);
  EXPECT_EQ(Stored("UpdatePeriod"), 20u);
  EXPECT_EQ(Stored("DisableVideoAcceleration"), 1u);
  EXPECT_EQ(Stored("HotkeyStart"), kCtrlShiftF9);
  EXPECT_EQ(Stored("HotkeyPause"), 0x047Au);
  EXPECT_EQ(Stored("EnableHotkeyStart"), 1u);
  EXPECT_EQ(Stored("EnableHotkeyPause"), 0u);
  EXPECT_EQ(Stored("EnableLogging"), 0u);
  EXPECT_EQ(modes, 3);
  EXPECT_EQ(bitrate, "3500");
  EXPECT_EQ(Stored("VideoMode"), 1u);
  EXPECT_EQ(Stored("VideoBitrate"), 2500u);
  // Applied at once while idle: hot keys and the acceleration switch.
  EXPECT_EQ(ui_.hotkeys.count(1), 0u);
  ASSERT_EQ(ui_.hotkeys.count(0), 1u);
  EXPECT_EQ(ui_.hotkeys[0], kCtrlShiftF9);
  EXPECT_EQ(acceleration_.level, 5);
}

TEST_F(SettingsDialogTest, RejectedValuesAreCorrectedAndCancelKeepsTheRegistry) {
  tray_.SaveSettings();
  std::string periodMessage, portMessage, period, port, bitrateMessage, bitrate;
  std::optional<DWORD> portWhileBoxOpen;
  int result = Run([&](HWND d) {
    SendMessageA(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(d, IDC_PERIOD)), TRUE);
    SetDlgItemTextA(d, IDC_PERIOD, "3");
    PostMessageA(d, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(d, IDC_PORT)), TRUE);
    periodMessage = TakeInvalidValueBox();
    period = Text(d, IDC_PERIOD);

    SetDlgItemTextA(d, IDC_PORT, "80");
    PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    WaitForDialog("Invalid Value");
    portWhileBoxOpen = Stored("MulticastPort");
    portMessage = TakeInvalidValueBox();
    port = Text(d, IDC_PORT);

    SetDlgItemTextA(d, IDC_VIDEO_BITRATE, "70000");
    PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    bitrateMessage = TakeInvalidValueBox();
    bitrate = Text(d, IDC_VIDEO_BITRATE);
    PostMessageA(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0);
  });
  EXPECT_EQ(bitrateMessage, kInvalidVideoBitrateText);
  EXPECT_EQ(bitrate, "50000");
  EXPECT_EQ(Stored("VideoBitrate"), 3500u);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(periodMessage, kInvalidPeriodText);
  EXPECT_EQ(period, "5");
  EXPECT_EQ(portMessage.rfind("Invalid port specified.\n", 0), 0u) << portMessage;
  EXPECT_EQ(port, "1024");
  EXPECT_EQ(portWhileBoxOpen, 5982u);
  EXPECT_EQ(Stored("MulticastPort"), 5982u);
  EXPECT_EQ(Stored("UpdatePeriod"), 10u);
  EXPECT_EQ(tray_.Settings().port, 5982);
  EXPECT_EQ(tray_.Settings().updatePeriod, 10);
}

TEST_F(SettingsDialogTest, CommandLinePortIsSteppedButNotStored) {
  tray_.SetPortFromCommandLine();
  bool portBoxReadOnly = false;
  int result = Run([&](HWND d) {
    portBoxReadOnly = GetWindowLongA(GetDlgItem(d, IDC_PORT), GWL_STYLE) & ES_READONLY;
    SendDlgItemMessageA(d, IDC_PORT_SPIN, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    SendDlgItemMessageA(d, IDC_PORT_SPIN, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
    SendDlgItemMessageA(d, IDOK, BM_CLICK, 0, 0);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_TRUE(portBoxReadOnly);
  EXPECT_EQ(tray_.Settings().port, 5984);  // the spin's upper half: one step up
  EXPECT_FALSE(Stored("MulticastPort"));
  EXPECT_EQ(Stored("UpdatePeriod"), 10u);
}

// A stored hot-key code (the hot-key control's flags) registered on the
// hidden window fires on the keys it names: Shift and Alt are swapped into
// RegisterHotKey's modifiers; the press reaches its callback.
TEST(WinHotKeyTest, TheStoredCodesKeysFireIt) {
  TrayWindow window("QC_HotKeyTest", "", false, UiStyle{});
  int presses = 0;
  ASSERT_TRUE(window.RegisterHotKey(HotKey::Pause, MAKEWORD(VK_F9, HOTKEYF_SHIFT | HOTKEYF_CONTROL),
                                    [&presses] { ++presses; }));
  std::vector<INPUT> keys;
  for (WORD key : {VK_SHIFT, VK_CONTROL, VK_F9, VK_F9, VK_CONTROL, VK_SHIFT}) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    if (keys.size() >= 3) in.ki.dwFlags = KEYEVENTF_KEYUP;
    keys.push_back(in);
  }
  ASSERT_EQ(SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)), keys.size());
  MSG msg{};
  bool fired = false;
  for (int i = 0; i < 200 && !fired; ++i) {
    fired = PeekMessageA(&msg, nullptr, WM_HOTKEY, WM_HOTKEY, PM_REMOVE);
    if (!fired) Sleep(10);
  }
  ASSERT_TRUE(fired);
  EXPECT_EQ(msg.lParam, MAKELPARAM(MOD_SHIFT | MOD_CONTROL, VK_F9));
  DispatchMessageA(&msg);
  EXPECT_EQ(presses, 1);
  window.UnregisterHotKey(HotKey::Pause);
}

// Wine keeps a device map and a driver key like Windows, so the level's
// round trip through the driver key can be read back. Whether a real driver
// switches its acceleration, Wine cannot show; and Wine makes its display
// driver keys anew when the display settings are re-applied, so that
// request is counted here instead of made.
class CountingAcceleration : public RegistryAcceleration {
 public:
  void ReapplyDisplaySettings() override { ++reapplied; }
  int reapplied = 0;
};

class RegistryAccelerationTest : public testing::Test {
 protected:
  void SetUp() override {
    char map[256] = {};
    DWORD size = sizeof map;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\VIDEO", "\\Device\\Video0",
                           RRF_RT_REG_SZ, nullptr, map, &size),
              ERROR_SUCCESS);
    const std::string prefix = "\\Registry\\Machine\\";
    std::string text = map;
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    driverKey_ = text.substr(prefix.size());
  }
  void TearDown() override { RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, driverKey_.c_str(), kValue); }

  void SetLevel(DWORD level) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, driverKey_.c_str(), kValue, REG_DWORD, &level,
                              sizeof level),
              ERROR_SUCCESS);
  }
  std::optional<DWORD> Level() { return RegistryDword(HKEY_LOCAL_MACHINE, driverKey_, kValue); }

  static constexpr char kValue[] = "Acceleration.Level";
  std::string driverKey_;
  CountingAcceleration backend_;
  AccelerationControl control_{backend_};
};

TEST_F(RegistryAccelerationTest, SwitchesOffAndRestoresTheDriversLevel) {
  SetLevel(2);
  control_.SetAcceleration(true);
  EXPECT_EQ(Level(), 5u);
  EXPECT_EQ(control_.SavedLevel(), 2);
  control_.SetAcceleration(false);
  EXPECT_EQ(Level(), 2u);
  EXPECT_EQ(control_.SavedLevel(), AccelerationControl::kOff);
  EXPECT_EQ(backend_.reapplied, 2);
}

TEST_F(RegistryAccelerationTest, AMissingLevelCountsAsZeroAndAnOffLevelStaysOff) {
  control_.SetAcceleration(true);
  EXPECT_EQ(Level(), 5u);
  control_.SetAcceleration(false);
  EXPECT_EQ(Level(), 0u);

  EXPECT_EQ(backend_.reapplied, 2);

  SetLevel(5);
  control_.SetAcceleration(true);
  control_.SetAcceleration(false);
  EXPECT_EQ(Level(), 5u);
  EXPECT_EQ(backend_.reapplied, 2);  // nothing changed: nothing re-applied
}

TEST(DriverKeyPathTest, FollowsTheSystemVersionsLayout) {
  const std::string map = "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\vga\\Device0";
  EXPECT_EQ(RegistryAcceleration::DriverKeyPath(map, 5, 0),
            "SYSTEM\\CurrentControlSet\\Services\\vga\\Device0");
  EXPECT_EQ(RegistryAcceleration::DriverKeyPath(map, 5, 1),
            "System\\CurrentControlSet\\Services\\vga\\Device0");
  EXPECT_FALSE(RegistryAcceleration::DriverKeyPath("\\Device\\Video0", 6, 1));
}

}  // namespace
}  // namespace qc
