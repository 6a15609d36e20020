// The receiving side without a window behind the controller's
// ViewerControl (qvViewer drawing into nothing), for --headless. No Qt: the
// Windows receiver uses it too. ProgramViewer hands out the received picture
// for snapshots.
#pragma once

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

}  // namespace qc
