// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's run, after the command line was read and the Qt
// application object exists: controller, view, viewer, signals, event loop,
// orderly shutdown. Returns the process exit code.
#pragma once

#include "receiver/shell/command_line.h"

namespace qc {

inline constexpr char kCannotStartText[] =
    "Cannot start Quillview.\nSee the log file (Quillview.log) for details.";

int RunReceiver(const ReceiverCommandLine& commandLine);

}  // namespace qc
