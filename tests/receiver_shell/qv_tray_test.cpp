// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's tray controller through a recording view and a fake viewer.
// The test binary runs in a private network namespace: the controller's
// service socket really sends its update requests, and a listener on the
// port above the data port counts them.
#include "receiver/shell/qv_tray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "shell/signing_keys.h"
#include "tests/receiver_shell/fakes.h"
#include "platform/tick_clock.h"
#include "receiver/viewer/update_processor.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/support/group_socket.h"
#include "tests/support/private_network.h"
#include "tests/support/temp_dir.h"

namespace qc {
namespace {

class TrayTest : public testing::Test {
 protected:
  test::TempDir config;
  TrayTest() {
    // The trusted sender key is kept beside the settings: a folder of the
    // test's own.
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    store.stored.port = 6100;
    for (uint16_t port : {6101, 6201, 6301}) listeners.try_emplace(port, port);
  }
  // Starts the controller and forgets the start-up traffic.
  void Start(int commandLinePort = 0) {
    ASSERT_TRUE(tray.Init(commandLinePort));
    ui.RunPosted();
    Requests(static_cast<uint16_t>(tray.Port() + 1));
    view.icons.clear();
  }
  void ExpectOneMessage(const char* caption, const char* text, MessageIcon icon) {
    EXPECT_EQ(ui.messages.size(), 1u);
    ui.ExpectMessage(0, caption, text, icon);
  }
  void Receive() {
    viewer.receiving = true;
    tray.TransmissionFrom(test::kTestSourceAddress, 40000);  // the viewer's read thread
    tray.UpdateTrayIcon(TrayAction::Modify, TrayState::Receiving);
  }
  // The update requests that reached group:port since the last call.
  int Requests(uint16_t port) {
    int n = 0;
    for (const auto& d : listeners.at(port).Drain()) {
      n += d.size() == kUpdateRequestSize && IsUpdateRequest(d.data(), d.size());
    }
    return n;
  }

  test::FakeUiServices ui;
  test::FakeView view;
  test::FakeViewer viewer;
  test::FakeStore store;
  // The request ports of the data ports the tests use.
  std::map<uint16_t, test::GroupSocket> listeners;
  qvTray tray{ui, view, viewer, store};
};

TEST_F(TrayTest, InitLoadsSettingsAddsTheIconAsksForAnUpdateAndGrabsTheHotKey) {
  ASSERT_TRUE(tray.Init());
  EXPECT_EQ(ui.TimerMs(ReceiverTimer::Blink), 500);
  EXPECT_EQ(ui.TimerMs(ReceiverTimer::Request), 5000);
  EXPECT_EQ(viewer.ports, std::vector<int>{6100});
  ASSERT_EQ(view.icons.size(), 1u);
  EXPECT_EQ(view.icons[0].action, TrayAction::Add);
  EXPECT_EQ(view.icons[0].image, TrayImage::RedGreen);
  EXPECT_EQ(view.icons[0].tip, "Quillview - Disconnected");
  EXPECT_EQ(Requests(6101), 1);
  EXPECT_EQ(ui.hotkeys, (std::map<int, uint32_t>{{static_cast<int>(HotKey::HideShow), 0x027B}}));
}

TEST_F(TrayTest, InitFailsWhenTheViewerCannotStartAndSkipsADisabledHotKey) {
  store.stored.hotkeyEnabled = false;
  viewer.initResult = false;
  EXPECT_FALSE(tray.Init());
  EXPECT_TRUE(view.icons.empty());
  EXPECT_EQ(Requests(6101), 0);
  viewer.initResult = true;
  ASSERT_TRUE(tray.Init());
  EXPECT_TRUE(ui.hotkeys.empty());
}

TEST_F(TrayTest, BlinkingAlternatesTheImagesOfEachState) {
  Start();
  ui.Tick(ReceiverTimer::Blink);
  ui.Tick(ReceiverTimer::Blink);
  Receive();
  ui.Tick(ReceiverTimer::Blink);
  ui.Tick(ReceiverTimer::Blink);
  tray.OnCommand(ID_HIDE_WINDOW);
  ui.Tick(ReceiverTimer::Blink);
  std::vector<std::pair<TrayImage, std::string>> shown;
  for (const auto& icon : view.icons) shown.emplace_back(icon.image, icon.tip);
  const std::string off = "Quillview - Disconnected", on = "Quillview - Receiving from 192.0.2.7",
                    hidden = "Quillview - Hidden";
  EXPECT_EQ(shown, (std::vector<std::pair<TrayImage, std::string>>{
                       {TrayImage::RedRed, off}, {TrayImage::RedGreen, off},
                       {TrayImage::GreenGreen, on}, {TrayImage::GreenYellow, on},
                       {TrayImage::GreenGreen, on}, {TrayImage::YellowYellow, hidden},
                       {TrayImage::YellowGreen, hidden}}));
}

TEST_F(TrayTest, RequestTimerAsksForUpdatesOnlyWhileNothingIsReceived) {
  Start();
  tray.OnRequestTimer();
  tray.OnRequestTimer();
  EXPECT_EQ(Requests(6101), 2);
  Receive();
  tray.OnRequestTimer();
  EXPECT_EQ(Requests(6101), 0);
  tray.OnCommand(ID_REQUEST_REFRESH);  // the user's refresh goes out in any state
  EXPECT_EQ(Requests(6101), 1);
}

TEST_F(TrayTest, WaitingBoxIsShownOnceWhileOpen) {
  Start();
  ui.whileMessageOpen = [&] {
    ui.whileMessageOpen = nullptr;
    tray.OnTrayDoubleClick();  // double clicks while the box is open do nothing
    tray.OnCommand(ID_FULL_SCREEN);
  };
  tray.OnTrayDoubleClick();
  ExpectOneMessage("Quillview Information", kWaitingText, MessageIcon::Information);
  tray.OnTrayDoubleClick();  // closed: shown again
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_FALSE(viewer.fullScreen);
}

TEST_F(TrayTest, GreyedItemsHideShowAndTheHotKey) {
  Start();
  tray.OnMenuAboutToShow();
  EXPECT_FALSE(view.itemsEnabled);
  tray.OnHotKey();  // nothing while disconnected
  tray.OnCommand(ID_HIDE_WINDOW);
  ui.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  EXPECT_TRUE(tray.WindowShown());

  Receive();
  tray.OnMenuAboutToShow();
  EXPECT_TRUE(view.itemsEnabled);
  viewer.shown = true;
  ui.Press(HotKey::HideShow);
  ui.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Hidden);
  EXPECT_FALSE(viewer.shown || view.hideItem || tray.WindowShown());
  ui.Press(HotKey::HideShow);
  ui.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Receiving);
  EXPECT_TRUE(viewer.shown && view.hideItem && tray.WindowShown());
}

TEST_F(TrayTest, FullScreenTogglesAndShowsTheWindow) {
  Start();
  Receive();
  tray.OnCommand(ID_HIDE_WINDOW);
  tray.OnTrayDoubleClick();
  EXPECT_TRUE(viewer.fullScreen && view.fullScreenChecked && tray.FullScreenSetting());
  ui.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Receiving);
  EXPECT_TRUE(viewer.shown);
  tray.OnCommand(ID_FULL_SCREEN);
  ui.RunPosted();
  EXPECT_FALSE(viewer.fullScreen || view.fullScreenChecked || tray.FullScreenSetting());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(TrayTest, DisconnectionRestartsTheViewerOnTheGuiThread) {
  Start();
  Receive();
  tray.OnCommand(ID_HIDE_WINDOW);
  tray.RestartViewer();  // from the update thread
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  EXPECT_TRUE(viewer.restarting);
  EXPECT_EQ(view.icons.back().tip, "Quillview - Disconnected");
  EXPECT_EQ(viewer.stops, 0);  // not on the caller's thread
  ui.RunPosted();
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_EQ(viewer.inits, 2);
  EXPECT_TRUE(view.hideItem && tray.WindowShown());
  tray.OnRequestTimer();
  EXPECT_EQ(Requests(6101), 1);

  // A restart that fails is tried again at the next request tick.
  viewer.initResult = false;
  tray.RestartViewer();
  ui.RunPosted();
  EXPECT_EQ(viewer.inits, 3);
  viewer.initResult = true;
  tray.OnRequestTimer();
  EXPECT_EQ(viewer.inits, 4);
  tray.OnRequestTimer();
  EXPECT_EQ(viewer.inits, 4);
}

TEST_F(TrayTest, PortChangeRestartsAtOnceWhileDisconnectedAndWaitsWhileReceiving) {
  Start();
  tray.SetPort(6200);
  ui.RunPosted();
  EXPECT_EQ(viewer.ports, (std::vector<int>{6100, 6200}));
  tray.OnRequestTimer();
  EXPECT_EQ(Requests(6201), 1);

  Receive();
  view.duringSettings = [&] {
    EXPECT_TRUE(tray.AcceptSettings({6300, false, false, 0x027B, true, {}}).valid);
    EXPECT_TRUE(ui.messages.empty());  // only after the dialog
  };
  tray.OnCommand(ID_SETTINGS);
  ui.RunPosted();
  EXPECT_EQ(viewer.ports.back(), 6200);  // old port still in use
  ExpectOneMessage("Quillview Information", kRestartNeededText, MessageIcon::Information);
  EXPECT_EQ(store.saved.port, 6300);

  tray.RestartViewer();  // the sender disconnects: back on the new port
  ui.RunPosted();
  EXPECT_EQ(viewer.ports.back(), 6300);
  tray.SendUpdateRequest();
  EXPECT_EQ(Requests(6301), 1);
}

TEST_F(TrayTest, SettingsDialogOpensOnceAndInvalidPortsApplyNothing) {
  Start();
  view.duringSettings = [&] {
    tray.OnCommand(ID_SETTINGS);  // already open: nothing
    PortCheck c = tray.AcceptSettings({5983, true, false, 0x027B, true, {}});
    EXPECT_FALSE(c.valid);
    EXPECT_EQ(c.port, 5984);
  };
  tray.OnCommand(ID_SETTINGS);
  EXPECT_EQ(view.settingsRuns, 1);
  EXPECT_EQ(store.saves, 0);
  EXPECT_FALSE(tray.FullScreenSetting());
  EXPECT_EQ(tray.Port(), 6100);

  view.duringAbout = [&] { tray.OnCommand(ID_ABOUT); };
  tray.OnCommand(ID_ABOUT);
  EXPECT_EQ(view.aboutRuns, 1);
}

TEST_F(TrayTest, AcceptedSettingsAreAppliedAndSaved) {
  Start(6300);  // a command-line port: the first socket already uses it
  EXPECT_EQ(viewer.ports, std::vector<int>{6300});
  EXPECT_TRUE(tray.AcceptSettings({6300, true, false, 0x0441, true, {}}).valid);
  EXPECT_TRUE(tray.FullScreenSetting());
  EXPECT_FALSE(viewer.fullScreen);  // stored only
  EXPECT_EQ(ui.hotkeys.at(static_cast<int>(HotKey::HideShow)), 0x0441u);
  EXPECT_EQ(viewer.inits, 1);  // same port: no restart
  EXPECT_EQ(store.saved.hotkey, 0x0441u);
  EXPECT_TRUE(store.saved.fullScreen);
  EXPECT_TRUE(store.savedSkippingPort);

  tray.AcceptSettings({6300, true, false, 0x0441, false, {}});  // unticked: released at once
  EXPECT_FALSE(!ui.hotkeys.empty() || tray.HotkeyEnabled());
  const int registrations = ui.registrations;
  tray.AcceptSettings({6300, true, false, 0x0441, false, {}});  // unchanged: untouched
  EXPECT_EQ(ui.registrations, registrations);
}

TEST_F(TrayTest, FatalStopRunsOnce) {
  Start();
  Receive();
  viewer.shown = true;
  tray.FatalStop(true);
  tray.FatalStop(true);
  tray.FatalStop(false);
  ui.RunPosted();
  ExpectOneMessage("Quillview Error", kFatalText, MessageIcon::Error);
  EXPECT_FALSE(viewer.shown);
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_EQ(ui.quits, 1);
  EXPECT_EQ(ui.exitCode, 0);
  auto isDelete = [](const test::FakeView::Icon& i) { return i.action == TrayAction::Delete; };
  EXPECT_EQ(std::count_if(view.icons.begin(), view.icons.end(), isDelete), 1);
  tray.FatalStop(false);  // the window's destruction while closing: nothing
  ui.RunPosted();
  EXPECT_EQ(ui.quits, 1);
}

TEST_F(TrayTest, QuitClosesInOrder) {
  Start();
  tray.OnCommand(ID_QUIT);
  EXPECT_EQ(ui.quits, 0);  // posted
  ui.RunPosted();
  EXPECT_EQ(ui.quits, 1);
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_TRUE(tray.Closing());
  tray.RestartViewer();  // queued behind the quit: the viewer stays down
  ui.RunPosted();
  EXPECT_EQ(viewer.inits, 1);
  tray.Shutdown();
  EXPECT_TRUE(ui.hotkeys.empty());
  auto isDelete = [](const test::FakeView::Icon& i) { return i.action == TrayAction::Delete; };
  EXPECT_EQ(std::count_if(view.icons.begin(), view.icons.end(), isDelete), 1);
  tray.SendUpdateRequest();  // socket closed: nothing goes out
  EXPECT_EQ(Requests(6101), 0);
}

TEST_F(TrayTest, ASenderKeyIsStoredFromTheDialogOrGivenForTheRunAndWhileWaitingTheTipSaysSo) {
  PrivateKey key, other;
  ASSERT_TRUE(GenerateKeyPair(key) && GenerateKeyPair(other));
  const std::string text = PublicKeyText(key.publicKey);
  Start();
  EXPECT_EQ(tray.TrustedSender(), nullptr);
  const int inits = viewer.inits;
  EXPECT_TRUE(tray.AcceptSettings({6100, false, false, 0x027B, true, " " + text}).valid);
  ASSERT_NE(tray.TrustedSender(), nullptr);
  EXPECT_EQ(*tray.TrustedSender(), key.publicKey);
  EXPECT_EQ(viewer.inits, inits + 1);  // the next cycle takes only signed datagrams
  EXPECT_EQ(TrustedKeyText(), text);
  ASSERT_FALSE(view.icons.empty());
  EXPECT_EQ(view.icons.back().tip, qvTray::kWaitingSignedTip);
  // A dialog without the field leaves the key; the same key restarts nothing.
  EXPECT_TRUE(tray.AcceptSettings({6100, false, false, 0x027B, true, std::nullopt}).valid);
  EXPECT_TRUE(tray.AcceptSettings({6100, false, false, 0x027B, true, text}).valid);
  EXPECT_EQ(viewer.inits, inits + 1);

  // The next start reads the stored key; --trust replaces it for the run
  // and the dialog then changes nothing.
  test::FakeViewer viewer2;
  test::FakeView view2;
  qvTray tray2(ui, view2, viewer2, store);
  tray2.TrustSenderForThisRun(PublicKeyText(other.publicKey));
  ASSERT_TRUE(tray2.Init(0));
  ASSERT_NE(tray2.TrustedSender(), nullptr);
  EXPECT_EQ(*tray2.TrustedSender(), other.publicKey);
  EXPECT_TRUE(tray2.AcceptSettings({6100, false, false, 0x027B, true, std::string()}).valid);
  EXPECT_EQ(*tray2.TrustedSender(), other.publicKey);
  EXPECT_EQ(TrustedKeyText(), text);
  tray2.Close();

  // Emptied in the dialog: unsigned transmissions are shown again.
  EXPECT_TRUE(tray.AcceptSettings({6100, false, false, 0x027B, true, std::string()}).valid);
  EXPECT_EQ(tray.TrustedSender(), nullptr);
  EXPECT_EQ(TrustedKeyText(), "");
  EXPECT_EQ(view.icons.back().tip, "Quillview - Disconnected");
}

// Two receivers miss the same datagram; each waits its back-off, and the
// one whose back-off ends later hears the other's request on the request
// port and stays quiet: one repair request on the wire between them.
TEST(RequestSuppressionTest, TwoReceiversMissingTheSameNumbersSendOneRequestBetweenThem) {
  test::GroupSocket wire(6401);
  ASSERT_TRUE(wire.Ok());
  struct Receiver {
    test::FakeUiServices ui;
    test::FakeView view;
    test::FakeViewer viewer;
    test::FakeStore store;
    qvTray tray{ui, view, viewer, store};
    test::RecordingSurface surface;
    UpdateProcessor proc;
  };
  Receiver a, b;
  constexpr uint16_t kId = 0x0C0C;
  const auto frame = test::MakeFrame(64, 40, 32, 3);
  for (Receiver* r : {&a, &b}) {
    r->store.stored.port = 6400;
    ASSERT_TRUE(r->tray.Init());
    ASSERT_TRUE(r->tray.HearsOtherReceivers());
    ASSERT_TRUE(r->proc.Begin(&r->tray, &r->surface));
    r->proc.Start(test::Format(kId, 64, 40, 32));
    for (uint32_t seq : {0u, 1u, 3u}) {
      const auto d = test::Compressed(PacketType::Update, kId, seq,
                                      test::EncodeRows(frame, 64, 32, 0, 10));
      r->proc.Process(d.data(), d.size());
    }
  }
  auto repairs = [&] {
    int n = 0;
    for (const auto& d : wire.Drain()) {
      RepairRequest r;
      n += ParseRepairRequest(d.data(), d.size(), r) && r.screenId == kId && r.first == 2 &&
           r.last == 2;
    }
    return n;
  };
  EXPECT_EQ(repairs(), 0);  // both wait
  const uint32_t due = TickCount() + UpdateProcessor::kBackoffMs;
  a.proc.CheckRepairs(due);
  for (int i = 0; i < 200 && !b.tray.HeardRepairRequest(kId, 2, 2, due - 1000); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  b.proc.CheckRepairs(due);
  EXPECT_EQ(repairs(), 1);
  ViewerStats stats;
  b.proc.FillStats(stats);
  EXPECT_EQ(stats.suppressed, 1u);
  // A request for other numbers does not silence a receiver.
  EXPECT_FALSE(b.tray.HeardRepairRequest(kId, 2, 3, due - 1000));
  EXPECT_FALSE(b.tray.HeardRepairRequest(kId + 1, 2, 2, due - 1000));
  for (Receiver* r : {&a, &b}) {
    r->proc.End();
    r->tray.Shutdown();
  }
}

}  // namespace
}  // namespace qc
