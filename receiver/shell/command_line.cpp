#include "receiver/shell/command_line.h"

#include <cstdint>

namespace qv {

namespace {

bool IsSeparator(char c) { return static_cast<signed char>(c) <= 0x20; }

// atoi over the value: optional sign, decimal digits up to the first other
// byte, no digits gives 0. The value has at most 5 bytes, so no overflow.
int AtoiValue(std::string_view value) {
  size_t i = 0;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) {
    negative = value[i] == '-';
    ++i;
  }
  int n = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) n = n * 10 + (value[i] - '0');
  return negative ? -n : n;
}

}  // namespace

CommandLine ScanCommandText(std::string_view text) {
  CommandLine result;
  size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    if (text.substr(i, 5) != "-port") {
      result.action = CommandLineAction::Usage;
      return result;
    }
    // The byte after "-port" is skipped, whatever it is.
    size_t start = i + 6;
    size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    size_t length = start < end ? end - start : 0;
    int port = length >= 1 && length <= 5 ? AtoiValue(text.substr(start, length)) : -1;
    if (length < 1 || length > 5 || port % 2 != 0 || port < 1024 || port > 65534) {
      result.action = CommandLineAction::InvalidPort;
      result.port = 0;
      return result;
    }
    result.port = port;
    i = end;
  }
  return result;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  bool headless = false;
  bool help = false;
  bool version = false;
  std::string snapshot;
  std::string text;
  for (size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    if (a == "--headless") {
      headless = true;
    } else if (a == "--help") {
      help = true;
    } else if (a == "--version") {
      version = true;
    } else if (a == "--snapshot" && k + 1 < args.size()) {
      snapshot = args[++k];
    } else if (a.rfind("--snapshot=", 0) == 0 && a.size() > 11) {
      snapshot = a.substr(11);
    } else {
      if (!text.empty()) text += ' ';
      text += a;
    }
  }
  CommandLine result;
  if (help) {
    result.action = CommandLineAction::Help;
  } else if (version) {
    result.action = CommandLineAction::Version;
  } else {
    result = ScanCommandText(text);
  }
  result.headless = headless;
  result.snapshotPath = snapshot;
  return result;
}

}  // namespace qv
