#include "platform/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qc {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// mkdir -p for the folders above path's last component.
bool MakeParents(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    std::string dir = path.substr(0, pos);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string SettingsFile::DefaultPath(const char* fileName) {
  std::string base;
  const char* xdg = getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/Quillcast/" + fileName;
}

std::optional<uint32_t> SettingsFile::ParseValue(const std::string& raw) {
  std::string text = Trim(raw);
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

bool SettingsFile::Load() {
  lines_.clear();
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    std::string name = eq == std::string::npos ? std::string() : Trim(line.substr(0, eq));
    if (name.empty() || name[0] == '#') {
      lines_.push_back({std::string(), line});
    } else {
      lines_.push_back({name, line.substr(eq + 1)});
    }
  }
  return !in.bad();
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

bool SettingsFile::Save() const {
  if (!MakeParents(path_)) return false;
  std::string temp = path_ + ".new";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  std::string content;
  for (const auto& line : lines_) {
    content += line.name.empty() ? line.text : line.name + "=" + line.text;
    content += '\n';
  }
  bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), path_.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace qc
