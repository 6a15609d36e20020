// SPDX-License-Identifier: GPL-3.0-or-later
// Test doubles of the tray controller's surroundings: a view that records
// what it is asked to show, a capture engine that only keeps its flags, and
// an acceleration backend in memory (the UI services: FakeUiServices).
#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "sender/capture/capture_engine.h"
#include "sender/shell/acceleration.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/tray_view.h"
#include "tests/support/fake_ui_services.h"

namespace qc::test {

class FakeView : public TrayView {
 public:
  bool SetTrayIcon(int index, const char* text) override {
    iconIndex = index;
    tip = text;
    return true;
  }
  void RemoveTrayIcon() override { trayRemoved = true; }
  void SetMenu(const TrayMenu& m) override { menu = m; }
  void ShowStartingDialog() override {
    startingVisible = true;
    ++startingShown;
  }
  void HideStartingDialog() override { startingVisible = false; }
  void CloseStartingDialog() override {
    startingVisible = false;
    ++startingClosed;
  }
  void RunSettingsDialog(qcTray& tray) override {
    ++settingsRuns;
    if (settingsAction) settingsAction(tray);
  }
  AboutChoice RunAboutBox() override {
    ++aboutRuns;
    return aboutAction ? aboutAction() : AboutChoice::Close;
  }
  void OpenUrl(const std::string& url) override { urls.push_back(url); }

  int iconIndex = -1;
  std::string tip;
  bool trayRemoved = false, startingVisible = false;
  TrayMenu menu;
  int startingShown = 0, startingClosed = 0, settingsRuns = 0, aboutRuns = 0;
  std::function<void(qcTray&)> settingsAction;
  std::function<AboutChoice()> aboutAction;
  std::vector<std::string> urls;
};

class FakeEngine : public CaptureEngine {
 public:
  bool Init(CaptureOwner* tray) override {
    owner = tray;
    return initResult;
  }
  void SetPolling(bool on) override { polling = on; }
  void UpdatePeriodChanged() override { ++periodChanges; }
  void SendDisconnection() override { ++disconnections; }
  void RequestRefresh() override { ++refreshes; }  // also from the listen thread
  void RequestRepair(uint16_t id, uint32_t first, uint32_t last, uint32_t from) override {
    std::lock_guard<std::mutex> wait(busy);
    repairFrom = from;
    repairKey = (uint64_t{id} << 40) | (uint64_t{first} << 20) | last;
    ++repairs;
  }
  void SetPaused(bool p) override { paused = p; }
  bool IsPaused() const override { return paused; }
  bool IsPolling() const override { return polling; }
  void OnKeepAliveTimer() override {}
  void OnDisplayChange() override {}

  CaptureOwner* owner = nullptr;
  bool initResult = true;
  std::atomic<bool> polling{false}, paused{false};
  std::atomic<int> refreshes{0}, repairs{0};
  std::atomic<uint64_t> repairKey{0};  // id, first, last of the last repair
  std::atomic<uint32_t> repairFrom{0};  // its sender's address
  std::mutex busy;  // a test holds it: the listen thread waits in RequestRepair
  int disconnections = 0, periodChanges = 0;
};

class FakeAcceleration : public AccelerationBackend {
 public:
  bool Available() override { return available; }
  std::optional<int> ReadLevel() override { return level; }
  bool WriteLevel(int l) override {
    if (!writable) return false;
    level = l;
    ++writes;
    return true;
  }
  void ReapplyDisplaySettings() override { ++reapplied; }

  bool available = true, writable = true;
  std::optional<int> level = 0;
  int writes = 0, reapplied = 0;
};

}  // namespace qc::test
