// The receiver's command line.
//
// The classic part is one text scanned byte by byte: separators are the bytes
// that read as a signed char are at most 0x20, every other token must begin
// with "-port", and the byte right after "-port" is skipped whatever it is
// (so "-port 6000" and "-port=6000" both work, and "-port6000" reads "000").
// On Linux the program's arguments are joined with single blanks to make that
// text, after the long options (--headless, --snapshot FILE, --help,
// --version), which are this port's own, have been taken out.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr char kUsageText[] = "QvRecv.exe [-port xxxx]";
inline constexpr char kUsageCaption[] = "Quillview Usage";
inline constexpr char kInvalidPortText[] = "Port must be an even number in the range 1024..65534.";
inline constexpr char kInvalidValueCaption[] = "Invalid Value";

enum class CommandLineAction {
  Run,          // start the receiver
  Usage,        // show the usage box, exit 0
  InvalidPort,  // show the invalid-port box, exit 0
  Help,         // --help: print the usage to standard output, exit 0
  Version,      // --version: print the version, exit 0
};

struct CommandLine {
  CommandLineAction action = CommandLineAction::Run;
  int port = 0;  // 0: no -port option
  bool headless = false;
  std::string snapshotPath;  // empty: no --snapshot
};

// Scans the classic command-line text. Returns Run, Usage or InvalidPort;
// port is the last valid "-port" value, or 0.
CommandLine ScanCommandText(std::string_view text);

// The whole command line: args without the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

}  // namespace qv
