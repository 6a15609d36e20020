// SPDX-License-Identifier: GPL-3.0-or-later
// The values of SettingsFile in memory, the same on every platform; where
// they are stored is the platform's part (settings_file.cpp).
#include "platform/settings_file.h"

namespace qc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

}  // namespace

std::optional<uint32_t> SettingsFile::ParseValue(const std::string& raw) {
  size_t b = 0, e = raw.size();
  while (b < e && IsBlank(raw[b])) ++b;
  while (e > b && IsBlank(raw[e - 1])) --e;
  std::string text = raw.substr(b, e - b);
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > 0xFFFFFFFFull) return std::nullopt;
  }
  if (negative) {
    if (value > 0x80000000ull) return std::nullopt;
    return static_cast<uint32_t>(0x100000000ull - value);
  }
  return static_cast<uint32_t>(value);
}

std::optional<uint32_t> SettingsFile::Read(const char* name) const {
  // The last line of a name wins, as an editor that appends expects.
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
    if (it->name == name) return ParseValue(it->text);
  }
  return std::nullopt;
}

void SettingsFile::Write(const char* name, int32_t value) {
  std::string text = std::to_string(value);
  bool found = false;
  for (auto& line : lines_) {
    if (line.name == name) {
      line.text = text;
      found = true;
    }
  }
  if (!found) lines_.push_back({name, text});
}

}  // namespace qc
