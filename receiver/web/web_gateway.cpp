#include "receiver/web/web_gateway.h"

#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QNetworkInterface>
#include <QUrlQuery>
#include <cstdio>
#include <mutex>

namespace qc {

namespace {

QByteArray LoadPage() {
  QFile file(QStringLiteral(":/qvweb/page.html"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString TokenOf(const QUrl& url) {
  return QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
}

}  // namespace

WebGateway::WebGateway(WebViewer& viewer, QString token)
    : viewer_(viewer), token_(std::move(token)) {
  frameTimer_.setSingleShot(true);
  connect(&frameTimer_, &QTimer::timeout, this, [this] { Flush(); });
  sinceFlush_.start();

  http_.route("/", QHttpServerRequest::Method::Get, [this](const QHttpServerRequest& request) {
    if (!TokenAccepted(TokenOf(request.url()))) {
      return QHttpServerResponse("text/plain", "403 Forbidden: a valid ?token= is needed\n",
                                 QHttpServerResponder::StatusCode::Forbidden);
    }
    static const QByteArray page = LoadPage();
    QHttpServerResponse response("text/html; charset=utf-8", page);
    response.addHeader("Cache-Control", "no-store");
    response.addHeader("X-Content-Type-Options", "nosniff");
    response.addHeader("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; style-src "
                       "'unsafe-inline'; connect-src 'self'; img-src data: blob:");
    return response;
  });
  // The HTTP library hands a WebSocket upgrade over only when a route has
  // taken the request; this one writes nothing for an upgrade (the socket
  // then belongs to the WebSocket server) and 400 for anything else.
  http_.route("/stream", QHttpServerRequest::Method::Get,
              [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
                if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) != 0) {
                  responder.write(QHttpServerResponder::StatusCode::BadRequest);
                }
              });
  connect(&http_, &QAbstractHttpServer::newWebSocketConnection, this, &WebGateway::OnWebSocket);
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
  port_ = http_.listen(address, port);
  address_ = address;
  return port_ != 0;
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
  QString url = QStringLiteral("http://%1:%2/").arg(host).arg(port_);
  if (!token_.isEmpty()) {
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("token"), token_);
    url += QStringLiteral("?") + query.toString(QUrl::FullyEncoded);
  }
  return url;
}

bool WebGateway::TokenAccepted(const QString& given) const {
  if (token_.isEmpty()) return true;
  // Compared in full whatever the first difference, so the time taken tells
  // nothing about the token.
  const QByteArray a = given.toUtf8(), b = token_.toUtf8();
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (qsizetype i = 0; i < b.size(); ++i) {
    diff |= static_cast<unsigned>((i < a.size() ? a[i] : 0) ^ b[i]);
  }
  return diff == 0;
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
  if (c.socket->bytesToWrite() >= kBrowserBudget) return;
  messages_.clear();
  stream_.TakeMessages(*c.backlog, messages_);
  for (const QByteArray& m : messages_) c.socket->sendBinaryMessage(m);
}

void WebGateway::OnWebSocket() {
  while (http_.hasPendingWebSocketConnections()) {
    QWebSocket* socket = http_.nextPendingWebSocketConnection().release();
    if (socket == nullptr) continue;
    socket->setMaxAllowedIncomingFrameSize(kMaxIncoming);
    socket->setMaxAllowedIncomingMessageSize(kMaxIncoming);
    const QUrl url = socket->requestUrl();
    if (url.path() != QStringLiteral("/stream") || !TokenAccepted(TokenOf(url)) ||
        static_cast<int>(clients_.size()) >= kMaxBrowsers) {
      socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("refused"));
      socket->deleteLater();
      continue;
    }
    clients_.push_back(Client{socket, stream_.AddBrowser()});
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

void WebGateway::ShowBrowsers() {
  fprintf(stderr, "qvweb: %d browser%s watching\n", Browsers(), Browsers() == 1 ? "" : "s");
  fflush(stderr);
}

}  // namespace qc
