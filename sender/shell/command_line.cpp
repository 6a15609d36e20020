#include "sender/shell/command_line.h"

#include <vector>

namespace qc {

CommandLine ParseArguments(int argc, const char* const* argv) {
  SplitArguments split = TakeLongOptions(std::vector<std::string>(argv + 1, argv + argc),
                                         {{"--headless", "--help", "--version"}, {}});
  ClassicScan scan = ScanClassicCommandLine(split.classic, /*takesStart=*/true);
  CommandLine result;
  result.status = scan.status;
  result.start = scan.start;
  result.port = scan.port;
  result.headless = split.Has("--headless");
  result.help = split.Has("--help");
  result.version = split.Has("--version");
  return result;
}

std::string LongUsage(const std::string& settingsPath) {
  return std::string(
             "Usage: qcsend [-start] [-port xxxx] [--headless]\n"
             "       qcsend --help | --version\n"
             "\n"
             "Shows this computer's screen on every Quillcast receiver (qvrecv) of the\n"
             "local network, through the multicast group 234.0.0.1.\n"
             "\n"
             "  -start        start the transmission at once (after the 1.5 s check that no\n"
             "                other transmitter uses the port)\n"
             "  -port xxxx    data port for this run, an even number in 1024..65534; the\n"
             "                sender also listens on xxxx + 1 for refresh requests. Not stored.\n"
             "  --headless    no tray icon and no dialogs; messages go to standard error.\n"
             "                Stop it with SIGTERM or SIGINT (Ctrl+C).\n"
             "  --help        this text\n"
             "  --version     the version\n"
             "\n"
             "Without a tray, the start/stop and pause hotkeys (default Alt+F12, Alt+F11)\n"
             "still work. Settings file: ") +
         settingsPath +
         "\n"
         "The log file Quillcast.log is written to the current directory when logging\n"
         "is switched on (EnableLogging=1).\n";
}

}  // namespace qc
