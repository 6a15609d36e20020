// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/command_line.h"

#include <cstdlib>
#include <string_view>
#include <vector>

namespace qc {

namespace {
// Windows has one way to capture: there --capture is an unknown option.
#ifdef _WIN32
constexpr std::string_view kCaptureOption = "--capture-is-not-an-option-on-windows";
constexpr char kCaptureUsage[] = "";
constexpr char kCaptureHelp[] = "";
#else
constexpr std::string_view kCaptureOption = "--capture";
constexpr char kCaptureUsage[] = "              [--capture x11|portal|wlr]\n";
constexpr char kCaptureHelp[] =
    "  --capture x11|portal|wlr\n"
    "                how the screen is captured: x11 (an X11 session), portal (the\n"
    "                desktop's ScreenCast portal: GNOME, KDE) or wlr (wlr-screencopy:\n"
    "                sway and other wlroots compositors). By default x11 in an X11\n"
    "                session; on Wayland wlr when the compositor offers it, else the\n"
    "                portal. The log and standard error say which. The portal asks\n"
    "                once which monitor to share (-monitor cannot choose it) and\n"
    "                keeps the permission in ScreenCastToken next to the settings.\n"
    "                On wlr, -monitor k is the k-th output, the cursor is drawn in.\n";
#endif
}  // namespace

CommandLine ParseArguments(int argc, const char* const* argv) {
  CommandLine result;
  std::vector<std::string> rest;
  bool areaOk = true;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg != "-monitor" && arg != "-region") {
      rest.emplace_back(arg);
      continue;
    }
    if (i + 1 >= argc) {
      areaOk = false;
      break;
    }
    std::string_view value = argv[++i];
    if (arg == "-region") {
      areaOk = areaOk && ParseRegion(value, result.region);
    } else {
      char* end = nullptr;
      long k = strtol(argv[i], &end, 10);
      areaOk = areaOk && !value.empty() && *end == '\0' && value[0] >= '0' && value[0] <= '9' &&
               k <= 64;
      result.monitor = static_cast<int>(k);
    }
  }
  SplitArguments split =
      TakeLongOptions(rest, {{"--headless", "--help", "--version", "--new-key"}, {kCaptureOption}});
  ClassicScan scan = ScanClassicCommandLine(split.classic, /*takesStart=*/true);
  auto capture = split.options.find("--capture");
  if (capture != split.options.end()) {
    areaOk = areaOk && ParseCaptureBackend(capture->second, result.capture);
  }
  result.status = scan.status == ClassicScan::Status::Ok && !areaOk ? ClassicScan::Status::Usage
                                                                     : scan.status;
  result.start = scan.start;
  result.port = scan.port;
  result.headless = split.Has("--headless");
  result.help = split.Has("--help");
  result.version = split.Has("--version");
  result.newKey = split.Has("--new-key");
  return result;
}

std::string LongUsage(const std::string& settingsPath) {
  return std::string(
             "Usage: qcsend [-start] [-port xxxx] [-monitor k | -region WxH+X+Y] [--headless]\n") +
         kCaptureUsage +
         "       qcsend --new-key | --help | --version\n"
             "\n"
             "Shows this computer's screen on every Quillcast receiver (qvrecv) of the\n"
             "local network, through the multicast group 234.0.0.1.\n"
             "\n"
             "  -start        start the transmission at once (after the 1.5 s check that no\n"
             "                other transmitter uses the port)\n"
             "  -port xxxx    data port for this run, an even number in 1024..65534; the\n"
             "                sender also listens on xxxx + 1 for refresh requests. Not stored.\n"
             "  -monitor k    share monitor k (1, 2, ... as RandR lists them) only; 0 shares\n"
             "                the whole screen. Replaces the \"Monitor\" setting for this run.\n"
             "  -region WxH+X+Y\n"
             "                share this rectangle of the screen only, for this run\n"
             "  --headless    no tray icon and no dialogs; messages go to standard error.\n"
             "                Stop it with SIGTERM or SIGINT (Ctrl+C).\n" +
         kCaptureHelp +
         "  --new-key     make a new signing key pair, print its public key for the\n"
         "                receivers, and end. From then on every transmission of this\n"
         "                account is signed (see \"Security\" in the admin's guide).\n"
         "  --help        this text\n"
             "  --version     the version\n"
             "\n"
             "Without a tray, the start/stop and pause hotkeys (default Alt+F12, Alt+F11)\n"
             "still work. Settings file: " +
         settingsPath +
         "\n"
         "The log file Quillcast.log is written to the current directory when logging\n"
         "is switched on (EnableLogging=1).\n";
}

}  // namespace qc
