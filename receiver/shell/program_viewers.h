// SPDX-License-Identifier: GPL-3.0-or-later
// The program's two viewers behind the controller's ViewerControl: a viewer
// window (windowed and full screen; the Qt or the Win32 one) and the
// headless one (qvViewer drawing into nothing). Both hand out the received
// picture for snapshots. No Qt here: both receivers use them.
#pragma once

#include <atomic>

#include "receiver/shell/qv_tray.h"
#include "receiver/viewer/viewer.h"

namespace qc {

class ProgramViewer : public ViewerControl {
 public:
  // The framebuffer as the receiver holds it (GUI thread; valid until the
  // next Stop).
  virtual qc::FramebufferView Picture() const = 0;
};

class HeadlessViewer : public ProgramViewer {
 public:
  bool Init(qvTray& tray) override {
    fullScreen_ = tray.FullScreenSetting();
    if (!viewer_.TrustSender(tray.TrustedSender())) return false;
    return viewer_.Init(&tray, &surface_, static_cast<uint16_t>(tray.Port()));
  }
  void Stop() override { viewer_.Stop(); }
  bool IsReceiving() const override { return viewer_.IsReceiving(); }
  // Kept so that the controller's toggle and its stored setting behave as
  // with a window; showing and hiding change nothing.
  bool IsFullScreen() const override { return fullScreen_; }
  void SetRestarting() override {}
  void ShowWindow(bool) override {}
  void SetFullScreen(bool on) override { fullScreen_ = on; }
  qc::FramebufferView Picture() const override { return viewer_.FramebufferInfo(); }

 private:
  qc::qvViewer viewer_;
  qc::NullSurface surface_;
  bool fullScreen_ = false;
};

// Window: a viewer window made from the qvViewer it shows.
template <class Window>
class WindowViewer : public ProgramViewer {
 public:
  bool Init(qvTray& tray) override {
    window_.SetCommandHandler([&tray](int id) { tray.OnCommand(id); });
    if (!viewer_.TrustSender(tray.TrustedSender())) return false;
    return window_.Start(&tray, static_cast<uint16_t>(tray.Port()), tray.FullScreenSetting());
  }
  void Stop() override {
    // The restart mark may come from the update thread; the window takes it
    // here, on the GUI thread, right before it is stopped.
    if (restarting_.exchange(false)) window_.SetRestarting();
    window_.Stop();
  }
  bool IsReceiving() const override { return viewer_.IsReceiving(); }
  bool IsFullScreen() const override { return window_.IsFullScreen(); }
  void SetRestarting() override { restarting_ = true; }
  void ShowWindow(bool show) override { window_.ShowViewer(show); }
  void SetFullScreen(bool on) override { window_.SetFullScreen(on); }
  qc::FramebufferView Picture() const override { return viewer_.FramebufferInfo(); }

 private:
  qc::qvViewer viewer_;  // outlives the window
  Window window_{viewer_};
  std::atomic<bool> restarting_{false};
};

}  // namespace qc
