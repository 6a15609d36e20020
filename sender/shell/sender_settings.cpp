#include "sender/shell/sender_settings.h"

#include "common/log_file.h"
#include "platform/settings_file.h"

namespace qc {

void LoadSenderSettings(SettingsFile& file, SenderSettings& s) {
  if (!file.Load()) {
    Log().Print("qcTray: Cannot load registry settings, using defaults\n");
    return;
  }
  auto read = [&file](const char* name) {
    std::optional<uint32_t> v = file.Read(name);
    if (!v) Log().Print("qcTray: Cannot restore %s value\n", name);
    return v;
  };
  if (auto v = read("MulticastPort")) s.port = static_cast<int32_t>(*v);
  if (auto v = read("UpdatePeriod")) s.updatePeriod = static_cast<int32_t>(*v);
  if (auto v = read("DisableVideoAcceleration")) s.disableAcceleration = *v != 0;
  if (auto v = read("HotkeyStart")) s.hotkeyStart = *v;
  if (auto v = read("HotkeyPause")) s.hotkeyPause = *v;
  if (auto v = read("EnableHotkeyStart")) s.enableHotkeyStart = *v != 0;
  if (auto v = read("EnableHotkeyPause")) s.enableHotkeyPause = *v != 0;
  if (auto v = read("EnableLogging")) Log().Enable(*v != 0);
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
  if (!file.Save()) Log().Print("qcSettings: Error opening registry settings for writing\n");
}

}  // namespace qc
