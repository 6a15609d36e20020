// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's settings, held in memory by the tray controller, loaded
// once at start-up and written back after OK in the settings dialog. They live
// in the settings file "Vorazudud.conf" (platform/settings_file.h).
#pragma once

#include <cstdint>

#include "common/protocol.h"
#include "sender/capture/video_region.h"

namespace qc {

class SettingsFile;

inline constexpr char kSenderSettingsFile[] = "Vorazudud.conf";

// Hot-key codes: virtual key in the low byte, modifier flags in the high
// byte (0x01 Shift, 0x02 Control, 0x04 Alt, 0x08 Super).
inline constexpr uint32_t kDefaultHotkeyStart = 0x047B;  // Alt+F12
inline constexpr uint32_t kDefaultHotkeyPause = 0x047A;  // Alt+F11

struct SenderSettings {
  int port = kDefaultPort;                     // "MulticastPort"
  int updatePeriod = 10;                       // "UpdatePeriod", ms
  bool disableAcceleration = false;            // "DisableVideoAcceleration"
  uint32_t hotkeyStart = kDefaultHotkeyStart;  // "HotkeyStart"
  uint32_t hotkeyPause = kDefaultHotkeyPause;  // "HotkeyPause"
  bool enableHotkeyStart = true;               // "EnableHotkeyStart"
  bool enableHotkeyPause = true;               // "EnableHotkeyPause"
  int monitor = 0;  // "Monitor": 0 the whole screen, k the k-th RandR monitor
  // A playing video's region as H.264: "VideoMode" 0 off, 1 on (any region
  // changing at a video-like rate), 2 auto (...with photographic content);
  // "VideoBitrate", its cap in kbit/s; "VideoForOldReceivers", the region
  // also losslessly every 2 s for receivers that cannot decode it.
  int videoMode = 2;
  int videoBitrate = kDefaultVideoBitrateKbps;
  bool videoForOldReceivers = false;
  // "EnableLogging" is held by the log object.

  // Set when -port was given: the command-line port is the port in memory
  // and "MulticastPort" is never written.
  bool portFromCommandLine = false;
  // Set when -monitor was given: "Monitor" is then never written either.
  bool monitorFromCommandLine = false;
};

// Reads every value that can be read into settings (the others keep their
// values); "EnableLogging" switches the log object. No value is range-checked.
// A missing file logs "Cannot load registry settings" and changes nothing.
void LoadSenderSettings(SettingsFile& file, SenderSettings& settings);

// Writes all values (the port and the monitor only when they did not come
// from the command line) and the logging switch. Failures are only logged.
void SaveSenderSettings(SettingsFile& file, const SenderSettings& settings, bool loggingOn);

}  // namespace qc
