// A single-instance lock: an exclusive flock on a named file in the per-user
// runtime directory ($XDG_RUNTIME_DIR, else /tmp). The lock is held while the
// object lives and released by the kernel when the process ends, however it
// ends.
#pragma once

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
  static std::string DefaultPath(const char* name);

  // Opens (creating it if needed) and locks the file without waiting.
  Result Acquire(const std::string& path);
  void Release();

 private:
  int fd_ = -1;
};

}  // namespace qc
