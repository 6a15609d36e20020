// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/console_output.h"

#include <cstdio>

namespace qc {

void PrintMessage(std::string_view prefix, std::string_view caption, std::string_view text) {
  std::string line;
  line.reserve(prefix.size() + caption.size() + text.size() + 3);
  line.append(prefix).append(caption).append(": ").append(text).append("\n");
  fputs(line.c_str(), stderr);
  fflush(stderr);
}

void ConsoleStateLine::Show(std::string_view tip) {
  if (tip == lastTip_) return;
  lastTip_ = tip;
  std::string line = prefix_ + lastTip_ + "\n";
  fputs(line.c_str(), stderr);
  fflush(stderr);
}

}  // namespace qc
