// Test doubles of the receiver controller's surroundings: a view that
// records what it is asked to show and queues posted calls until the test
// runs them, a viewer that only keeps its flags, and a settings store in
// memory.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "receiver/shell/qv_tray.h"

namespace qc::test {

class FakeView : public ReceiverTrayView {
 public:
  struct Box {
    std::string caption;
    std::string text;
    MessageIcon icon;
  };
  struct Icon {
    TrayAction action;
    TrayImage image;
    std::string tip;
  };

  void Attach(qvTray&) override {}
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
  void UnregisterHotKey() override { registered = false; }
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
  int quits = 0;
  int exitCode = -7;
};

class FakeViewer : public ViewerControl {
 public:
  bool Init(qvTray& tray) override {
    ++inits;
    ports.push_back(tray.Port());
    receiving = false;
    fullScreen = tray.FullScreenSetting();
    return initResult;
  }
  void Stop() override {
    ++stops;
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
  bool receiving = false, fullScreen = false, restarting = false, shown = false;
};

class FakeStore : public SettingsStore {
 public:
  void Load(ReceiverSettings& s) override { s = stored; }
  void Save(const ReceiverSettings& s, bool portFromCommandLine) override {
    ++saves;
    saved = s;
    savedSkippingPort = portFromCommandLine;
  }
  ReceiverSettings stored;
  ReceiverSettings saved;
  bool savedSkippingPort = false;
  int saves = 0;
};

}  // namespace qc::test
