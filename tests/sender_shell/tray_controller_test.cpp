// The tray controller's state machine through its view, with a fake engine
// and the real transport and listen thread inside the test's private
// network namespace; and the settings dialog's rules applied to it.
#include "sender/shell/tray_controller.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "common/log_file.h"
#include "platform/settings_file.h"
#include "platform/udp_socket.h"
#include "sender/shell/settings_dialog_logic.h"
#include "tests/sender_shell/fakes.h"

namespace qc {
namespace {

using test::FakeAcceleration;
using test::FakeEngine;
using test::FakeView;
using State = qcTray::State;

class TrayTest : public testing::Test {
 protected:
  TrayTest() {
    char tmpl[] = "/tmp/qc-tray-XXXXXX";
    dir_ = mkdtemp(tmpl);
    file_ = std::make_unique<SettingsFile>(dir_ + "/Quillcast/Vorazudud.conf");
    tray_ = std::make_unique<qcTray>(view_, *file_, accel_, [this] {
      auto engine = std::make_unique<FakeEngine>();
      engine_ = engine.get();
      return engine;
    });
  }
  ~TrayTest() override {
    tray_->Shutdown();
    tray_.reset();
    Log().Enable(false);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }

  void Init(bool start = false, int port = 0) { ASSERT_TRUE(tray_->Init(start, port)); }

  // Drains posted work until cond holds; the guard only stops a hang.
  template <typename Cond>
  bool Eventually(Cond cond) {
    for (int i = 0; i < 2000; ++i) {
      view_.Drain();
      if (cond()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  void StartAndEndCheck() {
    tray_->OnCommand(ID_START_TRANSMISSION);
    tray_->OnTimer(TimerId::StartCheck);
    ASSERT_EQ(tray_->CurrentState(), State::Transmitting);
  }

  void SendTo(uint16_t port, std::vector<uint8_t> bytes) {
    UdpSocket s;
    ASSERT_TRUE(s.Create());
    SocketAddress to;
    ASSERT_TRUE(SocketAddress::FromDotted(kGroupAddress, port, to));
    ASSERT_TRUE(s.SendTo(bytes.data(), bytes.size(), to));
  }

  std::string dir_;
  FakeView view_;
  FakeAcceleration accel_;
  std::unique_ptr<SettingsFile> file_;
  FakeEngine* engine_ = nullptr;
  std::unique_ptr<qcTray> tray_;
};

TEST_F(TrayTest, InitShowsTheIdleIconAndRegistersBothHotkeys) {
  Init();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_EQ(view_.tip, "Quillcast - Idle");
  EXPECT_EQ(view_.iconIndex, 0);
  EXPECT_EQ(view_.menu, TrayMenu{});
  EXPECT_EQ(view_.menu.first, ID_START_TRANSMISSION);
  EXPECT_FALSE(view_.menu.pauseEnabled);
  EXPECT_FALSE(view_.menu.fullUpdateEnabled);
  EXPECT_EQ(view_.hotkeys.at(0), 0x047Bu);
  EXPECT_EQ(view_.hotkeys.at(1), 0x047Au);
  EXPECT_EQ(view_.timers.at(TimerId::FullUpdate), 15000);
  EXPECT_EQ(view_.timers.at(TimerId::KeepAlive), 700);
  EXPECT_TRUE(tray_->Sender().IsOpen());
  EXPECT_EQ(view_.PostedCount(), 0u);  // no -start
}

TEST_F(TrayTest, StartChecksThenTransmits) {
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  EXPECT_EQ(view_.tip, "Quillcast - Starting");
  EXPECT_EQ(view_.iconIndex, 1);
  EXPECT_TRUE(view_.startingVisible);
  EXPECT_EQ(view_.timers.at(TimerId::StartCheck), 1500);
  EXPECT_EQ(view_.menu.first, ID_START_TRANSMISSION);

  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_FALSE(view_.TimerRunning(TimerId::StartCheck));
  EXPECT_FALSE(view_.startingVisible);
  EXPECT_EQ(view_.startingClosed, 1);
  EXPECT_EQ(view_.menu.first, ID_STOP_TRANSMISSION);
  EXPECT_TRUE(view_.menu.pauseEnabled);
  EXPECT_TRUE(view_.menu.fullUpdateEnabled);
  EXPECT_TRUE(engine_->polling);
  EXPECT_EQ(view_.timers.at(TimerId::Poll), 10 / 4);
  EXPECT_TRUE(view_.messages.empty());

  // The tip follows at the first datagram sent.
  tray_->AdvanceIcon();
  tray_->AdvanceIcon();  // coalesced into one refresh
  EXPECT_EQ(view_.Drain(), 1);
  EXPECT_EQ(view_.tip, "Quillcast - Transmitting");
  EXPECT_EQ(view_.iconIndex, 3);
  tray_->AdvanceIcon();
  view_.Drain();
  EXPECT_EQ(view_.iconIndex, 0);  // frames 0-3 cycle
}

TEST_F(TrayTest, PauseAndResume) {
  Init();
  StartAndEndCheck();
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Paused);
  EXPECT_EQ(view_.tip, "Quillcast - Paused");
  EXPECT_EQ(view_.iconIndex, 4);
  EXPECT_TRUE(view_.menu.pauseChecked);
  EXPECT_TRUE(view_.menu.pauseEnabled);
  EXPECT_FALSE(view_.menu.fullUpdateEnabled);
  EXPECT_EQ(view_.menu.first, ID_STOP_TRANSMISSION);
  EXPECT_FALSE(engine_->polling);
  EXPECT_FALSE(view_.TimerRunning(TimerId::Poll));
  // Datagrams while paused (keep-alives) keep the paused icon.
  tray_->AdvanceIcon();
  view_.Drain();
  EXPECT_EQ(view_.iconIndex, 4);

  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_EQ(view_.iconIndex, 0);  // the frame after the paused icon is frame 0
  EXPECT_FALSE(view_.menu.pauseChecked);
  EXPECT_TRUE(view_.menu.fullUpdateEnabled);
  EXPECT_TRUE(engine_->polling);
}

TEST_F(TrayTest, StopFromTransmittingAndFromPaused) {
  Init();
  StartAndEndCheck();
  tray_->AdvanceIcon();
  view_.Drain();
  int frame = view_.iconIndex;
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_EQ(view_.tip, "Quillcast - Idle");
  EXPECT_EQ(view_.iconIndex, frame);
  EXPECT_EQ(engine_->disconnections, 1);
  EXPECT_EQ(view_.menu.first, ID_START_TRANSMISSION);
  EXPECT_FALSE(view_.menu.pauseEnabled);
  EXPECT_FALSE(view_.menu.fullUpdateEnabled);

  StartAndEndCheck();
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_FALSE(engine_->paused);
  EXPECT_FALSE(view_.menu.pauseChecked);
  EXPECT_EQ(engine_->disconnections, 2);
}

TEST_F(TrayTest, HotkeysFollowTheState) {
  Init();
  tray_->OnHotKey(1);  // pause while idle: nothing
  EXPECT_EQ(view_.PostedCount(), 0u);
  tray_->OnHotKey(0);  // start/stop while idle: Start, posted
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  view_.Drain();
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  tray_->OnTimer(TimerId::StartCheck);
  tray_->OnHotKey(1);
  view_.Drain();
  EXPECT_EQ(tray_->CurrentState(), State::Paused);
  tray_->OnHotKey(0);  // start/stop while paused stops, it does not resume
  view_.Drain();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
}

TEST_F(TrayTest, DoubleClickStartsWhenIdleAndStopsOtherwise) {
  Init();
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  tray_->OnTimer(TimerId::StartCheck);
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  StartAndEndCheck();
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
}

TEST_F(TrayTest, StartFlagStartsTheCheckOnceTheLoopRuns) {
  Init(true);
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_EQ(view_.Drain(), 1);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
}

TEST_F(TrayTest, StartDuringARunningCheckIsIgnored) {
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnHotKey(0);
  view_.Drain();
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(view_.startingShown, 1);
  EXPECT_EQ(view_.iconIndex, 1);
  // The check ends as usual and requests are heard on P + 1.
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  engine_->refreshWanted = false;
  SendTo(kDefaultPort + 1, {0xF8, 0xFF});
  EXPECT_TRUE(Eventually([&] { return engine_->refreshWanted.load(); }));
  // A stale Start while transmitting changes nothing either.
  tray_->OnCommand(ID_START_TRANSMISSION);
  EXPECT_EQ(view_.startingShown, 1);
}

TEST_F(TrayTest, AnotherTransmitterPreventsTheStart) {
  // lo's 127.0.0.1 has host scope, which multicast source selection skips;
  // a global documentation address gives the datagram a source to name.
  std::system("ip addr add 192.0.2.7/32 dev lo 2>/dev/null");
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  SendTo(kDefaultPort, {0xF7, 0xFF, 1, 2});
  ASSERT_TRUE(Eventually([&] { return !view_.messages.empty(); }));
  EXPECT_EQ(view_.messages[0].caption, "Quillcast Error");
  EXPECT_EQ(view_.messages[0].text,
            "Another transmitter detected at IP 192.0.2.7, port 5982.\nThere must be exactly one "
            "program transmitting on a particular port.");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::Error);
  EXPECT_FALSE(view_.startingVisible);  // hidden, not closed
  EXPECT_EQ(view_.startingClosed, 0);

  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  EXPECT_EQ(view_.tip, "Quillcast - Starting");
  EXPECT_EQ(view_.menu.first, ID_START_TRANSMISSION);
  EXPECT_FALSE(engine_->polling);

  // The next Start begins a new check, which ends well.
  tray_->OnCommand(ID_START_TRANSMISSION);
  EXPECT_TRUE(view_.startingVisible);
  EXPECT_EQ(view_.startingShown, 2);
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_EQ(view_.messages.size(), 1u);
}

TEST_F(TrayTest, RequestWhileIdleAfterStopSetsRefreshWanted) {
  Init();
  StartAndEndCheck();
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  engine_->refreshWanted = false;
  SendTo(kDefaultPort + 1, {0xF8});  // 1 byte: ignored
  SendTo(kDefaultPort + 1, {0xF8, 0xFF});
  EXPECT_TRUE(Eventually([&] { return engine_->refreshWanted.load(); }));
}

TEST_F(TrayTest, WarningBoxGraysStartAndQuitAndIgnoresTheHotkeyStart) {
  Init();
  UdpSocket squatter;  // holds P + 1, so the request socket cannot bind
  ASSERT_TRUE(squatter.Create());
  ASSERT_TRUE(squatter.Bind(kDefaultPort + 1));
  bool checked = false;
  view_.whileMessageOpen = [&](const test::ShownMessage& m) {
    EXPECT_EQ(m.caption, "Quillcast Warning");
    EXPECT_EQ(
        m.text,
        "Cannot listen for data packets on UDP port 5983.\nThis is not a fatal error but data "
        "transmission may be unreliable.");
    EXPECT_EQ(m.icon, MessageIcon::Warning);
    EXPECT_FALSE(view_.menu.startEnabled);
    EXPECT_FALSE(view_.menu.quitEnabled);
    tray_->OnHotKey(0);
    view_.Drain();
    EXPECT_EQ(view_.startingShown, 1);  // the Start was ignored
    checked = true;
  };
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(view_.menu.quitEnabled);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);  // it starts anyway
}

TEST_F(TrayTest, PortAndAccelerationChangesWaitForStopWhileTransmitting) {
  Init();
  StartAndEndCheck();
  view_.settingsAction = [](qcTray& t) {
    t.SetPort(6000);
    t.SetDisableAcceleration(true);
  };
  tray_->OnCommand(ID_SETTINGS);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "Quillcast Information");
  EXPECT_EQ(view_.messages[0].text,
            "Some of the changed settings will take effect\nonly after stopping and restarting the "
            "transmission.");
  EXPECT_EQ(view_.messages[0].icon, MessageIcon::Information);
  EXPECT_EQ(accel_.writes, 0);
  EXPECT_TRUE(tray_->PortChangePending());

  view_.settingsAction = nullptr;
  tray_->OnCommand(ID_SETTINGS);  // shown again until Stop
  EXPECT_EQ(view_.messages.size(), 2u);

  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_FALSE(tray_->PortChangePending());
  EXPECT_FALSE(tray_->AccelerationChangePending());
  EXPECT_EQ(accel_.level, 5);
  EXPECT_TRUE(tray_->Sender().IsOpen());
  tray_->OnCommand(ID_SETTINGS);
  EXPECT_EQ(view_.messages.size(), 2u);

  // The new port is checked and served.
  StartAndEndCheck();
  engine_->refreshWanted = false;
  SendTo(6001, {0xF8, 0xFF});
  EXPECT_TRUE(Eventually([&] { return engine_->refreshWanted.load(); }));
}

TEST_F(TrayTest, ChangesWhileIdleApplyAtOnce) {
  Init();
  view_.settingsAction = [](qcTray& t) {
    t.SetPort(6000);
    t.SetDisableAcceleration(true);
  };
  tray_->OnCommand(ID_SETTINGS);
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(accel_.level, 5);
  EXPECT_EQ(tray_->Settings().port, 6000);
  EXPECT_FALSE(tray_->PortChangePending());
  // The acceleration is restored at shutdown.
  tray_->Shutdown();
  EXPECT_EQ(accel_.level, 0);
}

TEST_F(TrayTest, AccelerationIsRestoredAtExitEvenWithTheSwitchOffPending) {
  SettingsFile f(file_->Path());
  f.Write("DisableVideoAcceleration", 1);
  ASSERT_TRUE(f.Save());
  accel_.level = 2;
  Init();
  EXPECT_EQ(accel_.level, 5);  // off for the whole run
  StartAndEndCheck();
  tray_->SetDisableAcceleration(false);  // pending until Stop
  EXPECT_TRUE(tray_->AccelerationChangePending());
  tray_->OnCommand(ID_QUIT);
  tray_->Shutdown();
  EXPECT_EQ(accel_.level, 2);
}

TEST_F(TrayTest, FailedInitPutsTheAccelerationBack) {
  SettingsFile f(file_->Path());
  f.Write("DisableVideoAcceleration", 1);
  ASSERT_TRUE(f.Save());
  accel_.level = 0;
  tray_ = std::make_unique<qcTray>(view_, *file_, accel_, [] {
    auto e = std::make_unique<FakeEngine>();
    e->initResult = false;
    return e;
  });
  EXPECT_FALSE(tray_->Init(false, 0));
  EXPECT_EQ(accel_.level, 5);
  tray_->AbortInit();
  EXPECT_EQ(accel_.level, 0);
}

TEST_F(TrayTest, UpdatePeriodTakesEffectInEveryState) {
  Init();
  tray_->SetUpdatePeriod(40);
  EXPECT_EQ(engine_->pollTimerRestarts, 1);
  EXPECT_EQ(tray_->UpdatePeriod(), 40);
  StartAndEndCheck();
  EXPECT_EQ(view_.timers.at(TimerId::Poll), 10);
  tray_->SetUpdatePeriod(100);
  EXPECT_EQ(engine_->pollTimerRestarts, 2);
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  tray_->SetUpdatePeriod(200);
  EXPECT_EQ(engine_->pollTimerRestarts, 3);
}

TEST_F(TrayTest, HotkeySetterUnregistersAndRegisters) {
  Init();
  tray_->SetHotKey(0, 0x047B, false);
  EXPECT_EQ(view_.hotkeys.count(0), 0u);
  EXPECT_FALSE(tray_->Settings().enableHotkeyStart);
  tray_->SetHotKey(0, 0x0341, true);  // Control+Shift+A
  EXPECT_EQ(view_.hotkeys.at(0), 0x0341u);
  EXPECT_EQ(tray_->Settings().hotkeyStart, 0x0341u);
  tray_->Shutdown();
  EXPECT_TRUE(view_.hotkeys.empty());
  EXPECT_TRUE(view_.trayRemoved);
}

TEST_F(TrayTest, DisabledHotkeysAreNotRegisteredAtStart) {
  SettingsFile f(file_->Path());
  f.Write("EnableHotkeyPause", 0);
  f.Write("HotkeyStart", 0x0270);
  ASSERT_TRUE(f.Save());
  Init();
  EXPECT_EQ(view_.hotkeys.count(1), 0u);
  EXPECT_EQ(view_.hotkeys.at(0), 0x0270u);
}

TEST_F(TrayTest, SecondFatalErrorShowsNoSecondBox) {
  Init();
  std::thread other([this] { tray_->FatalError(); });
  other.join();
  tray_->FatalError();
  view_.Drain();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].caption, "Quillcast Error");
  EXPECT_EQ(view_.messages[0].text, "Fatal error. See the log file (Quillcast.log) for details.");
  EXPECT_EQ(view_.quits, 1);
}

TEST_F(TrayTest, QuitWhileStartingEndsNormallyAndSilencesFatalErrors) {
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnCommand(ID_QUIT);
  EXPECT_EQ(view_.quits, 1);
  EXPECT_TRUE(tray_->Closing());
  tray_->FatalError();
  view_.Drain();
  EXPECT_TRUE(view_.messages.empty());
  tray_->Shutdown();
  EXPECT_FALSE(view_.startingVisible);
  EXPECT_FALSE(view_.TimerRunning(TimerId::StartCheck));
}

TEST_F(TrayTest, DialogsOpenOnceAndTheUpdatePageOnlyFromTheAboutButton) {
  Init();
  view_.settingsAction = [&](qcTray& t) { t.OnCommand(ID_SETTINGS); };
  tray_->OnCommand(ID_SETTINGS);
  EXPECT_EQ(view_.settingsRuns, 1);
  view_.aboutAction = [] { return 2; };
  tray_->OnCommand(ID_ABOUT);
  EXPECT_TRUE(view_.urls.empty());
  view_.aboutAction = [&] {
    tray_->OnCommand(ID_ABOUT);  // while open: no second box
    return 1000;
  };
  tray_->OnCommand(ID_ABOUT);
  EXPECT_EQ(view_.aboutRuns, 2);
  ASSERT_EQ(view_.urls.size(), 1u);
  EXPECT_NE(view_.urls[0].find("/vorazudud/updates/?ver=1.1.0"), std::string::npos);
  EXPECT_EQ(view_.urls[0].rfind("http://", 0), 0u);
}

TEST_F(TrayTest, FailedTrayIconUpdateIsOnlyLoggedAndFullUpdateRequestsARefresh) {
  view_.trayWorks = false;
  Init();
  StartAndEndCheck();
  engine_->refreshWanted = false;
  tray_->OnCommand(ID_SEND_FULL_UPDATE);
  EXPECT_TRUE(engine_->refreshWanted);
}

// ---- the settings dialog's rules on a running controller ------------------

class SettingsDialogTest : public TrayTest {
 protected:
  SettingsDialogValues Values(const std::string& port) {
    SettingsDialogValues v;
    v.portText = port;
    const SenderSettings& s = tray_->Settings();
    v.disableAcceleration = s.disableAcceleration;
    v.logging = Log().IsEnabled();
    v.hotkeyStart = s.hotkeyStart;
    v.enableHotkeyStart = s.enableHotkeyStart;
    v.hotkeyPause = s.hotkeyPause;
    v.enableHotkeyPause = s.enableHotkeyPause;
    return v;
  }
};

TEST_F(SettingsDialogTest, InvalidPortsAreCorrectedThenAppliedWithASecondOk) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  auto answer = dialog.OnOk(Values("6001"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->text, "6002");
  EXPECT_STREQ(answer->message, kInvalidPortDialogText);
  EXPECT_EQ(tray_->Settings().port, 5982);  // nothing applied
  SettingsFile stored(file_->Path());
  EXPECT_FALSE(stored.Load());  // nothing saved

  EXPECT_FALSE(dialog.OnOk(Values(answer->text)));
  EXPECT_EQ(tray_->Settings().port, 6002);
  ASSERT_TRUE(stored.Load());
  EXPECT_EQ(stored.Read("MulticastPort"), 6002u);
  EXPECT_EQ(stored.Read("EnableLogging"), 0u);

  // Out of range: the nearest end.
  EXPECT_EQ(dialog.OnOk(Values("80"))->text, "1024");
  EXPECT_EQ(dialog.OnOk(Values("70000"))->text, "65534");
  EXPECT_EQ(dialog.OnOk(Values(""))->text, "1024");
}

TEST_F(SettingsDialogTest, SpinsAndPeriodBox) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  EXPECT_EQ(dialog.Port(), 5982);
  EXPECT_EQ(dialog.UpdatePeriod(), 10);
  BoxUpdate up = dialog.OnPortSpin("6001", true);
  EXPECT_EQ(up.text, "6004");
  EXPECT_EQ(up.message, nullptr);
  EXPECT_EQ(dialog.OnPortSpin("1024", false).text, "1024");

  BoxUpdate low = dialog.OnPeriodSpin("5", false);
  EXPECT_EQ(low.text, "5");
  EXPECT_STREQ(low.message, kInvalidPeriodText);
  EXPECT_EQ(dialog.OnPeriodSpin("45", true).text, "50");
  EXPECT_EQ(dialog.OnPeriodSpin("300", false).text, "250");

  auto typed = dialog.OnPeriodFocusLost("3");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->text, "5");
  EXPECT_STREQ(typed->message, kInvalidPeriodText);
  EXPECT_FALSE(dialog.OnPeriodFocusLost("40"));
  EXPECT_EQ(dialog.UpdatePeriod(), 40);

  // OK applies the stored period, not the box.
  EXPECT_FALSE(dialog.OnOk(Values("5982")));
  EXPECT_EQ(tray_->Settings().updatePeriod, 40);
  EXPECT_EQ(engine_->pollTimerRestarts, 1);
}

TEST_F(SettingsDialogTest, OkAppliesOnlyChangesAndSavesEverything) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  SettingsDialogValues v = Values("5982");
  v.enableHotkeyStart = false;
  v.logging = true;
  EXPECT_FALSE(dialog.OnOk(v));
  EXPECT_EQ(view_.hotkeys.count(0), 0u);
  EXPECT_EQ(view_.hotkeys.at(1), 0x047Au);
  EXPECT_TRUE(Log().IsEnabled());
  EXPECT_EQ(engine_->pollTimerRestarts, 0);
  SettingsFile stored(file_->Path());
  ASSERT_TRUE(stored.Load());
  for (const char* name :
       {"MulticastPort", "UpdatePeriod", "DisableVideoAcceleration", "HotkeyStart", "HotkeyPause",
        "EnableHotkeyStart", "EnableHotkeyPause", "EnableLogging"}) {
    EXPECT_TRUE(stored.Read(name)) << name;
  }
  EXPECT_EQ(stored.Read("EnableHotkeyStart"), 0u);
  EXPECT_EQ(stored.Read("EnableLogging"), 1u);
}

TEST_F(SettingsDialogTest, CommandLinePortIsAppliedButNotStored) {
  Init(false, 7000);
  tray_->SetPortFromCommandLine();
  EXPECT_EQ(tray_->Settings().port, 7000);
  qcSettings dialog(*tray_);
  dialog.Open();
  EXPECT_EQ(dialog.OnPortSpin("7000", true).text, "7002");
  EXPECT_FALSE(dialog.OnOk(Values("7002")));
  EXPECT_EQ(tray_->Settings().port, 7002);
  SettingsFile stored(file_->Path());
  ASSERT_TRUE(stored.Load());
  EXPECT_FALSE(stored.Read("MulticastPort"));
  EXPECT_EQ(stored.Read("UpdatePeriod"), 10u);
}

}  // namespace
}  // namespace qc
