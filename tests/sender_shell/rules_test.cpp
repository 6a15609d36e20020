// Pure rules of the shell: the acceleration switch, the settings dialog's
// stepping and validation, and the hot-key code's modifier mapping.
#include <gtest/gtest.h>

#include "sender/shell/acceleration.h"
#include "sender/shell/settings_dialog_logic.h"
#include "sender/shell/tray_controller.h"
#include "tests/sender_shell/fakes.h"

namespace qc {
namespace {

constexpr int kAny = -1;  // not checked

TEST(AccelerationTest, SwitchOffAndRestore) {
  // ops: '+' switches acceleration off (SetAcceleration(true)), '-' restores.
  struct Case {
    const char* name;
    std::optional<int> level;
    bool available, writable;
    const char* ops;
    int levelAfter, writes, reapplied, saved;
  };
  const Case cases[] = {
      {"off from 0", 0, true, true, "+", 5, kAny, 1, 0},
      {"off and back", 0, true, true, "+-", 0, kAny, 2, 5},
      {"already off", 5, true, true, "+", 5, kAny, 0, 5},
      {"already off, restored", 5, true, true, "+-", 5, kAny, 0, kAny},
      {"missing value counts as 0", std::nullopt, true, true, "+", 5, kAny, 1, 0},
      {"second switch-off keeps the first level", 2, true, true, "++", kAny, kAny, kAny, 2},
      {"second switch-off, restored", 2, true, true, "++-", 2, kAny, kAny, kAny},
      {"restore with nothing saved", 0, true, true, "-", 0, 0, 0, kAny},
      {"failed write", 1, true, false, "+", kAny, kAny, 0, 5},
      {"unavailable", 0, false, true, "+", kAny, 0, kAny, kAny},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeAcceleration backend;
    backend.level = c.level;
    backend.available = c.available;
    backend.writable = c.writable;
    AccelerationControl control(backend);
    for (const char* op = c.ops; *op; ++op) control.SetAcceleration(*op == '+');
    if (c.levelAfter != kAny) {
      EXPECT_EQ(backend.level, std::optional<int>(c.levelAfter));
    }
    if (c.writes != kAny) {
      EXPECT_EQ(backend.writes, c.writes);
    }
    if (c.reapplied != kAny) {
      EXPECT_EQ(backend.reapplied, c.reapplied);
    }
    if (c.saved != kAny) {
      EXPECT_EQ(control.SavedLevel(), c.saved);
    }
  }
  UnsupportedAcceleration linux;
  AccelerationControl real(linux);
  real.SetAcceleration(true);
  real.SetAcceleration(false);
  EXPECT_EQ(real.SavedLevel(), 5);
}

TEST(SettingsRulesTest, BoxNumbersPortSpinAndNearestPort) {
  EXPECT_EQ(BoxNumber(""), 0);
  EXPECT_EQ(BoxNumber("abc"), 0);
  EXPECT_EQ(BoxNumber("6001"), 6001);
  EXPECT_EQ(BoxNumber("99999999999"), 0xFFFFFFFFll);

  struct Step {
    int64_t from;
    bool up;
    int64_t to;
  };
  for (Step s : {Step{6001, true, 6004} /* made 6002 first */, Step{6001, false, 6000},
                 Step{6000, true, 6002}, Step{1024, false, 1024}, Step{65534, true, 65534},
                 Step{0, true, 1024}, Step{99999, false, 65534}}) {
    EXPECT_EQ(StepPort(s.from, s.up), s.to) << s.from << (s.up ? " up" : " down");
  }
  for (auto [in, out] : {std::pair<int64_t, int64_t>{6001, 6002}, {80, 1024}, {70000, 65534},
                         {65535, 65534}, {0, 1024}}) {
    EXPECT_EQ(NearestValidPort(in), out) << in;
  }
}

TEST(SettingsRulesTest, PeriodSpinUpFrom45AndDownFrom300) {
  std::vector<int64_t> seen;
  int64_t v = 45;
  for (int i = 0; i < 18; ++i) seen.push_back(v = StepPeriod(v, true));
  EXPECT_EQ(seen, (std::vector<int64_t>{50, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160,
                                        170, 180, 190, 200, 250, 300}));
  EXPECT_EQ(StepPeriod(47, true), 50);
  EXPECT_EQ(StepPeriod(0, true), 5);

  seen.clear();
  v = 300;
  while (v >= 5) seen.push_back(v = StepPeriod(v, false));
  EXPECT_EQ(seen, (std::vector<int64_t>{250, 200, 190, 180, 170, 160, 150, 140, 130, 120, 110,
                                        100, 90, 80, 70, 60, 50, 45, 40, 35, 30, 25, 20, 15, 10,
                                        5, 0}));
  EXPECT_EQ(StepPeriod(57, false), 50);
}

TEST(HotkeyCodeTest, ModifierFlagsBecomeRegistrationFlags) {
  // Alt -> MOD_ALT, Shift -> MOD_SHIFT, Control stays, 0x08 (Super) and
  // other bits pass unchanged.
  for (auto [code, flags] : {std::pair<uint32_t, uint32_t>{0x047B, 0x01}, {0x017B, 0x04},
                             {0x027B, 0x02}, {0x087B, 0x08}, {0x0F7B, 0x0F}, {0x0741, 0x07},
                             {0x107B, 0x10}}) {
    EXPECT_EQ(HotkeyModifiers(code), flags) << std::hex << code;
  }
  EXPECT_EQ(HotkeyVirtualKey(0x047B), 0x7Bu);
  EXPECT_EQ(HotkeyVirtualKey(0x0541), 0x41u);
}

}  // namespace
}  // namespace qc
