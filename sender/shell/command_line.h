// The sender's command line: "-start" and "-port <n>", scanned byte by byte
// with the historic rules (a separator is any byte <= 32 read as signed, so
// also every byte from 0x80 up; one byte after "-start" and after "-port" is
// skipped whatever it is), plus the long options --headless, --help and
// --version, which are taken out of the argument list first.
#pragma once

#include <string>
#include <string_view>

namespace qc {

struct CommandLine {
  enum class Status {
    Ok,
    Usage,        // unknown token: "Quillcast Usage" box, exit 0
    InvalidPort,  // bad -port value: "Invalid Value" box, exit 0
  };
  Status status = Status::Ok;
  bool start = false;
  int port = 0;  // 0: none given, the stored setting is used
  bool headless = false;
  bool help = false;
  bool version = false;
};

inline constexpr char kUsageText[] = "QcSend.exe [-start] [-port xxxx]";
inline constexpr char kUsageCaption[] = "Quillcast Usage";
inline constexpr char kInvalidPortText[] = "Port must be an even number in the range 1024..65534.";
inline constexpr char kInvalidValueCaption[] = "Invalid Value";

// Scans one command-line string (without the program name); the start and
// port fields of out are updated as the tokens are met, so a later -port
// replaces an earlier one. Returns the status.
CommandLine::Status ScanCommandLine(std::string_view line, CommandLine& out);

// argv as the program gets it: long options ("--...") are taken out, the
// other arguments are joined with single blanks and scanned. An unknown long
// option gives Usage.
CommandLine ParseArguments(int argc, const char* const* argv);

// Full usage for --help, naming the settings file.
std::string LongUsage(const std::string& settingsPath);

}  // namespace qc
