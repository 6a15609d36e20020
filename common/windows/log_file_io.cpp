// SPDX-License-Identifier: GPL-3.0-or-later
// Windows part of LogFile: the local time from the system time and the
// active time zone, formatted by GetTimeFormatA with quoted colons (so the
// user's own time separator is not used); the file opened for writing with
// reading shared, and cut to length 0.
#include <windows.h>

#include <cstring>

#include "common/log_file.h"

namespace qc {

void LogFile::LocalTimePrefix(char out[10]) {
  SYSTEMTIME utc, local;
  GetSystemTime(&utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) ||
      GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &local, "HH':'mm':'ss ", out, 10) != 10) {
    std::memcpy(out, "00:00:00 ", 10);
  }
}

LogFile::FileHandle LogFile::OpenTruncated(const char* fileName) {
  HANDLE file = CreateFileA(fileName, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  SetEndOfFile(file);
  return reinterpret_cast<FileHandle>(file);
}

void LogFile::WriteLine(FileHandle file, const char* line, int length) {
  DWORD written = 0;
  WriteFile(reinterpret_cast<HANDLE>(file), line, static_cast<DWORD>(length), &written, nullptr);
}

void LogFile::CloseFile(FileHandle file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

void LogFile::DeleteNamedFile(const char* fileName) { DeleteFileA(fileName); }

}  // namespace qc
