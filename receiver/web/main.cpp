// qvweb: a receiver of the transmission that shows it in web browsers. It
// runs the receiver's controller (qvTray) headless, with the console view
// and a viewer whose surface is the web gateway. SIGTERM, SIGINT and SIGHUP
// end it in order.
#include <signal.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "platform/qt/signal_bridge.h"
#include "receiver/shell/console_view.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/web/web_gateway.h"
#include "receiver/web/web_viewer.h"
#include "shell/command_line.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"

namespace qc {

LogFile& Log() {
  static LogFile log("qvweb.log", LogFile::ExitPolicy::Keep);
  return log;
}

}  // namespace qc

namespace {

constexpr char kPrefix[] = "qvweb: ";

void PrintHelp() {
  printf(
      "Usage: qvweb [-port xxxx] [--http ADDRESS:PORT] [--token TOKEN] [--trust KEY]\n"
      "       qvweb --help | --version\n"
      "\n"
      "Receives the screen that a Quillcast sender broadcasts and shows it live to\n"
      "web browsers: open the address it prints in any browser.\n"
      "\n"
      "  -port xxxx            data port for this run (even, 1024..65534); not stored\n"
      "  --http ADDRESS:PORT   where the web server listens (default 0.0.0.0:8080)\n"
      "  --token TOKEN         browsers need ?token=TOKEN in the address\n"
      "  --trust KEY           show only transmissions signed with this sender key\n"
      "                        (the text \"qcsend --new-key\" printed)\n"
      "  --help                show this text\n"
      "  --version             show the version\n"
      "\n"
      "Settings (data port): %s\n",
      qc::qvSettings::DefaultPath().c_str());
}

// "ADDRESS:PORT", ":PORT" or "PORT"; an IPv6 address in brackets.
bool ParseHttp(const std::string& text, QHostAddress& address, quint16& port) {
  QString s = QString::fromStdString(text);
  QString host = QStringLiteral("0.0.0.0");
  const qsizetype colon = s.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0) {
    host = s.left(colon);
    s = s.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
      host = host.mid(1, host.size() - 2);
    }
    if (host.isEmpty()) host = QStringLiteral("0.0.0.0");
  }
  bool ok = false;
  const uint value = s.toUInt(&ok);
  if (!ok || value == 0 || value > 65535 || !address.setAddress(host)) return false;
  port = static_cast<quint16>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  qc::SplitArguments split =
      qc::TakeLongOptions(args, {{"--help", "--version"}, {"--http", "--token", "--trust"}});
  if (split.Has("--help")) {
    PrintHelp();
    return 0;
  }
  if (split.Has("--version")) {
    printf("qvweb (Quillcast) version 1.1.0\n");
    return 0;
  }
  qc::ClassicScan scan = qc::ScanClassicCommandLine(split.classic, /*takesStart=*/false);
  if (scan.status == qc::ClassicScan::Status::InvalidPort) {
    qc::PrintMessage(kPrefix, qc::kInvalidValueCaption, qc::kInvalidPortText);
    return 2;
  }
  QHostAddress address(QHostAddress::AnyIPv4);
  quint16 httpPort = 8080;
  if (scan.status != qc::ClassicScan::Status::Ok ||
      (split.Has("--http") &&
       !ParseHttp(split.options.find("--http")->second, address, httpPort))) {
    fprintf(stderr, "%sUsage: qvweb [-port xxxx] [--http ADDRESS:PORT] [--token TOKEN]\n",
            kPrefix);
    return 2;
  }
  qc::PublicKey trusted;
  if (split.Has("--trust") &&
      !qc::ParsePublicKeyText(split.options.find("--trust")->second, trusted)) {
    qc::PrintMessage(kPrefix, qc::kInvalidValueCaption, qc::kBadKeyText);
    return 2;
  }
  const QString token = split.Has("--token")
                            ? QString::fromStdString(split.options.find("--token")->second)
                            : QString();

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  app.setApplicationName(QStringLiteral("qvweb"));

  qc::qvSettings store(qc::qvSettings::DefaultPath());
  qc::ReceiverConsoleView view(kPrefix);
  qc::WebViewer viewer;
  qc::WebGateway gateway(viewer, token);
  if (!gateway.Listen(address, httpPort)) {
    fprintf(stderr, "%scannot listen on %s:%u for HTTP\n", kPrefix,
            address.toString().toUtf8().constData(), static_cast<unsigned>(httpPort));
    return 1;
  }
  qc::qvTray tray(view, viewer, store);
  if (split.Has("--trust")) tray.TrustSenderForThisRun(split.options.find("--trust")->second);
  qc::SignalBridge signalBridge({SIGTERM, SIGINT, SIGHUP},
                                [&](int) { tray.OnCommand(qc::ID_QUIT); });
  if (!tray.Init(scan.port)) {
    fprintf(stderr, "%scannot receive on data port %d (see qvweb.log)\n", kPrefix, tray.Port());
    return 1;
  }
  fprintf(stderr, "%sopen %s in a browser (data port %d)\n", kPrefix,
          gateway.Url().toUtf8().constData(), tray.Port());
  fflush(stderr);
  const int code = QCoreApplication::exec();
  tray.Shutdown();
  return code;
}
