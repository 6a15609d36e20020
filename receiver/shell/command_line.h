// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's command line: the classic "-port xxxx" (scanned as
// shell/command_line.h describes), after the long options --headless,
// --snapshot FILE, --trust KEY, --help and --version have been taken out.
#pragma once

#include <string>
#include <vector>

#include "shell/command_line.h"

namespace qc {

inline constexpr char kReceiverUsageText[] = "QvRecv.exe [-port xxxx]";
inline constexpr char kReceiverUsageCaption[] = "Quillview Usage";

enum class CommandLineAction {
  Run,          // start the receiver
  Usage,        // show the usage box, exit 0
  InvalidPort,  // show the invalid-port box, exit 0
  InvalidKey,   // --trust with a text that is no key: the "Invalid Value" box, exit 0
  Help,         // --help: print the usage to standard output, exit 0
  Version,      // --version: print the version, exit 0
};

struct ReceiverCommandLine {
  CommandLineAction action = CommandLineAction::Run;
  int port = 0;  // 0: no -port option
  bool headless = false;
  std::string snapshotPath;  // empty: no --snapshot
  std::string trustKey;      // --trust: the sender key of this run (text); empty: none
};

// args: without the program name. --help and --version win over anything
// the classic scan would say.
ReceiverCommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace qc
