// SPDX-License-Identifier: GPL-3.0-or-later
// Pure rules of the sender: the acceleration switch, the settings dialog's
// box numbers and period steps, and its command line.
#include <gtest/gtest.h>

#include "sender/shell/acceleration.h"
#include "sender/shell/command_line.h"
#include "sender/shell/settings_dialog_logic.h"
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
    auto check = [](const char* what, int want, int got) {
      if (want != kAny) {
        EXPECT_EQ(got, want) << what;
      }
    };
    check("level", c.levelAfter, backend.level.value_or(kAny - 1));
    check("writes", c.writes, backend.writes);
    check("reapplied", c.reapplied, backend.reapplied);
    check("saved", c.saved, control.SavedLevel());
  }
  UnsupportedAcceleration linux;
  AccelerationControl real(linux);
  real.SetAcceleration(true);
  real.SetAcceleration(false);
  EXPECT_EQ(real.SavedLevel(), 5);
}

TEST(SettingsRulesTest, BoxNumbers) {
  for (auto [text, value] : {std::pair<const char*, int64_t>{"", 0}, {"abc", 0}, {"6001", 6001},
                             {"60x1", 60}, {"99999999999", 0xFFFFFFFFll}}) {
    EXPECT_EQ(BoxNumber(text), value) << text;
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

TEST(SenderCommandLineTest, LongOptionsAndTheClassicPart) {
  const char* argv[] = {"qcsend", "--headless", "-port", "6000", "-start"};
  CommandLine c = ParseArguments(5, argv);
  EXPECT_EQ(c.status, CommandLine::Status::Ok);
  EXPECT_TRUE(c.headless);
  EXPECT_TRUE(c.start);
  EXPECT_EQ(c.port, 6000);
  EXPECT_FALSE(c.help || c.version);

  const char* help[] = {"qcsend", "--help", "--version"};
  EXPECT_TRUE(ParseArguments(3, help).help && ParseArguments(3, help).version);
  // A bad classic part is reported even with --help.
  const char* badPort[] = {"qcsend", "--help", "-port", "1"};
  EXPECT_EQ(ParseArguments(4, badPort).status, CommandLine::Status::InvalidPort);
  EXPECT_NE(LongUsage("/x/Vorazudud.conf").find("/x/Vorazudud.conf"), std::string::npos);
}

TEST(SenderCommandLineTest, MonitorAndRegion) {
  const char* both[] = {"qcsend", "-monitor", "2", "-start", "-region", "640x480+1920+10"};
  CommandLine c = ParseArguments(6, both);
  EXPECT_EQ(c.status, CommandLine::Status::Ok);
  EXPECT_TRUE(c.start);
  EXPECT_EQ(c.monitor, 2);
  EXPECT_EQ(c.region, (ScreenRect{1920, 10, 640, 480}));
  EXPECT_EQ(ParseArguments(1, both).monitor, -1);
  auto status = [](const char* option, const char* value) {
    const char* argv[] = {"qcsend", option, value};
    return ParseArguments(3, argv).status;
  };
  for (const char* bad : {"x", "-1", "2a", "", "99"}) {
    EXPECT_EQ(status("-monitor", bad), CommandLine::Status::Usage) << bad;
  }
  for (const char* bad : {"640x480", "640x480+1", "0x480+0+0", "6x4+-1+0", "640x480+0+0+1",
                          "99999999999x1+0+0", "+6x4+0+0"}) {
    EXPECT_EQ(status("-region", bad), CommandLine::Status::Usage) << bad;
  }
  const char* missing[] = {"qcsend", "-region"};
  EXPECT_EQ(ParseArguments(2, missing).status, CommandLine::Status::Usage);
}

TEST(SenderCommandLineTest, CaptureChoice) {
  auto parse = [](const char* value) {
    const char* argv[] = {"qcsend", "--capture", value, "-start"};
    return ParseArguments(4, argv);
  };
  EXPECT_EQ(parse("wlr").capture, CaptureBackend::Wlr);
  EXPECT_TRUE(parse("wlr").start);
  EXPECT_EQ(parse("x11").capture, CaptureBackend::X11);
  EXPECT_EQ(parse("portal").capture, CaptureBackend::Portal);
  for (const char* bad : {"", "X11", "pipewire", "wayland"}) {
    EXPECT_EQ(parse(bad).status, CommandLine::Status::Usage) << bad;
  }
  const char* none[] = {"qcsend"};
  EXPECT_EQ(ParseArguments(1, none).capture, CaptureBackend::Auto);

  // Forced wins; a Wayland session takes wlr-screencopy when the
  // compositor has it, else the portal, else XWayland's X11 (said so).
  // Probes run only where the answer matters.
  std::string probed;
  auto probe = [&probed](const char* name, bool has) {
    return [&probed, name, has] {
      probed += name;
      return has;
    };
  };
  auto choose = [&](CaptureBackend forced, const SessionEnvironment& env, bool wlr,
                    bool portal) {
    probed.clear();
    return ChooseCapture(forced, env, probe("w", wlr), probe("p", portal));
  };
  const SessionEnvironment x11{"x11", true, true};
  const SessionEnvironment wayland{"wayland", true, true};
  const SessionEnvironment bareWayland{"", false, true};
  EXPECT_EQ(choose(CaptureBackend::Auto, x11, true, true).backend, CaptureBackend::X11);
  EXPECT_EQ(probed, "");
  EXPECT_EQ(choose(CaptureBackend::Auto, SessionEnvironment{"", true, false}, true, true).backend,
            CaptureBackend::X11);
  EXPECT_EQ(choose(CaptureBackend::Wlr, x11, false, false).backend, CaptureBackend::Wlr);
  EXPECT_EQ(choose(CaptureBackend::Portal, x11, false, false).backend, CaptureBackend::Portal);
  EXPECT_EQ(choose(CaptureBackend::X11, wayland, true, true).backend, CaptureBackend::X11);
  EXPECT_EQ(probed, "");
  EXPECT_EQ(choose(CaptureBackend::Auto, wayland, true, true).backend, CaptureBackend::Wlr);
  EXPECT_EQ(probed, "w");
  EXPECT_EQ(choose(CaptureBackend::Auto, bareWayland, false, true).backend,
            CaptureBackend::Portal);
  EXPECT_EQ(probed, "wp");
  CaptureChoice xwayland = choose(CaptureBackend::Auto, wayland, false, false);
  EXPECT_EQ(xwayland.backend, CaptureBackend::X11);
  EXPECT_NE(xwayland.reason.find("XWayland"), std::string::npos);
  EXPECT_EQ(choose(CaptureBackend::Auto, bareWayland, false, false).backend,
            CaptureBackend::Portal);
}

TEST(ShareAreaTest, ResolvesTheChoiceOnTheScreen) {
  const std::vector<MonitorInfo> two = {{"A", {0, 0, 2560, 1440}, false},
                                        {"B", {2560, 0, 1920, 1080}, true}};
  struct Case {
    const char* name;
    int screenW, screenH;
    AreaChoice choice;
    ScreenRect area;
    bool fellBack;
  } cases[] = {
      {"whole screen", 1920, 1080, {0, {}}, {0, 0, 1920, 1080}, false},
      {"second monitor", 4480, 1440, {2, {}}, {2560, 0, 1920, 1080}, false},
      {"gone monitor: primary", 4480, 1440, {3, {}}, {2560, 0, 1920, 1080}, true},
      {"too wide: primary", 4480, 1440, {0, {}}, {2560, 0, 1920, 1080}, true},
      {"region wins, clipped", 4480, 1440, {1, {4000, 1000, 800, 800}}, {4000, 1000, 480, 440},
       false},
      {"region off the screen", 1920, 1080, {0, {5000, 0, 10, 10}}, {}, false},
  };
  for (const Case& c : cases) {
    ResolvedArea r = ResolveArea(c.screenW, c.screenH, two, c.choice, 4096, 32767);
    EXPECT_EQ(r.rect, c.area) << c.name;
    EXPECT_EQ(r.fellBack, c.fellBack) << c.name;
  }
  // One monitor for everything: its part the wire can address.
  EXPECT_EQ(ResolveArea(5000, 100, {{"S", {0, 0, 5000, 100}, false}}, {}, 4096, 32767).rect,
            (ScreenRect{0, 0, 4096, 100}));
  EXPECT_EQ(MonitorLabel(two[1]), "B (1920x1080)");
}

}  // namespace
}  // namespace qc
