// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's command line: the classic "-start" and "-port <n>" (scanned
// as shell/command_line.h describes), plus the long options --headless,
// --help, --version, --new-key and --capture x11|portal|wlr, and the area options "-monitor <k>" and
// "-region WxH+X+Y", which are taken out of the argument list first (each
// with the next argument as its value; a missing or bad value gives Usage).
#pragma once

#include <string>

#include "sender/capture/screen_area.h"
#include "sender/shell/capture_choice.h"
#include "shell/command_line.h"

namespace qc {

struct CommandLine {
  using Status = ClassicScan::Status;
  Status status = Status::Ok;
  bool start = false;
  int port = 0;  // 0: none given, the stored setting is used
  bool headless = false;
  bool help = false;
  bool version = false;
  bool newKey = false;  // --new-key: make a signing key pair and end
  int monitor = -1;    // -1: none given, the stored "Monitor" is used
  ScreenRect region;   // empty: none given
  CaptureBackend capture = CaptureBackend::Auto;  // --capture
};

inline constexpr char kUsageText[] = "QcSend.exe [-start] [-port xxxx]";
inline constexpr char kUsageCaption[] = "Quillcast Usage";

// argv as the program gets it. An unknown long option gives Usage.
CommandLine ParseArguments(int argc, const char* const* argv);

// Full usage for --help, naming the settings file.
std::string LongUsage(const std::string& settingsPath);

}  // namespace qc
