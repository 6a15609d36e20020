#include "sender/shell/command_line.h"

#include "common/protocol.h"

namespace qc {

namespace {

bool IsSeparator(char c) { return static_cast<signed char>(c) <= 32; }

bool StartsWith(std::string_view s, size_t at, std::string_view word) {
  return s.size() >= at + word.size() && s.compare(at, word.size(), word) == 0;
}

// atoi: optional blanks, optional sign, digits up to the first non-digit;
// nothing numeric gives 0. The value is at most 5 bytes, so no overflow.
int DecimalPrefix(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    value = value * 10 + (text[i] - '0');
  return negative ? -value : value;
}

}  // namespace

CommandLine::Status ScanCommandLine(std::string_view line, CommandLine& out) {
  size_t i = 0;
  while (i < line.size()) {
    if (IsSeparator(line[i])) {
      ++i;
      continue;
    }
    if (StartsWith(line, i, "-start")) {
      out.start = true;
      i += 7;  // the keyword and the one byte after it
    } else if (StartsWith(line, i, "-port")) {
      // The value starts one byte after the keyword, whatever that byte is;
      // "-port" at the very end has an empty value.
      size_t begin = i + 6 <= line.size() ? i + 6 : line.size();
      size_t end = begin;
      while (end < line.size() && !IsSeparator(line[end])) ++end;
      if (end - begin > 5) return CommandLine::Status::InvalidPort;
      int port = DecimalPrefix(line.substr(begin, end - begin));
      if (port < kMinPort || port > kMaxPort || port % 2 != 0)
        return CommandLine::Status::InvalidPort;
      out.port = port;
      i = end + 1;
    } else {
      return CommandLine::Status::Usage;
    }
  }
  return CommandLine::Status::Ok;
}

CommandLine ParseArguments(int argc, const char* const* argv) {
  CommandLine result;
  std::string joined;
  for (int a = 1; a < argc; ++a) {
    std::string_view arg = argv[a];
    if (arg.size() > 2 && arg.substr(0, 2) == "--") {
      if (arg == "--headless") {
        result.headless = true;
      } else if (arg == "--help") {
        result.help = true;
      } else if (arg == "--version") {
        result.version = true;
      } else {
        result.status = CommandLine::Status::Usage;
        return result;
      }
      continue;
    }
    if (!joined.empty()) joined += ' ';
    joined += arg;
  }
  result.status = ScanCommandLine(joined, result);
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
