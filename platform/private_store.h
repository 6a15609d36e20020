// SPDX-License-Identifier: GPL-3.0-or-later
// A short text that only its user may read or change: the sender's signing
// key, and the sender key a receiver trusts. One per (stem, name):
// - POSIX: the file "<stem>.<name>" beside the settings file
//   ($XDG_CONFIG_HOME/Quillcast/, default ~/.config/Quillcast/), in a folder
//   of mode 0700; the file is created with mode 0600 (never wider, whatever
//   the umask), written through a temporary file and a rename. A file that
//   others may read or write is refused when read.
// - Windows: the REG_SZ value <name> under the key Software/Quillcast/<stem>
//   of HKEY_CURRENT_USER, in the user's own registry hive.
//
// Threads: any; no state is shared between calls.
#pragma once

#include <optional>
#include <string>

namespace qc {

class PrivateStore {
 public:
  PrivateStore(std::string stem, std::string name)
      : stem_(std::move(stem)), name_(std::move(name)) {}

  // Where the text is kept, for messages ("/home/u/.config/Quillcast/x.y",
  // or the registry key and value).
  std::string Where() const;
  bool Write(const std::string& text) const;
  // The text, or nothing when there is none; a text that cannot be used
  // (unreadable, or readable by others) gives nothing and a reason.
  std::optional<std::string> Read(std::string* problem) const;
  bool Remove() const;

 private:
  std::string stem_;
  std::string name_;
};

}  // namespace qc
