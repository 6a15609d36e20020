// SPDX-License-Identifier: GPL-3.0-or-later
// The command line both programs read, in two steps. First the long options
// ("--headless", "--help", ...), which are this port's own, are taken out of
// the arguments; the rest is joined with single blanks into the one text the
// classic scan reads byte by byte:
// - a separator is any byte that, read as a signed char, is at most 0x20
//   (so also every byte from 0x80 up);
// - every other token must begin with "-port" (or "-start" where the program
//   takes it); the byte right after either keyword is skipped whatever it
//   is, so "-port 6000" and "-port=6000" both work and "-port6000" reads
//   "000";
// - a -port value has 1 to 5 bytes up to the next separator, read like
//   atoi, and must be an even number in kMinPort..kMaxPort.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qc {

// Shown in the "Invalid Value" box for a bad -port value (both programs).
inline constexpr char kInvalidValueCaption[] = "Invalid Value";
inline constexpr char kInvalidPortText[] = "Port must be an even number in the range 1024..65534.";

// The long options a program knows: flags ("--headless") and options with a
// value ("--snapshot FILE" or "--snapshot=FILE").
struct LongOptionSet {
  std::vector<std::string_view> flags;
  std::vector<std::string_view> valued;
};

struct SplitArguments {
  // Each known long option met, by name ("--headless"); a flag maps to "".
  std::map<std::string, std::string, std::less<>> options;
  // Everything else (also an unknown long option, or a valued one without
  // its value), joined with single blanks.
  std::string classic;

  bool Has(std::string_view name) const { return options.find(name) != options.end(); }
};

// args: the arguments without the program name.
SplitArguments TakeLongOptions(const std::vector<std::string>& args, const LongOptionSet& known);

struct ClassicScan {
  enum class Status {
    Ok,
    Usage,        // a token the program does not take: the usage box, exit 0
    InvalidPort,  // a bad -port value: the "Invalid Value" box, exit 0
  };
  Status status = Status::Ok;
  bool start = false;  // "-start" was given
  int port = 0;        // the last -port value; 0 when none (or not Ok)
};

// Scans the classic text. takesStart: "-start" is a keyword (the sender);
// otherwise it is an unknown token like any other.
ClassicScan ScanClassicCommandLine(std::string_view text, bool takesStart);

}  // namespace qc
