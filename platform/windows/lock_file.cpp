// SPDX-License-Identifier: GPL-3.0-or-later
// Windows implementation of LockFile: a named mutex. The first process that
// creates it holds the instance; Windows closes the handle when the process
// ends, and the mutex goes with the last handle.
#include "platform/lock_file.h"

#include <windows.h>

namespace qc {

LockFile::~LockFile() { Release(); }

std::string LockFile::DefaultPath(const char* name) { return name; }

LockFile::Result LockFile::Acquire(const std::string& path) {
  Release();
  HANDLE mutex = CreateMutexA(nullptr, FALSE, path.c_str());
  if (mutex == nullptr) return Result::Failed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return Result::HeldElsewhere;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
  return Result::Acquired;
}

void LockFile::Release() {
  if (handle_ != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
  }
}

}  // namespace qc
