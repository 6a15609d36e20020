// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's start (shell/startup.h) on both platforms: its texts, and
// what its command line asks for. Several receivers may run at once. Main
// thread.
#pragma once

#include <string>

#include "receiver/shell/command_line.h"
#include "shell/startup.h"

namespace qc {

inline constexpr char kCannotStartText[] =
    "Cannot start Quillview.\nSee the log file (Quillview.log) for details.";

ProgramStart ReceiverStart();

// The --help text. snapshots: this build writes --snapshot pictures;
// settingsPlace: where the settings are kept.
std::string ReceiverHelp(bool snapshots, const std::string& settingsPlace);

// help: the --help text.
StartRequest ReceiverStartRequest(const ReceiverCommandLine& cl, std::string help);

}  // namespace qc
