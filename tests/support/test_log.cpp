// SPDX-License-Identifier: GPL-3.0-or-later
// The log object of test binaries. It stays disabled unless a test enables
// it, and keeps its file.
#include "common/log_file.h"

namespace qc {

LogFile& Log() {
  static LogFile log("quillcast-test.log", LogFile::ExitPolicy::Keep);
  return log;
}

}  // namespace qc
