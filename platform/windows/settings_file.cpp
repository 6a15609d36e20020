// SPDX-License-Identifier: GPL-3.0-or-later
// Windows implementation of SettingsFile's storage: REG_DWORD values under a
// key of HKEY_CURRENT_USER. Each value is read as a 32-bit number whatever
// its registry type, as long as its data fits in 4 bytes.
#include "platform/settings_file.h"

#include <windows.h>

#include <cstring>

namespace qc {

namespace {

class RegistryKey {
 public:
  ~RegistryKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::string SettingsFile::DefaultPath(const char* fileName) {
  std::string stem = fileName;
  size_t dot = stem.rfind('.');
  if (dot != std::string::npos) stem.resize(dot);
  return "Software\\Quillcast\\" + stem + "\\";
}

bool SettingsFile::Load() {
  lines_.clear();
  RegistryKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, KEY_READ, key.Out()) != ERROR_SUCCESS) {
    return false;
  }
  char name[16384];  // the longest value name the registry allows
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name;
    if (RegEnumValueA(key.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    uint8_t data[4] = {};
    DWORD size = sizeof data;
    // A value with more data than 4 bytes keeps an empty text: it cannot be
    // read, and Save leaves it alone.
    std::string text;
    if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, data, &size) == ERROR_SUCCESS) {
      uint32_t value = 0;
      std::memcpy(&value, data, sizeof value);
      text = std::to_string(value);
    }
    lines_.push_back({name, text});
  }
  return true;
}

bool SettingsFile::Save() const {
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_WRITE, nullptr, key.Out(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  // A value that cannot be written is skipped; the others are still written.
  for (const auto& line : lines_) {
    std::optional<uint32_t> value = ParseValue(line.text);
    if (line.name.empty() || !value) continue;
    DWORD dword = *value;
    RegSetValueExA(key.Get(), line.name.c_str(), 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  }
  return true;
}

}  // namespace qc
