// The viewer of the headless receiver: qvViewer drawing into nothing. The
// full-screen flag is kept so that the controller's toggle behaves as with a
// window; showing and hiding change nothing.
#pragma once

#include "receiver/shell/tray.h"
#include "receiver/viewer/viewer.h"

namespace qv {

class HeadlessViewer : public ViewerControl {
 public:
  bool Init(qvTray& tray) override {
    fullScreen_ = tray.FullScreenSetting();
    return viewer_.Init(&tray, &surface_, static_cast<uint16_t>(tray.Port()));
  }
  void Stop() override { viewer_.Stop(); }
  bool IsReceiving() const override { return viewer_.IsReceiving(); }
  bool IsFullScreen() const override { return fullScreen_; }
  void SetRestarting() override {}
  void ShowWindow(bool) override {}
  void SetFullScreen(bool on) override { fullScreen_ = on; }

  qc::qvViewer& Viewer() { return viewer_; }

 private:
  qc::qvViewer viewer_;
  qc::NullSurface surface_;
  bool fullScreen_ = false;
};

}  // namespace qv
