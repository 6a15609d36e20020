// The program's Qt viewer window (windowed and full screen) behind the
// controller's ViewerControl; the headless viewer is in headless_viewer.h.
#pragma once

#include <atomic>

#include "receiver/shell/headless_viewer.h"
#include "receiver/viewer/viewer_window.h"

namespace qc {

class WindowViewer : public ProgramViewer {
 public:
  bool Init(qvTray& tray) override {
    window_.SetCommandHandler([&tray](int id) { tray.OnCommand(id); });
    return window_.Start(&tray, static_cast<uint16_t>(tray.Port()), tray.FullScreenSetting());
  }
  void Stop() override {
    // The restart mark may come from the update thread; the window takes it
    // here, on the GUI thread, right before it is stopped.
    if (restarting_.exchange(false)) window_.SetRestarting();
    window_.Stop();
  }
  bool IsReceiving() const override { return window_.IsReceiving(); }
  bool IsFullScreen() const override { return window_.IsFullScreen(); }
  void SetRestarting() override { restarting_ = true; }
  void ShowWindow(bool show) override { window_.ShowViewer(show); }
  void SetFullScreen(bool on) override { window_.SetFullScreen(on); }
  qc::FramebufferView Picture() const override { return viewer_.FramebufferInfo(); }
  qc::ViewerWindow& Window() { return window_; }

 private:
  qc::qvViewer viewer_;  // outlives the window
  qc::ViewerWindow window_{viewer_};
  std::atomic<bool> restarting_{false};
};

}  // namespace qc
