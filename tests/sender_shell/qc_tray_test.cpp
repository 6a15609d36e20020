// SPDX-License-Identifier: GPL-3.0-or-later
// The tray controller's state machine through its view, with a fake engine
// and the real transport and listen thread inside the test's private
// network namespace; and the settings dialog's rules applied to it.
#include "sender/shell/qc_tray.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/log_file.h"
#include "platform/settings_file.h"
#include "sender/shell/settings_dialog_logic.h"
#include "tests/sender_shell/fakes.h"
#include "tests/support/group_socket.h"
#include "tests/support/private_network.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

using test::FakeEngine;
using State = qcTray::State;
using Hotkeys = std::map<int, uint32_t>;

class TrayTest : public testing::Test {
 protected:
  TrayTest() { MakeTray(true); }
  ~TrayTest() override {
    tray_->Shutdown();
    Log().Enable(false);
  }
  void MakeTray(bool engineStarts) {
    tray_ = std::make_unique<qcTray>(ui_, view_, file_, accel_, [this, engineStarts] {
      auto engine = std::make_unique<FakeEngine>();
      engine->initResult = engineStarts;
      engine_ = engine.get();
      ++enginesMade_;
      return engine;
    });
  }
  void Init(bool start = false) { ASSERT_TRUE(tray_->Init(start, 0)); }
  void Store(const char* name, int value) {
    SettingsFile f(file_.Path());
    f.Load();
    f.Write(name, value);
    ASSERT_TRUE(f.Save());
  }
  std::optional<uint32_t> Stored(const char* name) {
    SettingsFile f(file_.Path());
    return f.Load() ? f.Read(name) : std::nullopt;
  }
  void StartAndEndCheck() {
    tray_->OnCommand(ID_START_TRANSMISSION);
    ui_.Tick(TimerId::StartCheck);
    ASSERT_EQ(tray_->CurrentState(), State::Transmitting);
  }
  // Runs posted work until cond holds; the guard only stops a hang.
  template <typename Cond>
  bool Eventually(Cond cond) {
    for (int i = 0; i < 2000 && !cond(); ++i) {
      ui_.RunPosted();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return cond();
  }
  // An update request to port reaches the engine.
  bool RequestServed(uint16_t port) {
    int before = engine_->refreshes;
    return peer_.Send(port, {0xF8, 0xFF}) &&
           Eventually([&] { return engine_->refreshes > before; });
  }

  test::TempDir dir_;
  test::FakeUiServices ui_;
  test::FakeView view_;
  test::FakeAcceleration accel_;
  SettingsFile file_{dir_.Path() + "/Quillcast/Vorazudud.conf"};
  test::GroupSocket peer_;
  FakeEngine* engine_ = nullptr;
  int enginesMade_ = 0;
  std::unique_ptr<qcTray> tray_;
};

TEST_F(TrayTest, ShareMenuListsTheMonitorsAndAChangeRestartsTheTransmissionOnTheNewArea) {
  Store("Monitor", 2);
  tray_->SetMonitorLister([] {
    return std::vector<MonitorInfo>{{"DP-1", {0, 0, 1920, 1080}, true},
                                    {"HDMI-1", {1920, 0, 1280, 720}, false}};
  });
  Init();
  EXPECT_EQ(view_.menu.monitors,
            (std::vector<std::string>{"DP-1 (1920x1080)", "HDMI-1 (1280x720)"}));
  EXPECT_EQ(view_.menu.shared, 2);
  StartAndEndCheck();
  tray_->SetMonitor(2);  // the same area: nothing restarts
  EXPECT_EQ(enginesMade_, 1);

  tray_->SetMonitor(1);
  EXPECT_EQ(enginesMade_, 2);
  EXPECT_EQ(tray_->ShareChoice().monitor, 1);
  EXPECT_TRUE(engine_->polling && tray_->CurrentState() == State::Transmitting);
  EXPECT_EQ(view_.menu.shared, 1);
  EXPECT_TRUE(RequestServed(kDefaultPort + 1));  // the new engine serves requests
  tray_->SaveSettings();
  EXPECT_EQ(Stored("Monitor"), 1u);

  // Idle, a change only makes the engine anew.
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  tray_->SetMonitor(0);
  EXPECT_EQ(enginesMade_, 3);
  EXPECT_TRUE(tray_->CurrentState() == State::Idle && view_.menu.shared == 0);
}

TEST_F(TrayTest, CommandLineAreaIsSharedButNotStored) {
  Store("Monitor", 2);
  tray_->SetAreaFromCommandLine(1, {10, 20, 300, 200});
  Init();
  EXPECT_EQ(tray_->ShareChoice().monitor, 1);
  EXPECT_EQ(tray_->ShareChoice().region, (ScreenRect{10, 20, 300, 200}));
  // A region is none of the menu's items; without a lister only the whole
  // screen is listed.
  EXPECT_TRUE(view_.menu.shared == -1 && view_.menu.monitors.empty());
  tray_->SaveSettings();
  EXPECT_EQ(Stored("Monitor"), 2u);
}

TEST_F(TrayTest, InitShowsTheIdleIconRegistersTheHotkeysAndStartsTheEngineTimers) {
  Init();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_EQ(view_.tip, "Quillcast - Idle");
  EXPECT_EQ(view_.iconIndex, 0);
  EXPECT_EQ(view_.menu, TrayMenu{});
  EXPECT_EQ(ui_.hotkeys, (Hotkeys{{0, 0x047B}, {1, 0x047A}}));
  EXPECT_EQ(ui_.TimerMs(TimerId::KeepAlive), 700);
  EXPECT_EQ(ui_.PostedCount(), 0u);  // no -start

  tray_->SetHotKey(1, 0x0341, true);  // Control+Shift+A
  EXPECT_EQ(ui_.hotkeys, (Hotkeys{{0, 0x047B}, {1, 0x0341}}));
  tray_->Shutdown();
  EXPECT_TRUE(ui_.hotkeys.empty());
  EXPECT_TRUE(view_.trayRemoved);
}

TEST_F(TrayTest, StartChecksThenTransmits) {
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  EXPECT_EQ(view_.tip, "Quillcast - Starting");
  EXPECT_EQ(view_.iconIndex, 1);
  EXPECT_TRUE(view_.startingVisible);
  EXPECT_EQ(ui_.TimerMs(TimerId::StartCheck), 1500);

  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_FALSE((ui_.TimerMs(TimerId::StartCheck) != -1));
  EXPECT_EQ(view_.startingClosed, 1);
  EXPECT_EQ(view_.menu.first, ID_STOP_TRANSMISSION);
  EXPECT_TRUE(view_.menu.pauseEnabled && view_.menu.fullUpdateEnabled);
  EXPECT_TRUE(engine_->polling);

  // The tip follows at the first datagram sent; frames 0-3 cycle.
  tray_->AdvanceIcon();
  tray_->AdvanceIcon();  // coalesced into one refresh
  EXPECT_EQ(ui_.RunPosted(), 1);
  EXPECT_EQ(view_.tip, "Quillcast - Transmitting");
  EXPECT_EQ(view_.iconIndex, 3);
  tray_->AdvanceIcon();
  ui_.RunPosted();
  EXPECT_EQ(view_.iconIndex, 0);
  tray_->OnCommand(ID_SEND_FULL_UPDATE);
  EXPECT_EQ(engine_->refreshes, 1);
}

TEST_F(TrayTest, PauseResumeAndStop) {
  Init();
  StartAndEndCheck();
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  EXPECT_EQ(view_.tip, "Quillcast - Paused");
  EXPECT_EQ(view_.iconIndex, 4);
  EXPECT_TRUE(view_.menu.pauseChecked);
  EXPECT_FALSE(view_.menu.fullUpdateEnabled);
  EXPECT_FALSE(engine_->polling);
  tray_->AdvanceIcon();  // keep-alives while paused keep the paused icon
  ui_.RunPosted();
  EXPECT_EQ(view_.iconIndex, 4);

  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_EQ(view_.iconIndex, 0);  // the frame after the paused icon
  EXPECT_TRUE(engine_->polling);

  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_EQ(view_.tip, "Quillcast - Idle");
  EXPECT_EQ(engine_->disconnections, 1);
  EXPECT_EQ(view_.menu, TrayMenu{});

  StartAndEndCheck();  // stop from paused
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  EXPECT_FALSE(engine_->paused);
  EXPECT_EQ(engine_->disconnections, 2);
}

TEST_F(TrayTest, HotkeysDoubleClickAndTheStartFlagFollowTheState) {
  Init(/*start=*/true);
  EXPECT_EQ(tray_->CurrentState(), State::Idle);  // -start once the loop runs
  EXPECT_EQ(ui_.RunPosted(), 1);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  tray_->OnTimer(TimerId::StartCheck);

  ui_.Press(HotKey::Pause);  // posted
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  ui_.RunPosted();
  EXPECT_EQ(tray_->CurrentState(), State::Paused);
  ui_.Press(HotKey::StartStop);  // while paused it stops, it does not resume
  ui_.RunPosted();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
  ui_.Press(HotKey::Pause);  // while idle: nothing
  EXPECT_EQ(ui_.PostedCount(), 0u);

  tray_->OnTrayDoubleClick();
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  tray_->OnTimer(TimerId::StartCheck);
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(tray_->CurrentState(), State::Idle);
}

TEST_F(TrayTest, StartDuringARunningCheckIsIgnoredAndRequestsAreServedUntilTheNextStart) {
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnHotKey(0);
  ui_.RunPosted();
  tray_->OnTrayDoubleClick();
  EXPECT_EQ(view_.startingShown, 1);
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_TRUE(RequestServed(kDefaultPort + 1));
  tray_->OnCommand(ID_START_TRANSMISSION);  // a stale Start while transmitting
  EXPECT_EQ(view_.startingShown, 1);
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_TRUE(RequestServed(kDefaultPort + 1));  // also while idle after a Stop
}

TEST_F(TrayTest, AnotherTransmitterPreventsTheStartEvenWithALocalReceiverOnThePort) {
  test::AddTestSourceAddress();
  test::GroupSocket localReceiver(kDefaultPort);  // shares the port with the check
  ASSERT_TRUE(localReceiver.Ok());
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  // Noise is no transmitter: junk, a request, a cut init, a keep-alive of
  // the wrong length, an update whose data is no zlib stream.
  for (const std::vector<uint8_t>& junk :
       {std::vector<uint8_t>{0x12, 0x34, 0x56}, {0xF8, 0xFF}, {0xFF, 0xFF, 1, 2, 0x40, 1, 0x30},
        {0xF7, 0xFF, 1, 2, 3}, {0xFC, 0xFF, 1, 2, 0, 0, 0, 0, 0x12, 0x34, 0x56}}) {
    ASSERT_TRUE(peer_.Send(kDefaultPort, junk));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_TRUE(peer_.Send(kDefaultPort, {0xF7, 0xFF, 1, 2}));  // another sender's keep-alive
  ASSERT_TRUE(Eventually([&] { return !ui_.messages.empty(); }));
  ui_.ExpectMessage(0, "Quillcast Error",
                      "Another transmitter detected at IP 192.0.2.7, port 5982.\nThere must be "
                      "exactly one program transmitting on a particular port.",
                      MessageIcon::Error);
  EXPECT_FALSE(view_.startingVisible);  // hidden, not closed
  EXPECT_EQ(view_.startingClosed, 0);

  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Starting);
  EXPECT_EQ(view_.menu.first, ID_START_TRANSMISSION);
  EXPECT_FALSE(engine_->polling);

  // The next Start begins a new check, which ends well.
  tray_->OnCommand(ID_START_TRANSMISSION);
  EXPECT_EQ(view_.startingShown, 2);
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

TEST_F(TrayTest, AfterTheCheckOnlyUpdateRequestsOnThePortAboveCount) {
  Init();
  StartAndEndCheck();
  // The check socket is closed: another sender's keep-alive goes unseen.
  ASSERT_TRUE(peer_.Send(kDefaultPort, {0xF7, 0xFF, 0, 0}));
  // Datagrams are served in order: when the request behind an ignored
  // datagram has counted, the ignored one was seen and did not count.
  int expected = 0;
  for (const std::vector<uint8_t>& ignored :
       {std::vector<uint8_t>{0xF8}, {0xF7, 0xFF}, {}, {0xFF, 0xFF, 0xF8, 0xFF}}) {
    ASSERT_TRUE(peer_.Send(kDefaultPort + 1, ignored));
    ASSERT_TRUE(peer_.Send(kDefaultPort + 1, {0xF8, 0xFF}));
    ++expected;
    ASSERT_TRUE(Eventually([&] { return engine_->refreshes >= expected; }));
    EXPECT_EQ(engine_->refreshes, expected);
  }
  ASSERT_TRUE(peer_.Send(kDefaultPort + 1, {0xF8, 0xFF, 0x00}));  // a longer request counts
  ASSERT_TRUE(Eventually([&] { return engine_->refreshes == expected + 1; }));
  // A repair request reaches the engine as one; a malformed one (reversed
  // range, one byte too long) asks for a full-screen update.
  ASSERT_TRUE(peer_.Send(kDefaultPort + 1, {0xF8, 0xFF, 0x34, 0x12, 5, 0, 0, 0, 7, 0, 0, 0}));
  ASSERT_TRUE(Eventually([&] { return engine_->repairs == 1; }));
  EXPECT_EQ(engine_->repairKey, (uint64_t{0x1234} << 40) | (5 << 20) | 7);
  EXPECT_EQ(engine_->repairFrom, test::kTestSourceAddress);  // who asked: the peer
  for (const std::vector<uint8_t>& bad :
       {std::vector<uint8_t>{0xF8, 0xFF, 0x34, 0x12, 7, 0, 0, 0, 5, 0, 0, 0},
        {0xF8, 0xFF, 0x34, 0x12, 5, 0, 0, 0, 7, 0, 0, 0, 0}}) {
    ASSERT_TRUE(peer_.Send(kDefaultPort + 1, bad));
  }
  ASSERT_TRUE(Eventually([&] { return engine_->refreshes == expected + 3; }));
  EXPECT_EQ(engine_->repairs, 1);
  EXPECT_TRUE(ui_.messages.empty());
}

// A class asks in bursts (interference hits many receivers at once): what
// arrives while the engine takes a request waits in the socket, none lost.
TEST_F(TrayTest, ABurstOfRepairRequestsWaitsWholeWhileTheEngineIsBusy) {
  Init();
  StartAndEndCheck();
  constexpr uint32_t kBurst = 240;  // sixty receivers, a few ranges each
  {
    std::lock_guard<std::mutex> busy(engine_->busy);
    for (uint32_t i = 0; i <= kBurst; ++i) {
      uint8_t request[kRepairRequestSize];
      BuildRepairRequest({0x1234, i, i}, request);
      ASSERT_TRUE(peer_.Send(kDefaultPort + 1, {request, request + sizeof request}));
    }
  }
  ASSERT_TRUE(Eventually([&] { return engine_->repairs == static_cast<int>(kBurst) + 1; }))
      << engine_->repairs;
  EXPECT_EQ(engine_->repairKey, (uint64_t{0x1234} << 40) | (kBurst << 20) | kBurst);
}

TEST_F(TrayTest, WarningBoxGraysStartAndQuitAndIgnoresTheHotkeyStart) {
  Init();
  UdpSocket holder;  // holds P + 1, so the request socket cannot bind
  ASSERT_TRUE(holder.Create() && holder.Bind(kDefaultPort + 1));
  bool checked = false;
  ui_.whileMessageOpen = [&] {
    ui_.ExpectMessage(0, "Quillcast Warning",
                        "Cannot listen for data packets on UDP port 5983.\nThis is not a fatal "
                        "error but data transmission may be unreliable.",
                        MessageIcon::Warning);
    EXPECT_FALSE(view_.menu.startEnabled || view_.menu.quitEnabled);
    tray_->OnHotKey(0);
    ui_.RunPosted();
    EXPECT_EQ(view_.startingShown, 1);  // the Start was ignored
    checked = true;
  };
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnTimer(TimerId::StartCheck);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(view_.menu.quitEnabled);
  EXPECT_EQ(tray_->CurrentState(), State::Transmitting);  // it starts anyway
}

TEST_F(TrayTest, PortAndAccelerationChangesApplyAtOnceWhenIdleAndAtTheNextStopOtherwise) {
  Init();
  tray_->SetDisableAcceleration(true);
  EXPECT_EQ(accel_.level, 5);
  tray_->SetDisableAcceleration(false);
  EXPECT_EQ(accel_.level, 0);

  StartAndEndCheck();
  view_.settingsAction = [](qcTray& t) {
    t.SetPort(6000);
    t.SetDisableAcceleration(true);
  };
  tray_->OnCommand(ID_SETTINGS);
  ui_.ExpectMessage(0, "Quillcast Information",
                      "Some of the changed settings will take effect\nonly after stopping and "
                      "restarting the transmission.",
                      MessageIcon::Information);
  EXPECT_EQ(accel_.level, 0);
  EXPECT_TRUE(tray_->PortChangePending());
  view_.settingsAction = nullptr;
  tray_->OnCommand(ID_SETTINGS);  // shown again until Stop
  EXPECT_EQ(ui_.messages.size(), 2u);

  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_FALSE(tray_->PortChangePending() || tray_->AccelerationChangePending());
  EXPECT_EQ(accel_.level, 5);
  tray_->OnCommand(ID_SETTINGS);
  EXPECT_EQ(ui_.messages.size(), 2u);
  StartAndEndCheck();  // the new port is checked and served
  EXPECT_TRUE(RequestServed(6001));
}

TEST_F(TrayTest, StoredSettingsApplyAndAccelerationIsPutBackAtExitAndAfterAFailedInit) {
  Store("DisableVideoAcceleration", 1);
  Store("EnableHotkeyPause", 0);
  Store("HotkeyStart", 0x0270);
  accel_.level = 2;
  Init();
  EXPECT_EQ(ui_.hotkeys, (Hotkeys{{0, 0x0270}}));
  EXPECT_EQ(accel_.level, 5);  // off for the whole run
  StartAndEndCheck();
  tray_->SetDisableAcceleration(false);  // pending until Stop
  tray_->OnCommand(ID_QUIT);
  tray_->Shutdown();
  EXPECT_EQ(accel_.level, 2);

  MakeTray(/*engineStarts=*/false);
  EXPECT_FALSE(tray_->Init(false, 0));
  EXPECT_EQ(accel_.level, 5);
  tray_->AbortInit();
  EXPECT_EQ(accel_.level, 2);
}

TEST_F(TrayTest, OneFatalErrorBoxAndNoneAfterQuit) {
  Init();
  std::thread other([this] { tray_->FatalError(); });
  other.join();
  tray_->FatalError();
  ui_.RunPosted();
  ASSERT_EQ(ui_.messages.size(), 1u);
  ui_.ExpectMessage(0, "Quillcast Error",
                      "Fatal error. See the log file (Quillcast.log) for details.",
                      MessageIcon::Error);
  EXPECT_EQ(ui_.quits, 1);

  MakeTray(true);
  Init();
  tray_->OnCommand(ID_START_TRANSMISSION);
  tray_->OnCommand(ID_QUIT);
  EXPECT_EQ(ui_.quits, 2);
  tray_->FatalError();
  ui_.RunPosted();
  EXPECT_EQ(ui_.messages.size(), 1u);
  tray_->Shutdown();
  EXPECT_FALSE(view_.startingVisible || (ui_.TimerMs(TimerId::StartCheck) != -1));
}

TEST_F(TrayTest, DialogsOpenOnceAndTheUpdatePageOnlyFromTheAboutButton) {
  Init();
  view_.settingsAction = [&](qcTray& t) { t.OnCommand(ID_SETTINGS); };
  tray_->OnCommand(ID_SETTINGS);
  EXPECT_EQ(view_.settingsRuns, 1);
  tray_->OnCommand(ID_ABOUT);  // closed with Close Window
  EXPECT_TRUE(view_.urls.empty());
  view_.aboutAction = [&] {
    tray_->OnCommand(ID_ABOUT);  // while open: no second box
    return AboutChoice::CheckForUpdates;
  };
  tray_->OnCommand(ID_ABOUT);
  EXPECT_EQ(view_.aboutRuns, 2);
  EXPECT_EQ(view_.urls, std::vector<std::string>{kUpdatePageUrl});
}

// ---- the settings dialog's rules on a running controller ------------------

SettingsDialogValues ValuesOf(const qcTray& tray, const std::string& port) {
  const SenderSettings& s = tray.Settings();
  SettingsDialogValues v;
  v.portText = port;
  v.disableAcceleration = s.disableAcceleration;
  v.logging = Log().IsEnabled();
  v.hotkeyStart = s.hotkeyStart;
  v.enableHotkeyStart = s.enableHotkeyStart;
  v.hotkeyPause = s.hotkeyPause;
  v.enableHotkeyPause = s.enableHotkeyPause;
  v.videoMode = s.videoMode;
  v.videoBitrateText = std::to_string(s.videoBitrate);
  return v;
}

TEST_F(TrayTest, DialogVideoChoicesAreCheckedAndTakeEffectWhenIdleOrAtTheNextStop) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  SettingsDialogValues v = ValuesOf(*tray_, "5982");
  const int made = enginesMade_;
  for (auto [typed, nearest] : {std::pair{"90000", "50000"}, {"150", "200"}, {"", "200"}}) {
    v.videoBitrateText = typed;
    auto answer = dialog.OnOk(v);
    ASSERT_TRUE(answer) << typed;
    EXPECT_TRUE(answer->videoBitrate);
    EXPECT_EQ(answer->text, nearest);
    EXPECT_STREQ(answer->message, kInvalidVideoBitrateText);
  }
  EXPECT_EQ(tray_->Settings().videoBitrate, kDefaultVideoBitrateKbps);
  EXPECT_FALSE(Stored("VideoBitrate"));  // nothing saved

  // Idle: a fresh engine takes the new choice at once.
  v.videoBitrateText = "2500";
  v.videoMode = 0;
  EXPECT_FALSE(dialog.OnOk(v));
  EXPECT_EQ(enginesMade_, made + 1);
  EXPECT_EQ(Stored("VideoMode"), 0u);
  EXPECT_EQ(Stored("VideoBitrate"), 2500u);
  EXPECT_FALSE(dialog.OnOk(v));  // nothing changed: nothing renewed
  EXPECT_EQ(enginesMade_, made + 1);

  // Transmitting: the receivers keep their stream until Stop.
  StartAndEndCheck();
  view_.settingsAction = [](qcTray& t) { t.SetVideo(2, 6000); };
  tray_->OnCommand(ID_SETTINGS);
  ui_.ExpectMessage(0, "Quillcast Information",
                      "Some of the changed settings will take effect\nonly after stopping and "
                      "restarting the transmission.",
                      MessageIcon::Information);
  EXPECT_TRUE(tray_->VideoChangePending());
  EXPECT_EQ(enginesMade_, made + 1);
  tray_->OnCommand(ID_STOP_TRANSMISSION);
  EXPECT_FALSE(tray_->VideoChangePending());
  EXPECT_EQ(enginesMade_, made + 2);
  EXPECT_EQ(tray_->Settings().videoBitrate, 6000);
  StartAndEndCheck();
  EXPECT_TRUE(engine_->polling);
}

TEST_F(TrayTest, DialogOkCorrectsAnInvalidPortAndAppliesNothingUntilTheNextOk) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  SettingsDialogValues v = ValuesOf(*tray_, "6001");
  v.enableHotkeyStart = false;
  v.logging = true;
  auto answer = dialog.OnOk(v);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->text, "6002");
  EXPECT_STREQ(answer->message, kInvalidPortDialogText);
  EXPECT_EQ(tray_->Settings().port, 5982);
  EXPECT_FALSE(Stored("MulticastPort"));  // nothing saved
  EXPECT_EQ(ui_.hotkeys.size(), 2u);

  v.portText = answer->text;
  EXPECT_FALSE(dialog.OnOk(v));
  EXPECT_EQ(tray_->Settings().port, 6002);
  EXPECT_EQ(ui_.hotkeys, (Hotkeys{{1, 0x047A}}));
  EXPECT_TRUE(Log().IsEnabled());
  EXPECT_EQ(engine_->periodChanges, 0);  // the period did not change
  EXPECT_EQ(Stored("MulticastPort"), 6002u);
  EXPECT_EQ(Stored("EnableHotkeyStart"), 0u);
  EXPECT_EQ(Stored("HotkeyPause"), 0x047Au);
}

TEST_F(TrayTest, DialogPeriodBoxHoldsThePeriodThatOkAppliesInEveryState) {
  Init();
  qcSettings dialog(*tray_);
  dialog.Open();
  EXPECT_EQ(dialog.UpdatePeriod(), 10);
  BoxUpdate low = dialog.OnPeriodSpin("5", false);
  EXPECT_EQ(low.text, "5");
  EXPECT_STREQ(low.message, kInvalidPeriodText);
  auto typed = dialog.OnPeriodFocusLost("3");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->text, "5");
  EXPECT_FALSE(dialog.OnPeriodFocusLost("40"));
  EXPECT_EQ(dialog.OnPortSpin("6001", true).text, "6004");
  EXPECT_EQ(tray_->Settings().updatePeriod, 10);  // nothing before OK
  EXPECT_FALSE(dialog.OnOk(ValuesOf(*tray_, "5982")));
  EXPECT_EQ(tray_->UpdatePeriod(), 40);
  EXPECT_EQ(engine_->periodChanges, 1);
  StartAndEndCheck();
  EXPECT_TRUE(engine_->polling);
  tray_->OnCommand(ID_PAUSE_TRANSMISSION);
  tray_->SetUpdatePeriod(200);
  EXPECT_EQ(engine_->periodChanges, 2);
}

}  // namespace
}  // namespace qc
