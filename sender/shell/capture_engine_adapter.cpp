// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/capture_engine_adapter.h"

#include "sender/capture/cursor_source.h"
#include "sender/capture/screen_source.h"
#include "sender/shell/qc_tray.h"

namespace qc {

static_assert(kFullUpdateTimerMs == qcCapture::kFullUpdateIntervalMs);
static_assert(kKeepAliveTimerMs == qcCapture::kKeepAliveIntervalMs);

CaptureEngineAdapter::CaptureEngineAdapter(std::unique_ptr<ScreenSource> screen,
                                           std::unique_ptr<CursorSource> cursor)
    : capture_(std::move(screen), std::move(cursor)) {}

CaptureEngineAdapter::~CaptureEngineAdapter() = default;

bool CaptureEngineAdapter::Init(qcTray& tray) {
  owner_.tray = &tray;
  const SenderSettings& s = tray.Settings();
  VideoSettings video;
  video.mode = s.videoMode == 0 ? VideoMode::Off : s.videoMode == 1 ? VideoMode::On : VideoMode::Auto;
  video.bitrateKbps = s.videoBitrate;
  video.legacyRefresh = s.videoForOldReceivers;
  capture_.ConfigureVideo(video);
  return capture_.Init(&owner_);
}

qcSender& CaptureEngineAdapter::Owner::Sender() { return tray->Sender(); }
int CaptureEngineAdapter::Owner::UpdatePeriod() const { return tray->UpdatePeriod(); }
void CaptureEngineAdapter::Owner::FatalError() { tray->FatalError(); }
void CaptureEngineAdapter::Owner::ChangeSent() { tray->AdvanceIcon(); }
void CaptureEngineAdapter::Owner::ShowErrorMessage(const char* caption, const char* text) {
  tray->ShowErrorMessage(caption, text);
}

}  // namespace qc
