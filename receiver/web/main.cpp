// SPDX-License-Identifier: GPL-3.0-or-later
// qvweb: a receiver of the transmission that shows it in web browsers. It
// runs the receiver's controller (qvTray) headless, with the console view
// and a viewer whose surface is the web gateway. SIGTERM, SIGINT and SIGHUP
// end it in order.
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QLoggingCategory>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/log_file.h"
#include "platform/qt/signal_bridge.h"
#include "receiver/shell/console_view.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/receiver_settings.h"
#include "receiver/web/access_policy.h"
#include "receiver/web/tls_identity.h"
#include "receiver/web/web_gateway.h"
#include "receiver/web/web_viewer.h"
#include "shell/command_line.h"
#include "shell/console_output.h"
#include "shell/qt/qt_ui_services.h"
#include "shell/signing_keys.h"

namespace qc {

LogFile& Log() {
  static LogFile log("qvweb.log", LogFile::ExitPolicy::Keep);
  return log;
}

}  // namespace qc

namespace {

constexpr char kPrefix[] = "qvweb: ";
constexpr char kUsage[] =
    "Usage: qvweb [-port xxxx] [--http ADDRESS:PORT] [--token TOKEN | --public]\n"
    "             [--allow-host NAME[,NAME...]]\n"
    "             [--tls-cert FILE --tls-key FILE | --tls-self-signed] [--trust KEY]\n";

void PrintHelp() {
  printf(
      "%s"
      "       qvweb --help | --version\n"
      "\n"
      "Receives the screen that a Quillcast sender broadcasts and shows it live to\n"
      "web browsers: open the address it prints in any browser.\n"
      "\n"
      "  -port xxxx            data port for this run (even, 1024..65534); not stored\n"
      "  --http ADDRESS:PORT   where the web server listens (default 0.0.0.0:8080)\n"
      "  --token TOKEN         the session token browsers need (default: a random one,\n"
      "                        printed in the address to open)\n"
      "  --public              no token: anyone who reaches the gateway may watch\n"
      "  --allow-host NAMES    host names (comma-separated) the gateway also answers\n"
      "                        for, besides its addresses and the machine's name\n"
      "  --tls-cert FILE       serve HTTPS with this PEM certificate (and its chain)\n"
      "  --tls-key FILE        ... and this unencrypted PEM key\n"
      "  --tls-self-signed     serve HTTPS with a self-signed certificate, made on the\n"
      "                        first start and kept beside the settings; its SHA-256\n"
      "                        fingerprint is printed\n"
      "  --trust KEY           show only transmissions signed with this sender key\n"
      "                        (the text \"qcsend --new-key\" printed)\n"
      "  --help                show this text\n"
      "  --version             show the version\n"
      "\n"
      "Settings (data port): %s\n",
      kUsage, qc::qvSettings::DefaultPath().c_str());
}

int UsageError(const char* why) {
  if (why != nullptr) fprintf(stderr, "%s%s\n", kPrefix, why);
  fprintf(stderr, "%s", kUsage);
  return 2;
}

// 16 random bytes, URL-safe.
QString RandomToken() {
  quint32 words[4];
  QRandomGenerator::system()->fillRange(words);
  return QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(words), sizeof words)
          .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// The names a browser may use for the gateway: the address it listens on
// (every address of the machine when that is "any"), the machine's names,
// and the admin's.
QStringList HostNames(const QHostAddress& address, const QStringList& allowed) {
  QStringList names = {QHostInfo::localHostName()};
  if (!QHostInfo::localDomainName().isEmpty()) {
    names << QHostInfo::localHostName() + QLatin1Char('.') + QHostInfo::localDomainName();
  }
  if (address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
      address == QHostAddress::AnyIPv6) {
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
      names << qc::PlainAddress(a).toString();
    }
    names << QStringLiteral("localhost");
  } else {
    names << address.toString();
    if (address.isLoopback()) names << QStringLiteral("localhost");
  }
  return names + allowed;
}

// Open files: every connection is one. The soft limit (often 1024) goes up
// to the hard one; connections are capped below what is had.
int RaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  const rlim_t room = limit.rlim_cur > 256 ? limit.rlim_cur - 128 : limit.rlim_cur / 2;
  return static_cast<int>(std::min<rlim_t>(room, 4096));
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
  qc::SplitArguments split = qc::TakeLongOptions(args, {{
                                                            "--help",
                                                            "--version",
                                                            "--public",
                                                            "--tls-self-signed",
                                                        },
                                                        {
                                                            "--http",
                                                            "--token",
                                                            "--allow-host",
                                                            "--tls-cert",
                                                            "--tls-key",
                                                            "--trust",
                                                        }});
  if (split.Has("--help")) {
    PrintHelp();
    return 0;
  }
  if (split.Has("--version")) {
    printf("qvweb (Quillcast) version 1.1.0\n");
    return 0;
  }
  auto option = [&split](const char* name) {
    auto it = split.options.find(name);
    return it == split.options.end() ? QString() : QString::fromStdString(it->second);
  };
  qc::ClassicScan scan = qc::ScanClassicCommandLine(split.classic, /*takesStart=*/false);
  if (scan.status == qc::ClassicScan::Status::InvalidPort) {
    qc::PrintMessage(kPrefix, qc::kInvalidValueCaption, qc::kInvalidPortText);
    return 2;
  }
  QHostAddress address(QHostAddress::AnyIPv4);
  quint16 httpPort = 8080;
  if (scan.status != qc::ClassicScan::Status::Ok ||
      (split.Has("--http") && !ParseHttp(split.options.find("--http")->second, address, httpPort))) {
    return UsageError(nullptr);
  }
  qc::PublicKey trusted;
  if (split.Has("--trust") &&
      !qc::ParsePublicKeyText(split.options.find("--trust")->second, trusted)) {
    qc::PrintMessage(kPrefix, qc::kInvalidValueCaption, qc::kBadKeyText);
    return 2;
  }
  if (split.Has("--token") && option("--token").isEmpty()) {
    return UsageError("--token needs a value (or --public for a gateway without one)");
  }
  if (split.Has("--token") && split.Has("--public")) {
    return UsageError("--token and --public exclude each other");
  }
  if (split.Has("--tls-cert") != split.Has("--tls-key") ||
      (split.Has("--tls-cert") && split.Has("--tls-self-signed"))) {
    return UsageError("TLS takes --tls-cert with --tls-key, or --tls-self-signed");
  }
  const QString token = split.Has("--public")  ? QString()
                        : split.Has("--token") ? option("--token")
                                               : RandomToken();
  const int maxConnections = RaiseOpenFileLimit();

  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QCoreApplication app(qtArgc, qtArgv);
  app.setApplicationName(QStringLiteral("qvweb"));
  // The HTTP library warns on every refused WebSocket; under a flood of
  // them that would flood the console.
  QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));

  const QStringList hosts =
      HostNames(address, option("--allow-host").split(QLatin1Char(','), Qt::SkipEmptyParts));
  std::optional<QSslConfiguration> tls;
  if (split.Has("--tls-cert") || split.Has("--tls-self-signed")) {
    QString error;
    const qc::TlsIdentity identity =
        split.Has("--tls-cert")
            ? qc::TlsIdentity::Load(option("--tls-cert"), option("--tls-key"), error)
            : qc::TlsIdentity::SelfSigned(
                  QFileInfo(QString::fromStdString(qc::qvSettings::DefaultPath())).path(), hosts,
                  error);
    if (identity.IsNull()) {
      fprintf(stderr, "%s%s\n", kPrefix, error.toUtf8().constData());
      return 1;
    }
    fprintf(stderr, "%sTLS certificate SHA-256 fingerprint %s\n", kPrefix,
            identity.Sha256Fingerprint().toUtf8().constData());
    tls = identity.Configuration();
  }

  qc::qvSettings store(qc::qvSettings::DefaultPath());
  qc::QtUiServices ui({kPrefix, /*boxes=*/false, /*hotkeys=*/false, nullptr, {}});
  qc::ReceiverConsoleView view(kPrefix);
  qc::WebViewer viewer;
  qc::WebGateway gateway(viewer, qc::AccessPolicy(token, hosts, tls.has_value()), tls,
                         maxConnections);
  if (!gateway.Listen(address, httpPort)) {
    fprintf(stderr, "%scannot listen on %s:%u for HTTP\n", kPrefix,
            address.toString().toUtf8().constData(), static_cast<unsigned>(httpPort));
    return 1;
  }
  qc::qvTray tray(ui, view, viewer, store);
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
