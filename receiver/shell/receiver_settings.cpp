#include "receiver/shell/receiver_settings.h"

#include "common/log_file.h"
#include "platform/settings_file.h"

namespace qc {

std::string qvSettings::DefaultPath() { return SettingsFile::DefaultPath(kReceiverSettingsFile); }

void qvSettings::Load(ReceiverSettings& s) {
  SettingsFile file(path_);
  if (!file.Load()) {
    Log().Print("qvTray: Cannot load registry settings, using defaults\n");
    return;
  }
  auto read = [&file](const char* name) {
    std::optional<uint32_t> v = file.Read(name);
    if (!v) Log().Print("qvTray: Cannot restore %s value\n", name);
    return v;
  };
  if (auto v = read("MulticastPort")) s.port = static_cast<int32_t>(*v);
  if (auto v = read("FullScreen")) s.fullScreen = *v != 0;
  if (auto v = read("HotkeyHide")) s.hotkey = *v;
  if (auto v = read("EnableHotkeyHide")) s.hotkeyEnabled = *v != 0;
  if (auto v = read("EnableLogging")) {
    s.logging = *v != 0;
    Log().Enable(s.logging);
  }
}

void qvSettings::Save(const ReceiverSettings& s, bool portFromCommandLine) {
  SettingsFile file(path_);
  file.Load();  // keeps lines written by others; a missing file is fine
  if (!portFromCommandLine) file.Write("MulticastPort", s.port);
  file.Write("FullScreen", s.fullScreen ? 1 : 0);
  file.Write("HotkeyHide", static_cast<int32_t>(s.hotkey));
  file.Write("EnableHotkeyHide", s.hotkeyEnabled ? 1 : 0);
  file.Write("EnableLogging", s.logging ? 1 : 0);
  if (!file.Save()) Log().Print("qvSettings: Error opening registry settings for writing\n");
}

}  // namespace qc
