// Pure rules of the shell: the acceleration switch, the settings dialog's
// stepping and validation, and the hot-key code's modifier mapping.
#include <gtest/gtest.h>

#include "sender/shell/acceleration.h"
#include "sender/shell/settings_dialog_logic.h"
#include "sender/shell/tray_controller.h"
#include "tests/sender_shell/fakes.h"

namespace qc {
namespace {

using test::FakeAcceleration;

TEST(AccelerationTest, SwitchOffSavesTheLevelAndRestoreBringsItBack) {
  FakeAcceleration backend;
  backend.level = 0;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  EXPECT_EQ(backend.level, 5);
  EXPECT_EQ(backend.reapplied, 1);
  EXPECT_EQ(control.SavedLevel(), 0);
  control.SetAcceleration(false);
  EXPECT_EQ(backend.level, 0);
  EXPECT_EQ(backend.reapplied, 2);
  EXPECT_EQ(control.SavedLevel(), 5);
}

TEST(AccelerationTest, AlreadyOffIsNotReapplied) {
  FakeAcceleration backend;
  backend.level = 5;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  EXPECT_EQ(backend.level, 5);
  EXPECT_EQ(backend.reapplied, 0);
  EXPECT_EQ(control.SavedLevel(), 5);
  control.SetAcceleration(false);
  EXPECT_EQ(backend.level, 5);
  EXPECT_EQ(backend.reapplied, 0);
}

TEST(AccelerationTest, MissingValueCountsAsZero) {
  FakeAcceleration backend;
  backend.level = std::nullopt;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  EXPECT_EQ(backend.level, 5);
  EXPECT_EQ(backend.reapplied, 1);
  EXPECT_EQ(control.SavedLevel(), 0);
}

TEST(AccelerationTest, SecondSwitchOffKeepsTheFirstSavedLevel) {
  FakeAcceleration backend;
  backend.level = 2;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  control.SetAcceleration(true);
  EXPECT_EQ(control.SavedLevel(), 2);
  control.SetAcceleration(false);
  EXPECT_EQ(backend.level, 2);
}

TEST(AccelerationTest, RestoreWithNothingSavedLeavesTheDisplayAlone) {
  FakeAcceleration backend;
  backend.level = 0;
  AccelerationControl control(backend);
  control.SetAcceleration(false);
  EXPECT_EQ(backend.level, 0);
  EXPECT_EQ(backend.writes, 0);
  EXPECT_EQ(backend.reapplied, 0);
}

TEST(AccelerationTest, FailedWriteChangesNothing) {
  FakeAcceleration backend;
  backend.level = 1;
  backend.writable = false;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  EXPECT_EQ(backend.reapplied, 0);
  EXPECT_EQ(control.SavedLevel(), 5);
}

TEST(AccelerationTest, UnavailableBackendDoesNothing) {
  FakeAcceleration backend;
  backend.available = false;
  AccelerationControl control(backend);
  control.SetAcceleration(true);
  EXPECT_EQ(backend.writes, 0);
  UnsupportedAcceleration linux;
  AccelerationControl real(linux);
  real.SetAcceleration(true);
  real.SetAcceleration(false);
  EXPECT_EQ(real.SavedLevel(), 5);
}

TEST(SettingsRulesTest, BoxNumbers) {
  EXPECT_EQ(BoxNumber(""), 0);
  EXPECT_EQ(BoxNumber("abc"), 0);
  EXPECT_EQ(BoxNumber("6001"), 6001);
  EXPECT_EQ(BoxNumber("99999999999"), 0xFFFFFFFFll);
}

TEST(SettingsRulesTest, PortSpin) {
  EXPECT_EQ(StepPort(6001, true), 6004);  // made 6002 first
  EXPECT_EQ(StepPort(6001, false), 6000);
  EXPECT_EQ(StepPort(6000, true), 6002);
  EXPECT_EQ(StepPort(1024, false), 1024);
  EXPECT_EQ(StepPort(65534, true), 65534);
  EXPECT_EQ(StepPort(0, true), 1024);
  EXPECT_EQ(StepPort(99999, false), 65534);
}

TEST(SettingsRulesTest, PeriodSpinUpFrom45) {
  std::vector<int64_t> seen;
  int64_t v = 45;
  for (int i = 0; i < 18; ++i) seen.push_back(v = StepPeriod(v, true));
  std::vector<int64_t> expected = {50,  60,  70,  80,  90,  100, 110, 120, 130,
                                   140, 150, 160, 170, 180, 190, 200, 250, 300};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(StepPeriod(47, true), 50);
  EXPECT_EQ(StepPeriod(0, true), 5);
}

TEST(SettingsRulesTest, PeriodSpinDownFrom300) {
  std::vector<int64_t> seen;
  int64_t v = 300;
  while (v >= 5) seen.push_back(v = StepPeriod(v, false));
  std::vector<int64_t> expected = {250, 200, 190, 180, 170, 160, 150, 140, 130,
                                   120, 110, 100, 90,  80,  70,  60,  50,  45,
                                   40,  35,  30,  25,  20,  15,  10,  5,   0};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(StepPeriod(57, false), 50);
}

TEST(SettingsRulesTest, NearestValidPort) {
  EXPECT_EQ(NearestValidPort(6001), 6002);
  EXPECT_EQ(NearestValidPort(80), 1024);
  EXPECT_EQ(NearestValidPort(70000), 65534);
  EXPECT_EQ(NearestValidPort(65535), 65534);
  EXPECT_EQ(NearestValidPort(0), 1024);
}

TEST(HotkeyCodeTest, ModifierFlagsBecomeRegistrationFlags) {
  EXPECT_EQ(HotkeyModifiers(0x047B), 0x01u);  // Alt -> MOD_ALT
  EXPECT_EQ(HotkeyModifiers(0x017B), 0x04u);  // Shift -> MOD_SHIFT
  EXPECT_EQ(HotkeyModifiers(0x027B), 0x02u);  // Control stays
  EXPECT_EQ(HotkeyModifiers(0x087B), 0x08u);  // 0x08 passes unchanged (Super)
  EXPECT_EQ(HotkeyModifiers(0x0F7B), 0x0Fu);
  EXPECT_EQ(HotkeyModifiers(0x0741), 0x07u);  // Shift+Control+Alt
  EXPECT_EQ(HotkeyModifiers(0x107B), 0x10u);  // other bits unchanged
  EXPECT_EQ(HotkeyVirtualKey(0x047B), 0x7Bu);
  EXPECT_EQ(HotkeyVirtualKey(0x0541), 0x41u);
}

}  // namespace
}  // namespace qc
