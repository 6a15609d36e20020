// The tray controller through a recording view and a fake viewer. The test
// binary runs in a private network namespace: the controller's service socket
// really sends its update requests, and a listener on port P+1 counts them.
#include "receiver/shell/qv_tray.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "common/protocol.h"
#include "platform/udp_socket.h"

namespace qc {
namespace {

struct Box {
  std::string caption;
  std::string text;
  MessageIcon icon;
};

class FakeView : public ReceiverTrayView {
 public:
  void Attach(qvTray& tray) override { tray_ = &tray; }
  void Post(std::function<void()> fn) override { posted.push_back(std::move(fn)); }
  void StartTimers() override { timersStarted = true; }
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override {
    icons.push_back({action, image, tip});
    return true;
  }
  void SetWindowItem(bool hide) override { hideItem = hide; }
  void EnableReceivingItems(bool enabled) override { itemsEnabled = enabled; }
  void SetFullScreenChecked(bool c) override { fullScreenChecked = c; }
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override {
    boxes.push_back({caption, text, icon});
    if (duringBox) duringBox();
  }
  void RunSettingsDialog() override {
    ++settingsRuns;
    if (duringSettings) duringSettings();
  }
  void RunAboutDialog() override {
    ++aboutRuns;
    if (duringAbout) duringAbout();
  }
  bool RegisterHotKey(uint32_t code) override {
    hotkeys.push_back(code);
    registered = true;
    return true;
  }
  void UnregisterHotKey() override {
    ++unregisters;
    registered = false;
  }
  void Quit(int code) override {
    ++quits;
    exitCode = code;
  }

  // Runs posted calls in order, including those they post.
  void RunPosted() {
    while (!posted.empty()) {
      auto fn = std::move(posted.front());
      posted.pop_front();
      fn();
    }
  }

  struct Icon {
    TrayAction action;
    TrayImage image;
    std::string tip;
  };
  qvTray* tray_ = nullptr;
  std::deque<std::function<void()>> posted;
  bool timersStarted = false;
  std::vector<Icon> icons;
  bool hideItem = true;
  bool itemsEnabled = true;
  bool fullScreenChecked = false;
  std::vector<Box> boxes;
  std::function<void()> duringBox, duringSettings, duringAbout;
  int settingsRuns = 0, aboutRuns = 0;
  std::vector<uint32_t> hotkeys;
  bool registered = false;
  int unregisters = 0;
  int quits = 0;
  int exitCode = -7;
};

class FakeViewer : public ViewerControl {
 public:
  bool Init(qvTray& tray) override {
    ++inits;
    ports.push_back(tray.Port());
    running = true;
    receiving = false;
    fullScreen = tray.FullScreenSetting();
    return initResult;
  }
  void Stop() override {
    ++stops;
    running = false;
    receiving = false;
    restarting = false;
  }
  bool IsReceiving() const override { return receiving; }
  bool IsFullScreen() const override { return fullScreen; }
  void SetRestarting() override { restarting = true; }
  void ShowWindow(bool show) override { shown = show; }
  void SetFullScreen(bool on) override { fullScreen = on; }

  bool initResult = true;
  int inits = 0, stops = 0;
  std::vector<int> ports;
  bool running = false, receiving = false, fullScreen = false, restarting = false, shown = false;
};

class FakeStore : public SettingsStore {
 public:
  void Load(ReceiverSettings& s) override {
    ++loads;
    s = stored;
  }
  void Save(const ReceiverSettings& s, bool portFromCommandLine) override {
    ++saves;
    saved = s;
    savedSkippingPort = portFromCommandLine;
  }
  ReceiverSettings stored;
  ReceiverSettings saved;
  bool savedSkippingPort = false;
  int loads = 0, saves = 0;
};

// Counts update requests arriving at group:port.
class RequestListener {
 public:
  explicit RequestListener(uint16_t port) {
    EXPECT_TRUE(socket_.Create());
    socket_.SetReuseAddress(true);
    EXPECT_TRUE(socket_.Bind(port));
    EXPECT_TRUE(socket_.JoinGroup(qc::kGroupAddressHostOrder));
  }
  // Number of two-byte F8 FF datagrams that arrive within a short wait after
  // the last one.
  int Drain() {
    int n = 0;
    uint8_t buf[64];
    long len;
    while ((len = socket_.ReceiveFor(buf, sizeof buf, 200)) >= 0) {
      if (len == 2 && buf[0] == 0xF8 && buf[1] == 0xFF) ++n;
    }
    return n;
  }

 private:
  qc::UdpSocket socket_;
};

class TrayTest : public ::testing::Test {
 protected:
  TrayTest() : tray(view, viewer, store) { store.stored.port = 6100; }
  // Starts the controller and forgets the start-up traffic.
  void Start() {
    ASSERT_TRUE(tray.Init());
    view.RunPosted();
    requests.Drain();
    view.icons.clear();
  }
  // The update thread sees the init message.
  void Receive() {
    viewer.receiving = true;
    tray.UpdateTrayIcon(TrayAction::Modify, TrayState::Receiving);
  }

  FakeView view;
  FakeViewer viewer;
  FakeStore store;
  RequestListener requests{6101};
  qvTray tray;
};

TEST_F(TrayTest, InitLoadsSettingsAddsTheIconAndAsksForAnUpdate) {
  ASSERT_TRUE(tray.Init());
  EXPECT_EQ(store.loads, 1);
  EXPECT_TRUE(view.timersStarted);
  EXPECT_EQ(viewer.inits, 1);
  EXPECT_EQ(viewer.ports, std::vector<int>{6100});
  ASSERT_EQ(view.icons.size(), 1u);
  EXPECT_EQ(view.icons[0].action, TrayAction::Add);
  EXPECT_EQ(view.icons[0].image, TrayImage::RedGreen);
  EXPECT_EQ(view.icons[0].tip, "Quillview - Disconnected");
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  EXPECT_EQ(tray.Service().DestinationPort(), 6101);
  EXPECT_EQ(requests.Drain(), 1);
  EXPECT_EQ(view.hotkeys, std::vector<uint32_t>{0x027B});
}

TEST_F(TrayTest, InitFailsWhenTheViewerCannotStartAndSkipsADisabledHotKey) {
  store.stored.hotkeyEnabled = false;
  viewer.initResult = false;
  EXPECT_FALSE(tray.Init());
  EXPECT_TRUE(view.icons.empty());
  EXPECT_EQ(requests.Drain(), 0);
  viewer.initResult = true;
  ASSERT_TRUE(tray.Init());
  EXPECT_TRUE(view.hotkeys.empty());
}

TEST_F(TrayTest, BlinkingAlternatesTheImagesOfEachState) {
  Start();
  tray.OnBlinkTimer();
  tray.OnBlinkTimer();
  ASSERT_EQ(view.icons.size(), 2u);
  EXPECT_EQ(view.icons[0].image, TrayImage::RedRed);
  EXPECT_EQ(view.icons[1].image, TrayImage::RedGreen);

  Receive();
  tray.OnBlinkTimer();
  tray.OnBlinkTimer();
  ASSERT_EQ(view.icons.size(), 5u);
  EXPECT_EQ(view.icons[2].image, TrayImage::GreenGreen);
  EXPECT_EQ(view.icons[2].tip, "Quillview - Receiving");
  EXPECT_EQ(view.icons[3].image, TrayImage::GreenYellow);
  EXPECT_EQ(view.icons[4].image, TrayImage::GreenGreen);

  tray.OnCommand(ID_HIDE_WINDOW);
  tray.OnBlinkTimer();
  EXPECT_EQ(view.icons[5].image, TrayImage::YellowYellow);
  EXPECT_EQ(view.icons[5].tip, "Quillview - Hidden");
  EXPECT_EQ(view.icons[6].image, TrayImage::YellowGreen);
}

TEST_F(TrayTest, ImageTable) {
  struct Row {
    TrayState state;
    TrayImage on, off;
  };
  for (Row r : {Row{TrayState::Disconnected, TrayImage::RedRed, TrayImage::RedGreen},
                Row{TrayState::Receiving, TrayImage::GreenYellow, TrayImage::GreenGreen},
                Row{TrayState::Hidden, TrayImage::YellowGreen, TrayImage::YellowYellow}}) {
    EXPECT_EQ(qvTray::ImageFor(r.state, true), r.on) << static_cast<int>(r.state);
    EXPECT_EQ(qvTray::ImageFor(r.state, false), r.off) << static_cast<int>(r.state);
  }
}

TEST_F(TrayTest, RequestTimerAsksForUpdatesOnlyWhileNothingIsReceived) {
  Start();
  tray.OnRequestTimer();
  tray.OnRequestTimer();
  EXPECT_EQ(requests.Drain(), 2);
  Receive();
  tray.OnRequestTimer();
  EXPECT_EQ(requests.Drain(), 0);
  // A refresh asked for by the user goes out in any state.
  tray.OnCommand(ID_REQUEST_REFRESH);
  EXPECT_EQ(requests.Drain(), 1);
}

TEST_F(TrayTest, WaitingBoxIsShownOnceWhileOpen) {
  Start();
  int nested = 0;
  view.duringBox = [&] {
    // Double clicks while the box is open do nothing.
    if (nested++ == 0) {
      tray.OnTrayDoubleClick();
      tray.OnCommand(ID_FULL_SCREEN);
    }
  };
  tray.OnTrayDoubleClick();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].caption, "Quillview Information");
  EXPECT_EQ(view.boxes[0].text, kWaitingText);
  EXPECT_EQ(view.boxes[0].icon, MessageIcon::Information);
  // Closed: the next double click shows it again.
  tray.OnTrayDoubleClick();
  EXPECT_EQ(view.boxes.size(), 2u);
  EXPECT_FALSE(viewer.fullScreen);
}

TEST_F(TrayTest, GreyedItemsHideShowAndTheHotKey) {
  Start();
  tray.OnMenuAboutToShow();
  EXPECT_FALSE(view.itemsEnabled);
  tray.OnHotKey();  // nothing while disconnected
  view.RunPosted();
  EXPECT_TRUE(view.posted.empty());
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  tray.OnCommand(ID_HIDE_WINDOW);
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  EXPECT_TRUE(tray.WindowShown());

  Receive();
  tray.OnMenuAboutToShow();
  EXPECT_TRUE(view.itemsEnabled);
  viewer.shown = true;
  tray.OnHotKey();
  view.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Hidden);
  EXPECT_FALSE(viewer.shown);
  EXPECT_FALSE(view.hideItem);
  EXPECT_FALSE(tray.WindowShown());

  tray.OnHotKey();
  view.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Receiving);
  EXPECT_TRUE(viewer.shown);
  EXPECT_TRUE(view.hideItem);
  EXPECT_TRUE(tray.WindowShown());
}

TEST_F(TrayTest, FullScreenTogglesAndShowsTheWindow) {
  Start();
  Receive();
  tray.OnCommand(ID_HIDE_WINDOW);
  tray.OnTrayDoubleClick();
  EXPECT_TRUE(viewer.fullScreen);
  EXPECT_TRUE(view.fullScreenChecked);
  EXPECT_TRUE(tray.FullScreenSetting());
  view.RunPosted();
  EXPECT_EQ(tray.State(), TrayState::Receiving);
  EXPECT_TRUE(viewer.shown);

  tray.OnCommand(ID_FULL_SCREEN);
  view.RunPosted();
  EXPECT_FALSE(viewer.fullScreen);
  EXPECT_FALSE(view.fullScreenChecked);
  EXPECT_FALSE(tray.FullScreenSetting());
  EXPECT_TRUE(viewer.shown);
  EXPECT_TRUE(view.boxes.empty());
}

TEST_F(TrayTest, DisconnectionRestartsTheViewerAndRequestsResume) {
  Start();
  Receive();
  tray.OnCommand(ID_HIDE_WINDOW);
  // The update thread hands the disconnection over.
  tray.RestartViewer();
  EXPECT_EQ(tray.State(), TrayState::Disconnected);
  EXPECT_TRUE(viewer.restarting);
  ASSERT_FALSE(view.icons.empty());
  EXPECT_EQ(view.icons.back().tip, "Quillview - Disconnected");
  EXPECT_EQ(viewer.stops, 0);  // not on the caller's thread
  view.RunPosted();
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_EQ(viewer.inits, 2);
  EXPECT_TRUE(view.hideItem);
  EXPECT_TRUE(tray.WindowShown());
  requests.Drain();
  tray.OnRequestTimer();
  EXPECT_EQ(requests.Drain(), 1);
}

TEST_F(TrayTest, PortChangeWhileDisconnectedRestartsAtOnce) {
  Start();
  tray.SetPort(6200);
  view.RunPosted();
  EXPECT_EQ(viewer.ports, (std::vector<int>{6100, 6200}));
  EXPECT_EQ(tray.Service().DestinationPort(), 6201);
  EXPECT_FALSE(tray.RestartNeeded());
}

TEST_F(TrayTest, PortChangeWhileReceivingWaitsAndShowsTheBoxAfterTheDialog) {
  Start();
  Receive();
  view.duringSettings = [&] {
    ReceiverDialogValues v{6200, false, false, 0x027B, true};
    EXPECT_TRUE(tray.AcceptSettings(v).valid);
    EXPECT_TRUE(view.boxes.empty());  // only after the dialog
  };
  tray.OnCommand(ID_SETTINGS);
  view.RunPosted();
  EXPECT_EQ(viewer.inits, 1);  // old port still in use
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].text, kRestartNeededText);
  EXPECT_EQ(view.boxes[0].caption, "Quillview Information");
  EXPECT_FALSE(tray.RestartNeeded());
  EXPECT_EQ(store.saves, 1);
  EXPECT_EQ(store.saved.port, 6200);

  // The sender disconnects: the viewer comes back on the new port.
  tray.RestartViewer();
  view.RunPosted();
  EXPECT_EQ(viewer.ports.back(), 6200);
  EXPECT_EQ(tray.Service().DestinationPort(), 6201);
}

TEST_F(TrayTest, SettingsDialogOpensOnceAndInvalidPortsApplyNothing) {
  Start();
  view.duringSettings = [&] {
    tray.OnCommand(ID_SETTINGS);  // already open: nothing
    PortCheck c = tray.AcceptSettings({5983, true, false, 0x027B, true});
    EXPECT_FALSE(c.valid);
    EXPECT_EQ(c.port, 5984);
  };
  tray.OnCommand(ID_SETTINGS);
  EXPECT_EQ(view.settingsRuns, 1);
  EXPECT_EQ(store.saves, 0);
  EXPECT_FALSE(tray.FullScreenSetting());
  EXPECT_EQ(tray.Port(), 6100);
  EXPECT_FALSE(tray.SettingsOpen());

  view.duringAbout = [&] { tray.OnCommand(ID_ABOUT); };
  tray.OnCommand(ID_ABOUT);
  EXPECT_EQ(view.aboutRuns, 1);
}

TEST_F(TrayTest, AcceptedSettingsAreAppliedAndSaved) {
  Start();
  EXPECT_TRUE(tray.AcceptSettings({6100, true, false, 0x0441, true}).valid);
  EXPECT_TRUE(tray.FullScreenSetting());
  EXPECT_FALSE(viewer.fullScreen);  // stored only
  EXPECT_EQ(view.unregisters, 1);
  EXPECT_EQ(view.hotkeys.back(), 0x0441u);
  EXPECT_EQ(viewer.inits, 1);  // same port: no restart
  EXPECT_EQ(store.saved.hotkey, 0x0441u);
  EXPECT_TRUE(store.saved.fullScreen);
  EXPECT_FALSE(store.savedSkippingPort);

  // Unticking the hot key releases it at once.
  tray.AcceptSettings({6100, true, false, 0x0441, false});
  EXPECT_FALSE(view.registered);
  EXPECT_FALSE(tray.HotkeyEnabled());
  size_t registrations = view.hotkeys.size();
  // Unchanged values do not touch the registration.
  tray.AcceptSettings({6100, true, false, 0x0441, false});
  EXPECT_EQ(view.hotkeys.size(), registrations);
}

TEST_F(TrayTest, CommandLinePortIsAppliedButNotStored) {
  Start();
  tray.SetPort(7000);
  tray.SetPortFromCommandLine();
  view.RunPosted();
  EXPECT_EQ(viewer.ports.back(), 7000);
  tray.AcceptSettings({7002, false, false, 0x027B, true});
  view.RunPosted();
  EXPECT_EQ(viewer.ports.back(), 7002);
  EXPECT_TRUE(store.savedSkippingPort);
}

TEST_F(TrayTest, FatalStopRunsOnce) {
  Start();
  Receive();
  viewer.shown = true;
  tray.FatalStop(true);
  tray.FatalStop(true);
  tray.FatalStop(false);
  view.RunPosted();
  ASSERT_EQ(view.boxes.size(), 1u);
  EXPECT_EQ(view.boxes[0].caption, "Quillview Error");
  EXPECT_EQ(view.boxes[0].text, kFatalText);
  EXPECT_EQ(view.boxes[0].icon, MessageIcon::Error);
  EXPECT_FALSE(viewer.shown);
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_EQ(view.quits, 1);
  EXPECT_EQ(view.exitCode, 0);
  EXPECT_EQ(view.icons.back().action, TrayAction::Delete);
  // The viewer window's destruction while closing calls it again: nothing.
  tray.FatalStop(false);
  view.RunPosted();
  EXPECT_EQ(view.quits, 1);
}

TEST_F(TrayTest, QuitClosesInOrder) {
  Start();
  tray.OnCommand(ID_QUIT);
  EXPECT_EQ(view.quits, 0);  // posted
  view.RunPosted();
  EXPECT_EQ(view.quits, 1);
  EXPECT_EQ(viewer.stops, 1);
  EXPECT_TRUE(tray.Closing());
  // A restart queued behind the quit does not bring the viewer back.
  tray.RestartViewer();
  view.RunPosted();
  EXPECT_EQ(viewer.inits, 1);
  tray.Shutdown();
  EXPECT_FALSE(view.registered);
  size_t deletes = 0;
  for (auto& i : view.icons) deletes += i.action == TrayAction::Delete;
  EXPECT_EQ(deletes, 1u);
  EXPECT_EQ(requests.Drain(), 0);
  tray.SendUpdateRequest();  // socket closed: nothing goes out
  EXPECT_EQ(requests.Drain(), 0);
}

}  // namespace
}  // namespace qc
