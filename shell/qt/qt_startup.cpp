// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/qt/qt_startup.h"

#include <QApplication>
#include <cstdlib>
#include <memory>


namespace qc {

int RunQtProgram(ProgramStart program, const StartRequest& request, char* argv0,
                 const std::function<int(QtUiServices& ui, bool headless)>& run) {
  program.haveDisplay = false;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0') program.haveDisplay = true;
  }
  int qtArgc = 1;
  char* qtArgv[] = {argv0, nullptr};
  std::unique_ptr<QCoreApplication> app;
  std::unique_ptr<QtUiServices> ui;  // destroyed before the application
  program.makeUi = [&](const UiStyle& style) -> UiServices& {
    if (style.boxes) {
      // Without a screen the toolkit would abort: only with one.
      auto widgets = std::make_unique<QApplication>(qtArgc, qtArgv);
      widgets->setQuitOnLastWindowClosed(false);  // the tray has no window
      app = std::move(widgets);
    } else {
      app = std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    }
    ui = std::make_unique<QtUiServices>(style);
    return *ui;
  };
  return RunProgram(program, request,
                    [&](UiServices&, bool headless) { return run(*ui, headless); });
}

}  // namespace qc
