// SPDX-License-Identifier: GPL-3.0-or-later
// A single-instance lock, held while the object lives and released by the
// system when the process ends, however it ends. On POSIX: an exclusive flock
// on a named file in the per-user runtime directory ($XDG_RUNTIME_DIR, else
// /tmp). On Windows: a named mutex of the user's session, whose name is the
// path.
#pragma once

#include <cstdint>
#include <string>

namespace qc {

class LockFile {
 public:
  enum class Result { Acquired, HeldElsewhere, Failed };

  LockFile() = default;
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  // $XDG_RUNTIME_DIR/<name>, else /tmp/<name>-<uid>: one lock per user.
  // On Windows the name itself.
  static std::string DefaultPath(const char* name);

  // Opens (creating it if needed) and locks the file, or creates the mutex,
  // without waiting.
  Result Acquire(const std::string& path);
  void Release();

 private:
  intptr_t handle_ = -1;  // the descriptor, or the mutex's HANDLE
};

}  // namespace qc
