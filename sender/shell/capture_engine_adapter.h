// SPDX-License-Identifier: GPL-3.0-or-later
// The real capture engine (qcCapture on the X11 screen and cursor sources)
// behind the tray controller's CaptureEngine interface.
#pragma once

#include <memory>

#include "sender/capture/capture.h"
#include "sender/capture/sender.h"
#include "sender/shell/capture_engine.h"

namespace qc {

class qcTray;

class CaptureEngineAdapter : public CaptureEngine {
 public:
  // cursor may be null (no cursor capture).
  CaptureEngineAdapter(std::unique_ptr<ScreenSource> screen, std::unique_ptr<CursorSource> cursor);
  ~CaptureEngineAdapter() override;

  bool Init(qcTray& tray) override;
  void SetPolling(bool on) override { capture_.SetPolling(on); }
  void RestartPollTimer() override { capture_.RestartPollTimer(); }
  void SendDisconnection() override { capture_.SendDisconnection(); }
  void RequestRefresh() override { capture_.RequestRefresh(); }
  void RequestRepair(uint16_t screenId, uint32_t first, uint32_t last) override {
    capture_.RequestRepair(screenId, first, last);
  }
  void SetOwnIconArea(const ScreenRect& area) override { capture_.SetOwnIconArea(area); }
  void SetPaused(bool paused) override { capture_.SetPaused(paused); }
  bool IsPaused() const override { return capture_.IsPaused(); }
  bool IsPolling() const override { return capture_.IsPolling(); }
  void OnFullUpdateTimer() override { capture_.OnFullUpdateTimer(); }
  void OnKeepAliveTimer() override { capture_.OnKeepAliveTimer(); }
  void OnDisplayChange() override { capture_.OnDisplayChange(); }
  bool AreaFellBack() const override { return capture_.AreaFellBack(); }
  bool VideoActive() const override { return capture_.VideoActive(); }

 private:
  // The engine's owner: forwards to the tray.
  class Owner : public CaptureOwner {
   public:
    qcSender& Sender() override;
    int UpdatePeriod() const override;
    void FatalError() override;
    void ChangeSent() override;
    void ShowErrorMessage(const char* caption, const char* text) override;
    qcTray* tray = nullptr;
  };

  Owner owner_;
  // Declared last: destroyed (its work thread stopped) before the owner.
  qcCapture capture_;
};

}  // namespace qc
