// SPDX-License-Identifier: GPL-3.0-or-later
// The start of every program (qcsend and qvrecv, on Linux and on Windows),
// from the command line's verdict to the exit code: what to print and end
// on, the box of a command line the program does not take, the choice of
// console or screen, the single-instance lock, and then the program's own
// run in its UI services. The platform makes the UI services: shell/qt/
// qt_startup.h on Linux, each Windows main with its hidden window.
// Called once, on the main thread.
#pragma once

#include <functional>
#include <string>

#include "shell/ui_services.h"

namespace qc {

// What a program's command line asks for, in words both programs share.
struct StartRequest {
  enum class Action {
    Run,      // start the program
    Print,    // write `output` (to standard error with `failed`), end with exitCode
    Message,  // the box (caption, text) of a command line it does not take; end with 0
  };
  Action action = Action::Run;
  bool headless = false;  // --headless: no tray, no dialogs, no boxes
  std::string output;
  bool failed = false;
  int exitCode = 0;
  const char* caption = "";
  const char* text = "";
};

// A program, and what its platform offers.
struct ProgramStart {
  UiStyle style;  // with a screen; headless without boxes
  bool headlessHotkeys = false;  // headless, the hotkeys are still grabbed
  const char* errorCaption = "";
  // Held while the program runs (platform/lock_file.h); null: any number of
  // instances may run.
  const char* instanceName = nullptr;
  const char* instanceFailedText = "";
  const char* alreadyRunningText = "";
  // Whether there is a screen for a tray, and the line written when a
  // program that needs one (not headless) finds none.
  bool haveDisplay = true;
  const char* noDisplayLine = "";
  // Makes the UI services, and what they need (Qt's application object);
  // they live until RunProgram returns.
  std::function<UiServices&(const UiStyle& style)> makeUi;
};

// Returns the process's exit code: run's result once the program started.
int RunProgram(const ProgramStart& program, const StartRequest& request,
               const std::function<int(UiServices& ui, bool headless)>& run);

}  // namespace qc
