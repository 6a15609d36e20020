// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/windows/win_acceleration.h"

#include "common/log_file.h"

namespace qc {

namespace {

constexpr char kDeviceMapKey[] = "Hardware\\DeviceMap\\Video";
constexpr char kDeviceValue[] = "\\Device\\Video0";
constexpr char kLevelValue[] = "Acceleration.Level";
// The device map's text is read into a buffer of this size; a longer one
// counts as unreadable.
constexpr DWORD kDeviceMapBytes = 200;

// The system version; nothing (logged) when it cannot be read.
std::optional<OSVERSIONINFOA> SystemVersion() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) {
    Log().Print("qcTray: GetVersionEx failed (error %ld)\n", static_cast<long>(GetLastError()));
    return std::nullopt;
  }
  return version;
}

std::optional<std::string> ReadDeviceMap() {
  HKEY map = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kDeviceMapKey, 0, KEY_READ, &map) != ERROR_SUCCESS) {
    Log().Print("qcTray: Cannot open Hardware\\DeviceMap\\Video registry key\n");
    return std::nullopt;
  }
  std::optional<std::string> text;
  DWORD length = 0;
  char buffer[kDeviceMapBytes + 1] = {};
  if (RegQueryValueExA(map, kDeviceValue, nullptr, nullptr, nullptr, &length) != ERROR_SUCCESS) {
    Log().Print("qcTray: Cannot get data length for \\Device\\Video0 registry key\n");
  } else if (length > kDeviceMapBytes ||
             RegQueryValueExA(map, kDeviceValue, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(buffer), &length) != ERROR_SUCCESS) {
    Log().Print("qcTray: Cannot get data for \\Device\\Video0 registry key\n");
  } else {
    text = std::string(buffer);  // up to the terminating zero, if any
  }
  RegCloseKey(map);
  return text;
}

}  // namespace

std::optional<std::string> RegistryAcceleration::DriverKeyPath(const std::string& deviceMap,
                                                               DWORD major, DWORD minor) {
  if (major < 5) return std::nullopt;
  bool windows2000 = major == 5 && minor == 0;
  size_t at = deviceMap.find(windows2000 ? "Services" : "System");
  if (at == std::string::npos) return std::nullopt;
  std::string rest = deviceMap.substr(at);
  return windows2000 ? "SYSTEM\\CurrentControlSet\\" + rest : rest;
}

bool RegistryAcceleration::Available() {
  CloseKey();
  std::optional<OSVERSIONINFOA> version = SystemVersion();
  if (!version || version->dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
  std::optional<std::string> deviceMap = ReadDeviceMap();
  if (!deviceMap) return false;
  std::optional<std::string> path =
      DriverKeyPath(*deviceMap, version->dwMajorVersion, version->dwMinorVersion);
  if (!path || RegOpenKeyExA(HKEY_LOCAL_MACHINE, path->c_str(), 0,
                             KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY,
                             &key_) != ERROR_SUCCESS) {
    key_ = nullptr;
    Log().Print("qcTray: Cannot open SYSTEM\\CurrentControlSet\\Services registry key\n");
    return false;
  }
  return true;
}

std::optional<int> RegistryAcceleration::ReadLevel() {
  if (key_ == nullptr) return std::nullopt;
  DWORD level = 0;
  DWORD size = sizeof level;
  if (RegQueryValueExA(key_, kLevelValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&level),
                       &size) != ERROR_SUCCESS ||
      size != sizeof level) {
    return std::nullopt;
  }
  return static_cast<int>(level);
}

bool RegistryAcceleration::WriteLevel(int level) {
  if (key_ == nullptr) return false;
  DWORD value = static_cast<DWORD>(level);
  return RegSetValueExA(key_, kLevelValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value) == ERROR_SUCCESS;
}

void RegistryAcceleration::ReapplyDisplaySettings() { ChangeDisplaySettingsA(nullptr, 0); }

void RegistryAcceleration::CloseKey() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}

}  // namespace qc
