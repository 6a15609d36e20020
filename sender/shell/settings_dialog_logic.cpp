// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/settings_dialog_logic.h"

#include <algorithm>

#include "common/log_file.h"
#include "sender/capture/video_region.h"
#include "sender/shell/qc_tray.h"

namespace qc {

int64_t BoxNumber(const std::string& text) {
  int64_t value = 0;
  bool any = false;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    any = true;
    if (value < 0xFFFFFFFFll) value = value * 10 + (c - '0');
  }
  if (!any) return 0;
  return value > 0xFFFFFFFFll ? 0xFFFFFFFFll : value;
}

int64_t StepPeriod(int64_t v, bool up) {
  if (up) {
    int64_t step = v < 50 ? 5 : v < 200 ? 10 : 50;
    return v + step - ((v + step) % step);
  }
  int64_t step = v <= 50 ? 5 : v <= 200 ? 10 : 50;
  return (v - 1) - ((v - 1) % step);
}

void qcSettings::Open() {
  port_ = tray_.Settings().port;
  period_ = tray_.Settings().updatePeriod;
}

BoxUpdate qcSettings::OnPortSpin(const std::string& boxText, bool up) {
  port_ = StepPort(BoxNumber(boxText), up);
  return {std::to_string(port_), nullptr};
}

BoxUpdate qcSettings::OnPeriodSpin(const std::string& boxText, bool up) {
  int64_t v = StepPeriod(BoxNumber(boxText), up);
  if (v < kMinUpdatePeriod) {
    period_ = kMinUpdatePeriod;
    return {std::to_string(period_), kInvalidPeriodText};
  }
  // The box holds at most an unsigned 32-bit number; keep the stored
  // period in int range.
  period_ = static_cast<int>(v > 0x7FFFFFFF ? 0x7FFFFFFF : v);
  return {std::to_string(period_), nullptr};
}

std::optional<BoxUpdate> qcSettings::OnPeriodFocusLost(const std::string& boxText) {
  int64_t v = BoxNumber(boxText);
  if (v < kMinUpdatePeriod) {
    period_ = kMinUpdatePeriod;
    return BoxUpdate{std::to_string(period_), kInvalidPeriodText};
  }
  period_ = static_cast<int>(v > 0x7FFFFFFF ? 0x7FFFFFFF : v);
  return std::nullopt;
}

std::optional<BoxUpdate> qcSettings::OnOk(const SettingsDialogValues& values) {
  int64_t p = BoxNumber(values.portText);
  if (!IsValidPort(p)) {
    port_ = NearestValidPort(p);
    return BoxUpdate{std::to_string(port_), kInvalidPortDialogText};
  }
  port_ = static_cast<int>(p);
  const int64_t bitrate = BoxNumber(values.videoBitrateText);
  if (bitrate < VideoRegion::kMinBitrateKbps || bitrate > VideoRegion::kMaxBitrateKbps) {
    const int64_t nearest = std::clamp<int64_t>(bitrate, VideoRegion::kMinBitrateKbps,
                                                VideoRegion::kMaxBitrateKbps);
    return BoxUpdate{std::to_string(nearest), kInvalidVideoBitrateText, true};
  }
  const int mode = std::clamp(values.videoMode, 0, 2);
  const SenderSettings& current = tray_.Settings();
  if (port_ != current.port) tray_.SetPort(port_);
  if (period_ != current.updatePeriod) tray_.SetUpdatePeriod(period_);
  if (values.disableAcceleration != current.disableAcceleration) {
    tray_.SetDisableAcceleration(values.disableAcceleration);
  }
  if (values.logging != Log().IsEnabled()) Log().Enable(values.logging);
  if (values.hotkeyStart != current.hotkeyStart ||
      values.enableHotkeyStart != current.enableHotkeyStart) {
    tray_.SetHotKey(0, values.hotkeyStart, values.enableHotkeyStart);
  }
  if (values.hotkeyPause != current.hotkeyPause ||
      values.enableHotkeyPause != current.enableHotkeyPause) {
    tray_.SetHotKey(1, values.hotkeyPause, values.enableHotkeyPause);
  }
  if (mode != current.videoMode || bitrate != current.videoBitrate) {
    tray_.SetVideo(mode, static_cast<int>(bitrate));
  }
  if (values.monitor >= 0) tray_.SetMonitor(values.monitor);
  tray_.SaveSettings();
  return std::nullopt;
}

}  // namespace qc
