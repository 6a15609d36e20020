#include "tests/receiver/receiver_test_util.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/log_file.h"

namespace qc::test {

namespace {

void EnterTempDirectoryOnce() {
  static bool done = [] {
    static char dir[] = "/tmp/qv-receiver-test-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) std::abort();
    Log().Enable(true);
    // The log and its directory go when the binary ends.
    atexit([] {
      unlink((std::string(dir) + "/" + Log().FileName()).c_str());
      rmdir(dir);
    });
    return true;
  }();
  (void)done;
}

std::string ReadAll() {
  std::ifstream in(Log().FileName(), std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

LogReader::LogReader() {
  EnterTempDirectoryOnce();
  Mark();
}

void LogReader::Mark() { mark_ = ReadAll().size(); }

std::string LogReader::Since() const {
  std::string all = ReadAll();
  return mark_ < all.size() ? all.substr(mark_) : std::string();
}

int LogReader::Count(const std::string& needle) const {
  std::string text = Since();
  int n = 0;
  for (size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + needle.size())) {
    ++n;
  }
  return n;
}

}  // namespace qc::test
