// SPDX-License-Identifier: GPL-3.0-or-later
// The stored settings as both programs read and write them, with the log
// lines both write: "<tag>: Cannot load registry settings, using defaults"
// when there is no file, "<tag>: Cannot restore <Name> value" for a value
// that cannot be read (which then keeps its default), and "<tag>: Error
// opening registry settings for writing" when the file cannot be saved.
#pragma once

#include <cstdint>

#include "platform/settings_file.h"

namespace qc {

class StoredValues {
 public:
  // Loads file (logging when there is none).
  StoredValues(SettingsFile& file, const char* logTag);
  bool Loaded() const { return loaded_; }

  // Sets value when name can be read, else logs and leaves it. A stored
  // number is taken unaltered; any non-zero number is true.
  bool Read(const char* name, int32_t& value);
  bool Read(const char* name, uint32_t& value);
  bool Read(const char* name, bool& value);

 private:
  SettingsFile& file_;
  const char* logTag_;
  bool loaded_;
};

// Saves file, logging a failure under logTag.
void SaveStoredValues(const SettingsFile& file, const char* logTag);

}  // namespace qc
