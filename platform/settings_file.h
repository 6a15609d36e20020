// SPDX-License-Identifier: GPL-3.0-or-later
// A program's stored settings: named 32-bit values. On POSIX a per-user
// settings file, one "Name=value" line per value, values as decimal 32-bit
// integers, in $XDG_CONFIG_HOME/Quillcast/<file> ($XDG_CONFIG_HOME defaults
// to ~/.config). On Windows REG_DWORD values under a key of
// HKEY_CURRENT_USER; the path is then the key.
//
// A value that is missing, or whose text is not a valid 32-bit integer (in
// the registry: whose data is longer than 4 bytes), cannot be read: the
// caller keeps its default. Lines this class does not understand are kept as
// they are when the file is written back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qc {

class SettingsFile {
 public:
  explicit SettingsFile(std::string path) : path_(std::move(path)) {}

  // $XDG_CONFIG_HOME/Quillcast/<fileName>, or ~/.config/Quillcast/<fileName>.
  // On Windows the key "Software\\Quillcast\\<fileName without extension>\\".
  static std::string DefaultPath(const char* fileName);

  // Reads the file. False when it does not exist or cannot be read; the
  // values are then empty.
  bool Load();

  // The value, or nothing when it is missing or not a 32-bit integer.
  // Negative numbers read as their two's complement.
  std::optional<uint32_t> Read(const char* name) const;
  // Sets the value in memory (written by Save), as a signed decimal number.
  void Write(const char* name, int32_t value);

  // Writes every line to the file (through a temporary file and a rename,
  // so a crash never leaves half a file), creating the folder if needed.
  // On Windows: creates the key if needed and writes every readable value.
  bool Save() const;

  const std::string& Path() const { return path_; }

  // The parsing rule, exposed for tests: optional blanks, an optional sign,
  // decimal digits, optional blanks; -2147483648 to 4294967295.
  static std::optional<uint32_t> ParseValue(const std::string& text);

 private:
  struct Line {
    std::string name;  // empty for a line that is not "Name=value"
    std::string text;  // the value text, or the whole line when name is empty
  };
  std::string path_;
  std::vector<Line> lines_;
};

}  // namespace qc
