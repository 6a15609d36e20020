// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/sender_settings.h"

#include "common/log_file.h"
#include "shell/stored_values.h"

namespace qc {

void LoadSenderSettings(SettingsFile& file, SenderSettings& s) {
  StoredValues stored(file, "qcTray");
  if (!stored.Loaded()) return;
  stored.Read("MulticastPort", s.port);
  stored.Read("UpdatePeriod", s.updatePeriod);
  stored.Read("DisableVideoAcceleration", s.disableAcceleration);
  stored.Read("HotkeyStart", s.hotkeyStart);
  stored.Read("HotkeyPause", s.hotkeyPause);
  stored.Read("EnableHotkeyStart", s.enableHotkeyStart);
  stored.Read("EnableHotkeyPause", s.enableHotkeyPause);
  stored.Read("Monitor", s.monitor);
  stored.Read("VideoMode", s.videoMode);
  stored.Read("VideoBitrate", s.videoBitrate);
  stored.Read("VideoForOldReceivers", s.videoForOldReceivers);
  bool logging = false;
  if (stored.Read("EnableLogging", logging)) Log().Enable(logging);
}

void SaveSenderSettings(SettingsFile& file, const SenderSettings& s, bool loggingOn) {
  // Start from what is stored, so that a port that is not written here, and
  // lines of a hand-edited file, survive.
  file.Load();
  if (!s.portFromCommandLine) file.Write("MulticastPort", s.port);
  file.Write("UpdatePeriod", s.updatePeriod);
  file.Write("DisableVideoAcceleration", s.disableAcceleration ? 1 : 0);
  file.Write("HotkeyStart", static_cast<int32_t>(s.hotkeyStart));
  file.Write("HotkeyPause", static_cast<int32_t>(s.hotkeyPause));
  file.Write("EnableHotkeyStart", s.enableHotkeyStart ? 1 : 0);
  file.Write("EnableHotkeyPause", s.enableHotkeyPause ? 1 : 0);
  file.Write("EnableLogging", loggingOn ? 1 : 0);
  if (!s.monitorFromCommandLine) file.Write("Monitor", s.monitor);
  file.Write("VideoMode", s.videoMode);
  file.Write("VideoBitrate", s.videoBitrate);
  file.Write("VideoForOldReceivers", s.videoForOldReceivers ? 1 : 0);
  SaveStoredValues(file, "qcSettings");
}

}  // namespace qc
