#include "common/log_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace qc {

namespace {

// The message area starts after the 9 time bytes and takes at most 1013
// bytes; the line is terminated at offset 1022 at the latest, which leaves
// room for the CR that precedes a final LF.
constexpr int kPrefix = 9;
constexpr int kMaxMessage = 1013;
constexpr int kMaxLine = 1022;

void LocalTimePrefix(char out[kPrefix + 1]) {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr ||
      strftime(out, kPrefix + 1, "%H:%M:%S ", &local) != static_cast<size_t>(kPrefix)) {
    memcpy(out, "00:00:00 ", kPrefix + 1);
  }
}

}  // namespace

LogFile::LogFile(const char* fileName, ExitPolicy policy) : fileName_(fileName), policy_(policy) {}

LogFile::~LogFile() {
  int fd = fd_.exchange(-1);
  if (fd >= 0) close(fd);
  if (policy_ == ExitPolicy::DeleteWhenDisabled && !enabled_.load()) {
    unlink(fileName_.c_str());
  }
}

int LogFile::FormatLine(char* buf, const char* timePrefix9, const char* format, va_list args) {
  memcpy(buf, timePrefix9, kPrefix);
  // vsnprintf with room for 1013 bytes plus its terminator cuts a longer
  // message after 1013 bytes.
  vsnprintf(buf + kPrefix, kMaxMessage + 1, format, args);
  buf[kMaxLine] = '\0';
  int n = static_cast<int>(strlen(buf));
  if (n >= 1 && n <= kMaxLine && buf[n - 1] == '\n') {
    buf[n - 1] = '\r';
    buf[n] = '\n';
    buf[n + 1] = '\0';
    ++n;
  }
  return n;
}

void LogFile::Print(const char* format, ...) {
  if (!enabled_.load(std::memory_order_relaxed)) return;
  char prefix[kPrefix + 1];
  LocalTimePrefix(prefix);
  char line[kLineBuffer];
  va_list args;
  va_start(args, format);
  int n = FormatLine(line, prefix, format, args);
  va_end(args);
  int fd = fd_.load(std::memory_order_relaxed);
  if (fd >= 0) {
    ssize_t ignored = write(fd, line, static_cast<size_t>(n));
    (void)ignored;  // a failed write is ignored
  }
}

void LogFile::Enable(bool on) {
  enabled_.store(on);
  if (on && !opened_.exchange(true)) {
    // Created or truncated once per process; a failure leaves the program
    // working without a log, silently, for the rest of the run.
    int fd = open(fileName_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (ftruncate(fd, 0) != 0) {
        // Nothing to report: the log is best effort.
      }
      fd_.store(fd);
    }
  }
}

}  // namespace qc
