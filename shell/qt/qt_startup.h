// SPDX-License-Identifier: GPL-3.0-or-later
// RunProgram (shell/startup.h) on Qt: a screen is there when DISPLAY,
// WAYLAND_DISPLAY or QT_QPA_PLATFORM names one; the application object is a
// QApplication where boxes are shown, else a QCoreApplication. Qt never
// sees the command line: every argument is the program's own.
#pragma once

#include "shell/qt/qt_ui_services.h"
#include "shell/startup.h"

namespace qc {

int RunQtProgram(ProgramStart program, const StartRequest& request, char* argv0,
                 const std::function<int(QtUiServices& ui, bool headless)>& run);

}  // namespace qc
