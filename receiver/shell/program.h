// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's run on Linux, once RunQtProgram made the application
// object and the UI services: controller, view, viewer, signals, event
// loop, orderly shutdown. Returns the process exit code. Main thread.
#pragma once

#include "receiver/shell/command_line.h"
#include "shell/ui_services.h"

namespace qc {

int RunReceiver(UiServices& ui, const ReceiverCommandLine& commandLine);

}  // namespace qc
