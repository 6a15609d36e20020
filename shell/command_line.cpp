// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/command_line.h"

#include <algorithm>

#include "common/protocol.h"

namespace qc {

namespace {

bool IsSeparator(char c) { return static_cast<signed char>(c) <= 0x20; }

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// atoi: optional sign, decimal digits up to the first other byte; no digits
// give 0. The value has at most 5 bytes, so it cannot overflow.
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

SplitArguments TakeLongOptions(const std::vector<std::string>& args, const LongOptionSet& known) {
  SplitArguments out;
  auto keep = [&out](std::string_view arg) {
    if (!out.classic.empty()) out.classic += ' ';
    out.classic += arg;
  };
  for (size_t k = 0; k < args.size(); ++k) {
    std::string_view arg = args[k];
    if (arg.size() <= 2 || arg.substr(0, 2) != "--") {
      keep(arg);
      continue;
    }
    size_t equals = arg.find('=');
    std::string_view name = arg.substr(0, equals);
    if (equals == std::string_view::npos && Contains(known.flags, name)) {
      out.options[std::string(name)] = "";
    } else if (Contains(known.valued, name) && equals != std::string_view::npos &&
               equals + 1 < arg.size()) {
      out.options[std::string(name)] = std::string(arg.substr(equals + 1));
    } else if (Contains(known.valued, name) && equals == std::string_view::npos &&
               k + 1 < args.size()) {
      out.options[std::string(name)] = args[++k];
    } else {
      keep(arg);  // the classic scan rejects it
    }
  }
  return out;
}

ClassicScan ScanClassicCommandLine(std::string_view text, bool takesStart) {
  ClassicScan out;
  size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    std::string_view rest = text.substr(i);
    if (takesStart && rest.substr(0, 6) == "-start") {
      out.start = true;
      i += 7;  // the keyword and the one byte after it
    } else if (rest.substr(0, 5) == "-port") {
      // The value starts one byte after the keyword; "-port" at the very end
      // has an empty value.
      size_t begin = std::min(i + 6, text.size());
      size_t end = begin;
      while (end < text.size() && !IsSeparator(text[end])) ++end;
      int port = end - begin > 5 ? 0 : DecimalPrefix(text.substr(begin, end - begin));
      if (port < kMinPort || port > kMaxPort || port % 2 != 0) {
        return {ClassicScan::Status::InvalidPort, out.start, 0};
      }
      out.port = port;
      i = end;
    } else {
      return {ClassicScan::Status::Usage, out.start, 0};
    }
  }
  return out;
}

}  // namespace qc
