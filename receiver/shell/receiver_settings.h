// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's five stored settings, kept in
// $XDG_CONFIG_HOME/Quillcast/Receiver.conf, one "Name=value" line each.
#pragma once

#include <cstdint>
#include <string>

namespace qc {

inline constexpr char kReceiverSettingsFile[] = "Receiver.conf";
inline constexpr uint32_t kDefaultHotkey = 0x027B;  // Ctrl+F12

struct ReceiverSettings {
  int32_t port = 5982;          // "MulticastPort", taken unaltered
  bool fullScreen = false;      // "FullScreen"
  uint32_t hotkey = kDefaultHotkey;  // "HotkeyHide", 16-bit hot-key code
  bool hotkeyEnabled = true;    // "EnableHotkeyHide"
  bool logging = false;         // "EnableLogging": the log object's own flag
};

// Where the tray controller loads from and saves to.
class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // Overwrites the values that can be read; the others keep what they hold.
  // A readable "EnableLogging" switches the log on or off at once.
  virtual void Load(ReceiverSettings& settings) = 0;
  // Writes every value; the port only when it did not come from the command
  // line.
  virtual void Save(const ReceiverSettings& settings, bool portFromCommandLine) = 0;
};

// qvSettings: the settings file.
class qvSettings : public SettingsStore {
 public:
  explicit qvSettings(std::string path) : path_(std::move(path)) {}
  // The per-user default location.
  static std::string DefaultPath();

  void Load(ReceiverSettings& settings) override;
  void Save(const ReceiverSettings& settings, bool portFromCommandLine) override;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qc
