// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/port_rules.h"

namespace qc {

uint32_t ReadPortField(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  if (b == e) return 0;
  uint64_t v = 0;
  for (size_t i = b; i < e; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(v);
}

PortCheck CheckDialogPort(uint32_t value) {
  if (IsValidPort(value)) return {true, static_cast<int>(value)};
  return {false, NearestValidPort(value)};
}

}  // namespace qc
