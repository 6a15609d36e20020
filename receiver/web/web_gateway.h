// SPDX-License-Identifier: GPL-3.0-or-later
// WebGateway: the web server of qvweb. It serves the page (GET /) and the
// picture stream (a WebSocket on /stream) and keeps every browser current
// through PictureStream.
//
// Pacing: the viewer wakes the gateway after every datagram; the gateway
// gathers the changes at most every kFrameMs and sends each browser what it
// lacks, but only while less than kBrowserBudget bytes wait in that
// browser's socket. A browser that stops reading is simply not sent more;
// its backlog (a region) grows, and it gets the latest content when its
// socket drains, so neither its memory nor the others' pace depend on it.
// A page that decodes H.264 asks for "/stream?video=h264" and is forwarded
// the video region's access units (PictureStream says how).
//
// Safety: browsers only watch; whatever they send is dropped (and a frame
// larger than kMaxIncoming closes their socket). Connections are accepted by
// GuardedServer (caps per address and in all, request size, deadlines); who
// may watch is AccessPolicy's rule (Host, Origin, token, throttling). The
// page at "/?token=..." sets the token as a cookie and redirects to "/", so
// the token leaves the address bar and the history; the page itself carries
// a Content-Security-Policy that runs only its own script (by hash).
// WebSockets that stop answering pings (kPongMs) are dropped, so stalled
// clients do not keep their places; one address holds at most
// kBrowsersPerAddress of the kMaxBrowsers places.
//
// GUI thread only, except Wake().
#pragma once

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPointer>
#include <QSslSocket>
#include <QSslConfiguration>
#include <QString>
#include <QTimer>
#include <QWebSocket>
#include <atomic>
#include <list>
#include <memory>
#include <optional>
#include <vector>

#include "receiver/web/access_policy.h"
#include "receiver/web/guarded_server.h"
#include "receiver/web/picture_stream.h"
#include "receiver/web/web_viewer.h"

namespace qc {

class WebGateway : public QAbstractHttpServer, public WebViewer::Listener {
  Q_OBJECT
 public:
  static constexpr int kFrameMs = 30;
  // Browsers that do not decode the video region themselves are sent its
  // pixels at most this often (a 720p region is about 2 MB each time).
  static constexpr int kVideoRectsMs = 500;
  static constexpr qint64 kBrowserBudget = 512 * 1024;
  static constexpr int kMaxBrowsers = 128;
  static constexpr int kBrowsersPerAddress = 16;
  static constexpr qint64 kMaxIncoming = 1024;
  // Every browser is pinged each kPingMs; one that has not answered for
  // kPongMs (its socket is full, or it is gone without a word) is dropped.
  static constexpr int kPingMs = 5000;
  static constexpr qint64 kPongMs = 15000;

  // tls: serve HTTPS and WSS with it; maxConnections: see GuardedServer.
  WebGateway(WebViewer& viewer, AccessPolicy policy, std::optional<QSslConfiguration> tls,
             int maxConnections);
  ~WebGateway() override;

  // Opens the port; false when it cannot be had.
  bool Listen(const QHostAddress& address, quint16 port);
  // The address a browser on the network opens.
  QString Url() const;
  int Browsers() const { return static_cast<int>(clients_.size()); }

  void Wake() override;
  void PictureStopping() override;

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  struct Client {
    QWebSocket* socket = nullptr;  // owned; deleted later, never inside its own signal
    PictureStream::Backlog* backlog = nullptr;
    QHostAddress peer;
    qint64 lastPong = 0;  // ms on sinceStart_
    QPointer<QSslSocket> tls;  // the connection under it, with TLS
  };

  bool ServePage(const QHttpServerRequest& request, QTcpSocket* socket);
  bool AcceptStream(const QHttpServerRequest& request, QTcpSocket* socket);
  void Answer(const QHttpServerRequest& request, QTcpSocket* socket, int status,
              const char* text);
  void PingBrowsers();
  void Flush();
  void OnWebSocket();
  void Pump(Client& client);
  void Drop(QWebSocket* socket);
  void ShowBrowsers();

  WebViewer& viewer_;
  AccessPolicy policy_;
  GuardedServer* server_;  // a child of this
  QByteArray page_;
  QByteArray pagePolicy_;  // the page's Content-Security-Policy
  QTcpSocket* answered_ = nullptr;  // the socket whose refusal was just written
  QHostAddress address_;
  quint16 port_ = 0;
  PictureStream stream_;
  std::list<Client> clients_;
  // TLS connections accepted as WebSockets, until the WebSocket server hands
  // them over (matched by peer address and port).
  std::vector<QPointer<QSslSocket>> upgrading_;
  WebViewer::Changes changes_;
  std::vector<QByteArray> messages_;
  std::atomic<bool> flushQueued_{false};
  QTimer frameTimer_;
  QTimer pingTimer_;
  QTimer videoRectsTimer_;
  QElapsedTimer sinceFlush_;
  QElapsedTimer sinceStart_;
};

}  // namespace qc
