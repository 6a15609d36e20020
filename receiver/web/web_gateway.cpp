// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/web_gateway.h"

#include <QCryptographicHash>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QHttpServerResponse>
#include <QNetworkInterface>
#include <QSslSocket>
#include <QTcpSocket>
#include <QUrlQuery>
#include <cstdio>
#include <mutex>

namespace qc {

namespace {

QByteArray LoadPage() {
  QFile file(QStringLiteral(":/qvweb/page.html"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 'sha256-...' of the text between the first <tag> and </tag> of the page.
QByteArray HashOf(const QByteArray& page, const QByteArray& tag) {
  const QByteArray open = "<" + tag + ">", close = "</" + tag + ">";
  const qsizetype from = page.indexOf(open);
  const qsizetype to = page.indexOf(close, from);
  if (from < 0 || to < 0) return {};
  const QByteArray body = page.mid(from + open.size(), to - from - open.size());
  return "'sha256-" + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toBase64() + "'";
}

QString QueryToken(const QUrl& url) {
  return QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
}

// Sent with every answer: the page's address (with a token, for a moment)
// goes to nobody, and nothing is cached.
void AddCommonHeaders(QHttpServerResponse& response) {
  response.addHeader("Referrer-Policy", "no-referrer");
  response.addHeader("X-Content-Type-Options", "nosniff");
  response.addHeader("Cache-Control", "no-store");
}

}  // namespace

WebGateway::WebGateway(WebViewer& viewer, AccessPolicy policy,
                       std::optional<QSslConfiguration> tls, int maxConnections)
    : viewer_(viewer),
      policy_(std::move(policy)),
      server_(new GuardedServer(maxConnections, std::move(tls), this)),
      page_(LoadPage()) {
  // The page runs its own script and style only (by hash): an injected
  // element would not run; it connects only to this origin, cannot be framed
  // and has no forms.
  pagePolicy_ = "default-src 'none'; script-src " + HashOf(page_, "script") + "; style-src " +
                HashOf(page_, "style") +
                "; connect-src 'self'; img-src data: blob:; frame-ancestors 'none'; "
                "base-uri 'none'; form-action 'none'";
  frameTimer_.setSingleShot(true);
  connect(&frameTimer_, &QTimer::timeout, this, [this] { Flush(); });
  connect(&pingTimer_, &QTimer::timeout, this, &WebGateway::PingBrowsers);
  videoRectsTimer_.setSingleShot(true);
  connect(&videoRectsTimer_, &QTimer::timeout, this, [this] {
    stream_.ReleaseVideoChanges();
    for (Client& c : clients_) Pump(c);
  });
  pingTimer_.start(kPingMs);
  sinceFlush_.start();
  sinceStart_.start();
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebGateway::OnWebSocket);
  viewer_.SetListener(this);
}

WebGateway::~WebGateway() {
  viewer_.SetListener(nullptr);
  for (Client& c : clients_) {
    c.socket->disconnect(this);
    c.socket->abort();
    delete c.socket;
  }
}

bool WebGateway::Listen(const QHostAddress& address, quint16 port) {
  if (!server_->listen(address, port)) return false;
  bind(server_);
  address_ = address;
  port_ = server_->serverPort();
  return true;
}

QString WebGateway::Url() const {
  QString host = address_.toString();
  if (address_ == QHostAddress::Any || address_ == QHostAddress::AnyIPv4) {
    host = QStringLiteral("127.0.0.1");
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
      if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
        host = a.toString();
        break;
      }
    }
  } else if (address_.protocol() == QAbstractSocket::IPv6Protocol) {
    host = QStringLiteral("[%1]").arg(host);
  }
  QString url = QStringLiteral("%1://%2:%3/")
                    .arg(server_->Tls() ? QStringLiteral("https") : QStringLiteral("http"), host)
                    .arg(port_);
  if (!policy_.Public()) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("token"), policy_.Token());
    url += QStringLiteral("?") + query.toString(QUrl::FullyEncoded);
  }
  return url;
}

void WebGateway::Answer(const QHttpServerRequest& request, QTcpSocket* socket, int status,
                        const char* text) {
  QHttpServerResponse response("text/plain; charset=utf-8", QByteArray(text) + '\n',
                               static_cast<QHttpServerResponder::StatusCode>(status));
  AddCommonHeaders(response);
  response.write(makeResponder(request, socket));
  answered_ = socket;
}

bool WebGateway::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  server_->RequestDone(socket);
  answered_ = nullptr;
  const QString path = request.url().path();
  if (request.method() != QHttpServerRequest::Method::Get) return false;
  if (path == QStringLiteral("/stream")) return AcceptStream(request, socket);
  if (path == QStringLiteral("/")) return ServePage(request, socket);
  return false;
}

void WebGateway::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  if (socket == answered_) return;  // a refused WebSocket, already answered
  Answer(request, socket, 404, "404 Not Found");
}

bool WebGateway::ServePage(const QHttpServerRequest& request, QTcpSocket* socket) {
  if (!policy_.HostAllowed(request.value("host"))) {
    Answer(request, socket, 421, "421 Misdirected Request: this gateway does not answer for that name");
    return true;
  }
  const QString fromAddress = QueryToken(request.url());
  const bool inAddress = request.url().hasQuery();
  const QString given =
      inAddress ? fromAddress : AccessPolicy::TokenFromCookies(request.value("cookie"));
  switch (policy_.Check(PlainAddress(socket->peerAddress()), given, sinceStart_.elapsed())) {
    case AccessPolicy::Verdict::Accepted:
      break;
    case AccessPolicy::Verdict::Missing:
      Answer(request, socket, 403,
             "403 Forbidden: this gateway is private; open the address it printed, with its "
             "token");
      return true;
    case AccessPolicy::Verdict::Wrong:
      Answer(request, socket, 403, "403 Forbidden: wrong token");
      return true;
    case AccessPolicy::Verdict::Throttled:
      Answer(request, socket, 429, "429 Too Many Requests: wrong tokens; wait a second");
      return true;
  }
  if (inAddress) {
    // The token moves into a cookie and out of the address bar.
    QHttpServerResponse response("text/plain; charset=utf-8", QByteArray("See /\n"),
                                 QHttpServerResponder::StatusCode::SeeOther);
    AddCommonHeaders(response);
    response.addHeader("Location", "/");
    if (!policy_.Public()) response.addHeader("Set-Cookie", policy_.SetCookieValue());
    response.write(makeResponder(request, socket));
    return true;
  }
  QHttpServerResponse response("text/html; charset=utf-8", page_);
  AddCommonHeaders(response);
  response.addHeader("Content-Security-Policy", pagePolicy_);
  response.addHeader("X-Frame-Options", "DENY");
  response.write(makeResponder(request, socket));
  return true;
}

// true: the HTTP library hands the socket to the WebSocket server. A refusal
// is answered here with 403 (false: the library then closes the socket).
bool WebGateway::AcceptStream(const QHttpServerRequest& request, QTcpSocket* socket) {
  if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0) {
    Answer(request, socket, 400, "400 Bad Request: a WebSocket only");
    return true;
  }
  const QByteArray host = request.value("host");
  if (!policy_.HostAllowed(host) || !policy_.OriginMatches(request.value("origin"), host)) {
    Answer(request, socket, 403, "403 Forbidden: not from this gateway's page");
    return false;
  }
  const QString query = QueryToken(request.url());
  const QString given =
      !query.isEmpty() ? query : AccessPolicy::TokenFromCookies(request.value("cookie"));
  const AccessPolicy::Verdict verdict =
      policy_.Check(PlainAddress(socket->peerAddress()), given, sinceStart_.elapsed());
  if (verdict != AccessPolicy::Verdict::Accepted) {
    Answer(request, socket, verdict == AccessPolicy::Verdict::Throttled ? 429 : 403,
           "refused: no valid token");
    return false;
  }
  server_->Upgraded(socket);
  if (auto* tls = qobject_cast<QSslSocket*>(socket)) upgrading_.emplace_back(tls);
  return true;
}

void WebGateway::Wake() {
  if (flushQueued_.exchange(true)) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        const qint64 wait = kFrameMs - sinceFlush_.elapsed();
        if (wait > 0) {
          if (!frameTimer_.isActive()) frameTimer_.start(static_cast<int>(wait));
        } else {
          Flush();
        }
      },
      Qt::QueuedConnection);
}

void WebGateway::PictureStopping() {
  stream_.Stop(stream_.State() == WebState::Receiving ? WebState::Stopped : stream_.State());
  for (Client& c : clients_) Pump(c);
}

void WebGateway::Flush() {
  flushQueued_ = false;
  sinceFlush_.restart();
  viewer_.TakeChanges(changes_);
  qvViewer& viewer = viewer_.Viewer();
  if (!viewer.IsReceiving()) return;
  if (changes_.newPicture) {
    const FramebufferView fb = viewer.FramebufferInfo();
    if (fb.pixels != nullptr) stream_.Receive(fb);
  }
  if (stream_.State() != WebState::Receiving) return;
  QRegion region;
  for (const QRect& r : changes_.rects) region += r;
  stream_.AddChange(region);
  for (const QByteArray& unit : changes_.videoUnits) stream_.AddVideoUnit(unit);
  QRegion video;
  for (const QRect& r : changes_.videoRects) video += r;
  if (!video.isEmpty()) {
    stream_.AddVideoChange(video);
    if (!videoRectsTimer_.isActive()) videoRectsTimer_.start(kVideoRectsMs);
  }
  {
    std::lock_guard<std::mutex> lock(viewer.CursorLock());
    RemoteCursorState& cursor = viewer.CursorState();
    if (cursor.hasImage) stream_.SetCursorShape(cursor.image);
    stream_.SetCursorPosition(cursor.x, cursor.y);
    cursor.changed = false;
  }
  for (Client& c : clients_) Pump(c);
}

void WebGateway::Pump(Client& c) {
  if (c.socket->state() != QAbstractSocket::ConnectedState) return;
  // Over TLS the WebSocket counts only what waits to be encrypted; the
  // encrypted bytes wait in the TLS socket's own buffer.
  const qint64 encrypted = c.tls.isNull() ? 0 : c.tls->encryptedBytesToWrite();
  if (c.socket->bytesToWrite() + encrypted >= kBrowserBudget) return;
  messages_.clear();
  stream_.TakeMessages(*c.backlog, messages_);
  for (const QByteArray& m : messages_) c.socket->sendBinaryMessage(m);
}

void WebGateway::OnWebSocket() {
  while (hasPendingWebSocketConnections()) {
    QWebSocket* socket = nextPendingWebSocketConnection().release();
    if (socket == nullptr) continue;
    socket->setMaxAllowedIncomingFrameSize(kMaxIncoming);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
    // Admitted by AcceptStream; here only the places are counted.
    const QHostAddress peer = PlainAddress(socket->peerAddress());
    int fromPeer = 0;
    for (const Client& c : clients_) fromPeer += c.peer == peer ? 1 : 0;
    if (static_cast<int>(clients_.size()) >= kMaxBrowsers || fromPeer >= kBrowsersPerAddress) {
      // 1013 "try again later" (not in Qt's list): the page says the gateway
      // is full rather than blaming the token.
      socket->close(static_cast<QWebSocketProtocol::CloseCode>(1013), QStringLiteral("full"));
      socket->deleteLater();
      continue;
    }
    QPointer<QSslSocket> tls;
    for (auto it = upgrading_.begin(); it != upgrading_.end();) {
      if (!it->isNull() && (*it)->peerPort() == socket->peerPort() &&
          (*it)->peerAddress() == socket->peerAddress()) {
        tls = *it;
      }
      it = it->isNull() || tls == *it ? upgrading_.erase(it) : std::next(it);
    }
    // The page asks for the video as H.264 when it can decode it.
    const bool h264 =
        QUrlQuery(socket->requestUrl()).queryItemValue(QStringLiteral("video")) == "h264";
    clients_.push_back(
        Client{socket, stream_.AddBrowser(h264), peer, sinceStart_.elapsed(), tls});
    if (!tls.isNull()) {
      connect(tls, &QSslSocket::encryptedBytesWritten, this, [this, socket] {
        for (Client& c : clients_) {
          if (c.socket == socket) Pump(c);
        }
      });
    }
    connect(socket, &QWebSocket::pong, this, [this, socket] {
      for (Client& c : clients_) {
        if (c.socket == socket) c.lastPong = sinceStart_.elapsed();
      }
    });
    // Queued: the list of browsers never changes under a loop that sends.
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { Drop(socket); },
            Qt::QueuedConnection);
    connect(socket, &QWebSocket::bytesWritten, this, [this, socket] {
      for (Client& c : clients_) {
        if (c.socket == socket) Pump(c);
      }
    });
    Pump(clients_.back());
    ShowBrowsers();
  }
}

void WebGateway::Drop(QWebSocket* socket) {
  for (auto it = clients_.begin(); it != clients_.end(); ++it) {
    if (it->socket != socket) continue;
    stream_.RemoveBrowser(it->backlog);
    clients_.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    ShowBrowsers();
    return;
  }
}

void WebGateway::PingBrowsers() {
  const qint64 now = sinceStart_.elapsed();
  std::vector<QWebSocket*> silent;
  for (Client& c : clients_) {
    if (now - c.lastPong > kPongMs) {
      silent.push_back(c.socket);
    } else {
      c.socket->ping();
    }
  }
  for (QWebSocket* s : silent) {
    fprintf(stderr, "qvweb: a browser at %s stopped answering; dropped\n",
            s->peerAddress().toString().toUtf8().constData());
    s->abort();
    Drop(s);
  }
}

void WebGateway::ShowBrowsers() {
  fprintf(stderr, "qvweb: %d browser%s watching\n", Browsers(), Browsers() == 1 ? "" : "s");
  fflush(stderr);
}

}  // namespace qc
