// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/receiver_start.h"

#include "receiver/shell/qv_tray.h"
#include "shell/signing_keys.h"

namespace qc {

ProgramStart ReceiverStart() {
  ProgramStart start;
  start.style.stderrPrefix = kReceiverStderrPrefix;
  start.errorCaption = kReceiverErrorCaption;
  start.noDisplayLine = "qvrecv: no display to show the picture on (use --headless)";
  return start;
}

std::string ReceiverHelp(bool snapshots, const std::string& settingsPlace) {
  return std::string("Usage: qvrecv [-port xxxx] [--headless]") +
         (snapshots ? " [--snapshot FILE.png]" : "") +
         " [--trust KEY]\n"
         "       qvrecv --help | --version\n"
         "\n"
         "Shows the screen that a Quillcast sender broadcasts on the local network.\n"
         "\n"
         "  -port xxxx         data port for this run (even, 1024..65534); not stored\n"
         "  --headless         run without window or tray icon; messages go to stderr\n" +
         (snapshots ? "  --snapshot FILE    write the received picture (without cursor) as PNG on\n"
                      "                     SIGUSR1 and when the program ends\n"
                    : "") +
         "  --trust KEY        show only transmissions signed with this sender key (the\n"
         "                     text \"qcsend --new-key\" printed), for this run; the\n"
         "                     settings dialog's \"Sender key\" stores one\n"
         "  --help             show this text\n"
         "  --version          show the version\n"
         "\n"
         "Settings: " +
         settingsPlace +
         "\n"
         "Log file: Quillview.log in the current directory (when EnableLogging is on)\n";
}

StartRequest ReceiverStartRequest(const ReceiverCommandLine& cl, std::string help) {
  using Action = CommandLineAction;
  StartRequest request;
  request.headless = cl.headless;
  if (cl.action == Action::Help || cl.action == Action::Version) {
    request.action = StartRequest::Action::Print;
    request.output = cl.action == Action::Help ? std::move(help) : "Quillview version 1.1.0\n";
  } else if (cl.action != Action::Run) {
    const bool usage = cl.action == Action::Usage;
    request.action = StartRequest::Action::Message;
    request.caption = usage ? kReceiverUsageCaption : kInvalidValueCaption;
    request.text = usage                             ? kReceiverUsageText
                   : cl.action == Action::InvalidKey ? kBadKeyText
                                                     : kInvalidPortText;
  }
  return request;
}

}  // namespace qc
