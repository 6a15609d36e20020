// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qc {

LockFile::~LockFile() { Release(); }

std::string LockFile::DefaultPath(const char* name) {
  // The user's own runtime folder; else a name of the user's own in the
  // shared /tmp, so that one user's lock never stops another user's program.
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/" + name;
  return "/tmp/" + std::string(name) + "-" + std::to_string(getuid());
}

LockFile::Result LockFile::Acquire(const std::string& path) {
  Release();
  // Read-only is enough for flock, and lets the lock work on a file that
  // another user created in a shared /tmp. O_NOFOLLOW refuses a planted link.
  int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Result::Failed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    close(fd);
    return error == EWOULDBLOCK ? Result::HeldElsewhere : Result::Failed;
  }
  handle_ = fd;
  return Result::Acquired;
}

void LockFile::Release() {
  if (handle_ >= 0) {
    close(static_cast<int>(handle_));  // drops the lock; the file stays for the next run
    handle_ = -1;
  }
}

}  // namespace qc
