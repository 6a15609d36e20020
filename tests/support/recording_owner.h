// SPDX-License-Identifier: GPL-3.0-or-later
// A viewer owner for tests: counts what the viewer and the window ask of it;
// the optional restart hook runs on the calling thread (the update thread).
#pragma once

#include <atomic>
#include <functional>
#include <tuple>

#include "receiver/viewer/viewer_owner.h"

namespace qc::test {

class RecordingOwner : public ViewerOwner {
 public:
  void UpdateTrayIcon(TrayState state) override {
    if (state == TrayState::Receiving) ++receivingIcons;
  }
  void SendUpdateRequest() override { ++requests; }
  // Counted as requests too; the last range is kept.
  void SendRepairRequest(uint16_t screenId, uint32_t first, uint32_t last) override {
    ++requests;
    ++repairs;
    lastRepair = {screenId, first, last};
  }
  void RestartViewer() override {
    ++restarts;
    if (onRestart) onRestart();
  }
  void FatalStop(bool showMessage) override {
    lastShowMessage = showMessage;
    ++fatals;
  }

  std::atomic<int> receivingIcons{0};
  std::atomic<int> requests{0};
  std::atomic<int> repairs{0};
  std::tuple<uint16_t, uint32_t, uint32_t> lastRepair;  // update thread only
  std::atomic<int> restarts{0};
  std::atomic<int> fatals{0};
  std::atomic<bool> lastShowMessage{true};
  std::function<void()> onRestart;
};

}  // namespace qc::test
