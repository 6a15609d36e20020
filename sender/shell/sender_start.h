// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's start (shell/startup.h) on both platforms: one sender per
// user, its texts, and what its command line asks for. Main thread.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "sender/shell/command_line.h"
#include "shell/startup.h"

namespace qc {

inline constexpr char kSenderCannotStartText[] =
    "Cannot start Quillcast.\nSee the log file (Quillcast.log) for details.";

ProgramStart SenderStart();

// --help, --version and --new-key (which makes the key pair here) print and
// end; a command line the sender does not take ends with its box.
StartRequest SenderStartRequest(const CommandLine& cmd, const std::string& settingsPath);

class qcTray;

// The end of the start on both platforms, once the controller is made:
// signs with the stored key, starts the controller and, when it started,
// runs loop (the event loop) and shuts the controller down. refusal: why
// the desktop did not share the screen, read after a failed start (empty:
// the log tells). beforeInit, if given, runs between the signing check and
// the start; an exit code from it ends the program there. Returns the exit
// code.
int RunSenderTray(UiServices& ui, qcTray& tray, const CommandLine& cmd, const std::string& refusal,
                  const std::function<int()>& loop,
                  const std::function<std::optional<int>()>& beforeInit = {});

}  // namespace qc
