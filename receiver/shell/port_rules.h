// The port rules of the receiver's settings dialog, apart from any widget.
#pragma once

#include <cstdint>
#include <string_view>

namespace qv {

inline constexpr char kInvalidPortDialogText[] =
    "Invalid port specified.\nPort must be an even number in the range 1024..65534.\n\n"
    "Now the port number will be replaced with the nearest valid value.\n"
    "If you wish to use some different port number, please adjust it manually.";

// Reads the port field as an unsigned number: decimal digits only, blanks
// around them allowed. Empty, anything else, or a number that does not fit
// in 32 bits reads as 0.
uint32_t ReadPortField(std::string_view text);

struct PortCheck {
  bool valid = false;
  int port = 0;  // the value itself when valid, else its nearest valid value
};

// OK: an odd value is raised to the next even number, then anything below
// 1024 becomes 1024 and anything above 65534 becomes 65534.
PortCheck CheckDialogPort(uint32_t value);

// One click of the up-down control: an odd value is first made even, then
// moved by 2. A result outside 1024..65534 becomes 1024, or 65534 when it
// lies above.
int StepDialogPort(uint32_t value, bool up);

}  // namespace qv
