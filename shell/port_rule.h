// SPDX-License-Identifier: GPL-3.0-or-later
// The data port rule both settings dialogs apply: an even number in
// kMinPort..kMaxPort (the sender also listens on the port + 1).
#pragma once

#include <cstdint>

namespace qc {

inline constexpr char kInvalidPortDialogText[] =
    "Invalid port specified.\nPort must be an even number in the range 1024..65534.\n\n"
    "Now the port number will be replaced with the nearest valid value.\n"
    "If you wish to use some different port number, please adjust it manually.";

bool IsValidPort(int64_t port);

// The nearest valid port: an odd value is raised to the next even number,
// then the result is clamped to kMinPort..kMaxPort.
int NearestValidPort(int64_t port);

// One click of the dialog's up-down control: an odd value is first made
// even, then moved by 2; the result is clamped to kMinPort..kMaxPort.
int StepPort(int64_t port, bool up);

}  // namespace qc
