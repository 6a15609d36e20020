// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide diagnostic log. Each line is the local time "HH:MM:SS ",
// then the caller's message; a message ending in LF is written with CR LF.
// Logging is off until Enable(true); the first enable of the process creates
// or truncates the file, later ones go on writing after what was written.
//
// Print may be called from any thread without a lock: each line is built in
// a stack buffer and written with one system call, so lines never interleave
// and nothing is allocated per line. While the file is open, other programs
// may read it; on Windows they may not write or delete it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

namespace qc {

class LogFile {
 public:
  // What the exit step does with the file when logging is off at that moment.
  enum class ExitPolicy { DeleteWhenDisabled, Keep };

  // fileName is relative to the working directory (the program's own choice).
  LogFile(const char* fileName, ExitPolicy policy);
  // The exit step: close the file; with DeleteWhenDisabled, delete it if
  // logging is off now (even when this process never opened it).
  virtual ~LogFile();

  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Enable(bool on);
  bool IsEnabled() const { return enabled_.load(std::memory_order_relaxed); }
  const std::string& FileName() const { return fileName_; }

  // Builds one line into buf (at least kLineBuffer bytes) and returns its
  // length; exposed so the format can be checked without a clock race.
  static constexpr int kLineBuffer = 1024;
  static int FormatLine(char* buf, const char* timePrefix9, const char* format, va_list args);

 private:
  std::string fileName_;
  ExitPolicy policy_;
  std::atomic<bool> enabled_{false};
  // The operating system's part (log_file_io.cpp, one per platform). A file
  // is a descriptor or a HANDLE; kNoFile when it could not be opened.
  using FileHandle = intptr_t;
  static constexpr FileHandle kNoFile = -1;
  static void LocalTimePrefix(char out[10]);  // "HH:MM:SS " and a terminator
  static FileHandle OpenTruncated(const char* fileName);
  static void WriteLine(FileHandle file, const char* line, int length);
  static void CloseFile(FileHandle file);
  static void DeleteNamedFile(const char* fileName);

  std::atomic<FileHandle> fd_{kNoFile};
  std::atomic<bool> opened_{false};
};

// The program's one log object. Each program (and each test binary) defines
// it in exactly one file, choosing the file name and the exit policy.
LogFile& Log();

}  // namespace qc
