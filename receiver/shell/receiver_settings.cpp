// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/receiver_settings.h"

#include "common/log_file.h"
#include "shell/stored_values.h"

namespace qc {

std::string qvSettings::DefaultPath() { return SettingsFile::DefaultPath(kReceiverSettingsFile); }

void qvSettings::Load(ReceiverSettings& s) {
  SettingsFile file(path_);
  StoredValues stored(file, "qvTray");
  if (!stored.Loaded()) return;
  stored.Read("MulticastPort", s.port);
  stored.Read("FullScreen", s.fullScreen);
  stored.Read("HotkeyHide", s.hotkey);
  stored.Read("EnableHotkeyHide", s.hotkeyEnabled);
  if (stored.Read("EnableLogging", s.logging)) Log().Enable(s.logging);
}

void qvSettings::Save(const ReceiverSettings& s, bool portFromCommandLine) {
  SettingsFile file(path_);
  file.Load();  // keeps lines written by others; a missing file is fine
  if (!portFromCommandLine) file.Write("MulticastPort", s.port);
  file.Write("FullScreen", s.fullScreen ? 1 : 0);
  file.Write("HotkeyHide", static_cast<int32_t>(s.hotkey));
  file.Write("EnableHotkeyHide", s.hotkeyEnabled ? 1 : 0);
  file.Write("EnableLogging", s.logging ? 1 : 0);
  SaveStoredValues(file, "qvSettings");
}

}  // namespace qc
