// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/private_store.h"

#include <windows.h>

#include <vector>

namespace qc {

namespace {
std::string KeyPath(const std::string& stem) { return "Software\\Quillcast\\" + stem; }
}  // namespace

std::string PrivateStore::Where() const {
  return "HKEY_CURRENT_USER\\" + KeyPath(stem_) + ", value " + name_;
}

bool PrivateStore::Write(const std::string& text) const {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(stem_).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetValueExA(key, name_.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS;
}

std::optional<std::string> PrivateStore::Read(std::string* problem) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(stem_).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0, size = 0;
  LONG rc = RegQueryValueExA(key, name_.c_str(), nullptr, &type, nullptr, &size);
  std::optional<std::string> text;
  if (rc == ERROR_SUCCESS && type == REG_SZ && size > 0 && size < 65536) {
    std::vector<char> buf(size + 1, '\0');
    rc = RegQueryValueExA(key, name_.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                          &size);
    if (rc == ERROR_SUCCESS) text = std::string(buf.data());
  } else if (rc == ERROR_SUCCESS && problem != nullptr) {
    *problem = Where() + " is not a key";
  }
  RegCloseKey(key);
  return text;
}

bool PrivateStore::Remove() const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(stem_).c_str(), 0, KEY_WRITE, &key) !=
      ERROR_SUCCESS) {
    return true;
  }
  const LONG rc = RegDeleteValueA(key, name_.c_str());
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

}  // namespace qc
