// SPDX-License-Identifier: GPL-3.0-or-later
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
