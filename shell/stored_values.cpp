// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/stored_values.h"

#include "common/log_file.h"

namespace qc {

StoredValues::StoredValues(SettingsFile& file, const char* logTag)
    : file_(file), logTag_(logTag), loaded_(file.Load()) {
  if (!loaded_) Log().Print("%s: Cannot load registry settings, using defaults\n", logTag_);
}

bool StoredValues::Read(const char* name, uint32_t& value) {
  std::optional<uint32_t> v = file_.Read(name);
  if (!v) {
    Log().Print("%s: Cannot restore %s value\n", logTag_, name);
    return false;
  }
  value = *v;
  return true;
}

bool StoredValues::Read(const char* name, int32_t& value) {
  uint32_t v = 0;
  if (!Read(name, v)) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool StoredValues::Read(const char* name, bool& value) {
  uint32_t v = 0;
  if (!Read(name, v)) return false;
  value = v != 0;
  return true;
}

void SaveStoredValues(const SettingsFile& file, const char* logTag) {
  if (!file.Save()) Log().Print("%s: Error opening registry settings for writing\n", logTag);
}

}  // namespace qc
