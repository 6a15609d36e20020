// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/startup.h"

#include <cstdio>

#include "platform/lock_file.h"

namespace qc {

int RunProgram(const ProgramStart& program, const StartRequest& request,
               const std::function<int(UiServices& ui, bool headless)>& run) {
  if (request.action == StartRequest::Action::Print) {
    fputs(request.output.c_str(), request.failed ? stderr : stdout);
    return request.exitCode;
  }
  // Without a screen the boxes of the command line go to standard error
  // only, and a tray cannot start.
  const bool screen = !request.headless && program.haveDisplay;
  UiStyle style = program.style;
  style.boxes = screen;
  style.hotkeys = program.style.hotkeys && (!request.headless || program.headlessHotkeys);
  UiServices& ui = program.makeUi(style);
  if (request.action == StartRequest::Action::Message) {
    ui.ShowMessage(request.caption, request.text, MessageIcon::Information);
    return 0;
  }
  if (!request.headless && !program.haveDisplay) {
    fprintf(stderr, "%s\n", program.noDisplayLine);
    fflush(stderr);
    return -1;
  }
  LockFile instance;
  if (program.instanceName != nullptr) {
    switch (instance.Acquire(LockFile::DefaultPath(program.instanceName))) {
      case LockFile::Result::Acquired: break;
      case LockFile::Result::Failed:
        ui.ShowMessage(program.errorCaption, program.instanceFailedText, MessageIcon::Error);
        return 0;
      case LockFile::Result::HeldElsewhere:
        ui.ShowMessage(program.errorCaption, program.alreadyRunningText, MessageIcon::Error);
        return 0;
    }
  }
  return run(ui, request.headless);
}

}  // namespace qc
