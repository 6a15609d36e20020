// SPDX-License-Identifier: GPL-3.0-or-later
// Test doubles of the receiver controller's surroundings: a view that
// records what it is asked to show, a viewer that only keeps its flags, and
// a settings store in memory (the UI services: FakeUiServices).
#pragma once

#include <vector>

#include "receiver/shell/qv_tray.h"
#include "tests/support/fake_ui_services.h"

namespace qc::test {

class FakeView : public ReceiverTrayView {
 public:
  // What the view was asked: Add for the first image, Modify for the next
  // ones, Delete for the removal.
  struct Icon {
    TrayAction action;
    TrayImage image;
    std::string tip;
  };

  void Attach(qvTray&) override {}
  void SetTrayIcon(TrayImage image, const char* tip) override {
    icons.push_back({shown ? TrayAction::Modify : TrayAction::Add, image, tip});
    shown = true;
  }
  void RemoveTrayIcon() override {
    icons.push_back({TrayAction::Delete, TrayImage::RedGreen, ""});
    shown = false;
  }
  void SetWindowItem(bool hide) override { hideItem = hide; }
  void EnableReceivingItems(bool enabled) override { itemsEnabled = enabled; }
  void SetFullScreenChecked(bool c) override { fullScreenChecked = c; }
  void RunSettingsDialog() override {
    ++settingsRuns;
    if (duringSettings) duringSettings();
  }
  void RunAboutDialog() override {
    ++aboutRuns;
    if (duringAbout) duringAbout();
  }

  std::vector<Icon> icons;
  bool shown = false, hideItem = true, itemsEnabled = true, fullScreenChecked = false;
  std::function<void()> duringSettings, duringAbout;
  int settingsRuns = 0, aboutRuns = 0;
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
    receiving = restarting = false;
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
  ReceiverSettings stored, saved;
  bool savedSkippingPort = false;
  int saves = 0;
};

}  // namespace qc::test
