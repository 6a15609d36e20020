// SPDX-License-Identifier: GPL-3.0-or-later
// The port field of the receiver's settings dialog, apart from any widget;
// the rule itself is shell/port_rule.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "shell/port_rule.h"

namespace qc {

// Reads the port field as an unsigned number: decimal digits only, blanks
// around them allowed. Empty, anything else, or a number that does not fit
// in 32 bits reads as 0.
uint32_t ReadPortField(std::string_view text);

struct PortCheck {
  bool valid = false;
  int port = 0;  // the value itself when valid, else its nearest valid value
};

// OK: a valid value is taken as it is; any other is replaced by its
// nearest valid value.
PortCheck CheckDialogPort(uint32_t value);

}  // namespace qc
