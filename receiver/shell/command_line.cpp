// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/command_line.h"

#include "common/transmission_signing.h"

namespace qc {

ReceiverCommandLine ParseCommandLine(const std::vector<std::string>& args) {
  SplitArguments split =
      TakeLongOptions(args, {{"--headless", "--help", "--version"}, {"--snapshot", "--trust"}});
  ReceiverCommandLine result;
  result.headless = split.Has("--headless");
  if (split.Has("--snapshot")) result.snapshotPath = split.options.find("--snapshot")->second;
  if (split.Has("--help")) {
    result.action = CommandLineAction::Help;
  } else if (split.Has("--version")) {
    result.action = CommandLineAction::Version;
  } else {
    ClassicScan scan = ScanClassicCommandLine(split.classic, /*takesStart=*/false);
    result.port = scan.port;
    if (scan.status == ClassicScan::Status::Usage) result.action = CommandLineAction::Usage;
    if (scan.status == ClassicScan::Status::InvalidPort) {
      result.action = CommandLineAction::InvalidPort;
    }
    PublicKey key;
    if (split.Has("--trust")) {
      result.trustKey = split.options.find("--trust")->second;
      if (result.action == CommandLineAction::Run && !ParsePublicKeyText(result.trustKey, key)) {
        result.action = CommandLineAction::InvalidKey;
      }
    }
  }
  return result;
}

}  // namespace qc
