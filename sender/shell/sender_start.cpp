// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/sender_start.h"

#include "sender/shell/qc_tray.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"

namespace qc {

ProgramStart SenderStart() {
  ProgramStart start;
  start.style.hotkeyLog = "qcTray";
  start.style.hotkeyNames = {"Start or stop the transmission", "Pause the transmission"};
  start.headlessHotkeys = true;  // a kiosk without a tray still pauses with Alt+F11
  start.errorCaption = kErrorCaption;
  start.instanceName = "QC_Win32_Instance";
  start.instanceFailedText = "Cannot create mutex.";
  start.alreadyRunningText = "Quillcast is already running.";
  start.noDisplayLine =
      "Quillcast Error: No display to show the tray on (DISPLAY is not set); see --headless.";
  return start;
}

StartRequest SenderStartRequest(const CommandLine& cmd, const std::string& settingsPath) {
  StartRequest request;
  request.headless = cmd.headless;
  if (cmd.status != CommandLine::Status::Ok) {
    const bool usage = cmd.status == CommandLine::Status::Usage;
    request.action = StartRequest::Action::Message;
    request.caption = usage ? kUsageCaption : kInvalidValueCaption;
    request.text = usage ? kUsageText : kInvalidPortText;
    return request;
  }
  if (cmd.help || cmd.version || cmd.newKey) request.action = StartRequest::Action::Print;
  if (cmd.help) {
    request.output = LongUsage(settingsPath);
  } else if (cmd.version) {
    request.output = "qcsend (Quillcast) 1.1.0\n";
  } else if (cmd.newKey) {
    request.failed = !MakeSenderKey(request.output);
    request.exitCode = request.failed ? 1 : 0;
  }
  return request;
}

int RunSenderTray(UiServices& ui, qcTray& tray, const CommandLine& cmd, const std::string& refusal,
                  const std::function<int()>& loop,
                  const std::function<std::optional<int>()>& beforeInit) {
  std::string signing;
  if (!tray.UseStoredSigningKey(signing)) {
    ui.ShowMessage(kErrorCaption, signing, MessageIcon::Error);
    return -1;
  }
  if (!signing.empty()) PrintMessage("", "Quillcast", signing);
  if (beforeInit) {
    if (const std::optional<int> code = beforeInit()) return *code;
  }
  if (!tray.Init(cmd.start, cmd.port)) {
    tray.AbortInit();
    ui.ShowMessage(kErrorCaption,
                   refusal.empty() ? std::string(kSenderCannotStartText)
                                   : "Cannot start Quillcast.\n" + refusal,
                   MessageIcon::Error);
    return -1;
  }
  if (cmd.port != 0) tray.SetPortFromCommandLine();
  const int code = loop();
  tray.Shutdown();
  return code;
}

}  // namespace qc
