// SPDX-License-Identifier: GPL-3.0-or-later
// Files and folders for tests, on every platform the tests build for.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

namespace qc::test {

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

// A fresh folder in the system's temporary folder, removed with everything
// in it.
class TempDir {
 public:
  TempDir() {
    namespace fs = std::filesystem;
    std::random_device random;
    for (;;) {
      fs::path p = fs::temp_directory_path() / ("qc-test-" + std::to_string(random()));
      if (fs::create_directory(p)) {
        path_ = p.string();
        return;
      }
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace qc::test
