// SPDX-License-Identifier: GPL-3.0-or-later
// POSIX part of LogFile: local time through localtime_r, the file through a
// descriptor opened for appending.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "common/log_file.h"

namespace qc {

void LogFile::LocalTimePrefix(char out[10]) {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr || strftime(out, 10, "%H:%M:%S ", &local) != 9u) {
    memcpy(out, "00:00:00 ", 10);
  }
}

LogFile::FileHandle LogFile::OpenTruncated(const char* fileName) {
  int fd = open(fileName, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd >= 0 && ftruncate(fd, 0) != 0) {
    // Nothing to report: the log is best effort.
  }
  return fd >= 0 ? fd : kNoFile;
}

void LogFile::WriteLine(FileHandle file, const char* line, int length) {
  ssize_t ignored = write(static_cast<int>(file), line, static_cast<size_t>(length));
  (void)ignored;
}

void LogFile::CloseFile(FileHandle file) { close(static_cast<int>(file)); }

void LogFile::DeleteNamedFile(const char* fileName) { unlink(fileName); }

}  // namespace qc
