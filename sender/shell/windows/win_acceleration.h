// SPDX-License-Identifier: GPL-3.0-or-later
// The display driver's hardware-acceleration switch on Windows: the
// "Acceleration.Level" REG_DWORD value in the driver's registry key, which
// the device map (HKEY_LOCAL_MACHINE\Hardware\DeviceMap\Video, value
// "\Device\Video0") names, and a request to the system to re-apply the
// display settings. AccelerationControl (sender/shell/acceleration.h) keeps
// the rule of when to switch and what to restore; this is the switch.
//
// Every failure is logged and ends the operation: writing below
// HKEY_LOCAL_MACHINE needs administrator rights, and drivers of the display
// driver model since Windows Vista may ignore the level altogether.
// UI thread.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "sender/shell/acceleration.h"

namespace qc {

class RegistryAcceleration : public AccelerationBackend {
 public:
  RegistryAcceleration() = default;
  ~RegistryAcceleration() override { CloseKey(); }
  RegistryAcceleration(const RegistryAcceleration&) = delete;
  RegistryAcceleration& operator=(const RegistryAcceleration&) = delete;

  // Finds and opens the driver's key; false (with its log line) when the
  // system is not of the NT family or the key cannot be found or opened.
  bool Available() override;
  std::optional<int> ReadLevel() override;
  bool WriteLevel(int level) override;
  // ChangeDisplaySettings(NULL, 0): the display settings from the registry.
  void ReapplyDisplaySettings() override;

  // The driver key's path below HKEY_LOCAL_MACHINE from the device map's
  // text ("\Registry\Machine\System\..."): on Windows 2000 (5.0) the part
  // from "Services" on below "SYSTEM\CurrentControlSet\", on later versions
  // the part from "System" on. Nothing when the text has no such part.
  static std::optional<std::string> DriverKeyPath(const std::string& deviceMap, DWORD major,
                                                  DWORD minor);

 private:
  void CloseKey();
  HKEY key_ = nullptr;  // the driver's key, open from Available on
};

}  // namespace qc
