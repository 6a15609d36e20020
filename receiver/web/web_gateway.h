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
//
// Safety: browsers only watch; whatever they send is dropped (and a frame
// larger than kMaxIncoming closes their socket). With a token, the page and
// the stream both require it (?token=...): the page answers 403 without it,
// the stream is closed with the policy code. Malformed requests are answered
// or dropped by the HTTP library; the server keeps serving.
//
// GUI thread only, except Wake().
#pragma once

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QWebSocket>
#include <atomic>
#include <list>
#include <memory>
#include <vector>

#include "receiver/web/picture_stream.h"
#include "receiver/web/web_viewer.h"

namespace qc {

class WebGateway : public QObject, public WebViewer::Listener {
  Q_OBJECT
 public:
  static constexpr int kFrameMs = 30;
  static constexpr qint64 kBrowserBudget = 512 * 1024;
  static constexpr int kMaxBrowsers = 64;
  static constexpr qint64 kMaxIncoming = 1024;

  WebGateway(WebViewer& viewer, QString token);
  ~WebGateway() override;

  // Opens the HTTP port; false when it cannot be had.
  bool Listen(const QHostAddress& address, quint16 port);
  // The address a browser on the network opens.
  QString Url() const;
  int Browsers() const { return static_cast<int>(clients_.size()); }

  void Wake() override;
  void PictureStopping() override;

 private:
  struct Client {
    QWebSocket* socket = nullptr;  // owned; deleted later, never inside its own signal
    PictureStream::Backlog* backlog = nullptr;
  };

  bool TokenAccepted(const QString& given) const;
  void Flush();
  void OnWebSocket();
  void Pump(Client& client);
  void Drop(QWebSocket* socket);
  void ShowBrowsers();

  WebViewer& viewer_;
  QString token_;
  QHttpServer http_;
  QHostAddress address_;
  quint16 port_ = 0;
  PictureStream stream_;
  std::list<Client> clients_;
  WebViewer::Changes changes_;
  std::vector<QByteArray> messages_;
  std::atomic<bool> flushQueued_{false};
  QTimer frameTimer_;
  QElapsedTimer sinceFlush_;
};

}  // namespace qc
