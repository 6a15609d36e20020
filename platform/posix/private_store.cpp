// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/settings_file.h"

namespace qc {

namespace {

bool MakeParents(const std::string& path) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

}  // namespace

std::string PrivateStore::Where() const {
  return SettingsFile::DefaultPath((stem_ + "." + name_).c_str());
}

bool PrivateStore::Write(const std::string& text) const {
  const std::string path = Where();
  if (!MakeParents(path)) return false;
  const std::string temp = path + ".tmp";
  unlink(temp.c_str());
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = fchmod(fd, 0600) == 0;
  size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = fsync(fd) == 0 && ok;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

std::optional<std::string> PrivateStore::Read(std::string* problem) const {
  const std::string path = Where();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT && problem != nullptr) *problem = path + " cannot be read";
    return std::nullopt;
  }
  struct stat st {};
  std::string text;
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size < 65536;
  if (ok && (st.st_mode & 077) != 0) {
    if (problem != nullptr) *problem = path + " may be read by others (chmod 600 it)";
    ok = false;
  } else if (ok) {
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = n == 0;
        break;
      }
      text.append(buf, static_cast<size_t>(n));
    }
    if (!ok && problem != nullptr) *problem = path + " cannot be read";
  } else if (problem != nullptr) {
    *problem = path + " is not a key file";
  }
  close(fd);
  if (!ok) return std::nullopt;
  return text;
}

bool PrivateStore::Remove() const { return unlink(Where().c_str()) == 0 || errno == ENOENT; }

}  // namespace qc
