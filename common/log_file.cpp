// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/log_file.h"

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

}  // namespace

LogFile::LogFile(const char* fileName, ExitPolicy policy) : fileName_(fileName), policy_(policy) {}

LogFile::~LogFile() {
  FileHandle file = fd_.exchange(kNoFile);
  if (file != kNoFile) CloseFile(file);
  if (policy_ == ExitPolicy::DeleteWhenDisabled && !enabled_.load()) {
    DeleteNamedFile(fileName_.c_str());
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
  // Acquire: pairs with Enable's store, so that a thread that sees the
  // descriptor also sees it opened.
  FileHandle file = fd_.load(std::memory_order_acquire);
  if (file != kNoFile) WriteLine(file, line, n);  // a failed write is ignored
}

void LogFile::Enable(bool on) {
  enabled_.store(on);
  if (on && !opened_.exchange(true)) {
    // Created or truncated once per process; a failure leaves the program
    // working without a log, silently, for the rest of the run.
    fd_.store(OpenTruncated(fileName_.c_str()));
  }
}

}  // namespace qc
