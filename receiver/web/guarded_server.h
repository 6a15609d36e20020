// SPDX-License-Identifier: GPL-3.0-or-later
// GuardedServer: the listening socket of qvweb. It accepts every connection
// itself, before the HTTP library sees it, so that one host on the network
// cannot take the gateway's memory, descriptors or time:
// - at most kMaxPerAddress connections from one address and maxConnections
//   in all; a connection beyond either is closed as soon as it is accepted
//   (accepting it keeps the listening socket from staying readable, which
//   would spin the event loop); should accepting fail (no descriptor left),
//   it resumes after a moment instead of stopping for good;
// - each socket buffers at most kMaxRequestBytes of what the peer sent. The
//   HTTP library keeps a request's bytes until the request is complete, so
//   this bounds the request line, the headers and any body together: a
//   larger request stalls (the kernel's window closes) and meets its
//   deadline;
// - a connection must complete a request within kHeaderMs of opening (the
//   TLS handshake included) and each further one within kIdleMs of the
//   previous one; a connection that misses its deadline is dropped;
// - a connection upgraded to a WebSocket has no deadline here: the gateway
//   watches it (ping and pong).
// With a TLS configuration, every connection is a QSslSocket that starts the
// server handshake at once; the HTTP library reads and writes it as plain.
//
// GUI thread only.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <optional>
#include <unordered_map>

namespace qc {

class GuardedServer : public QTcpServer {
  Q_OBJECT
 public:
  // Browsers open up to 6 connections per host for pages plus one per tab
  // for the stream: 32 leaves room for a few tabs behind one address (a
  // shared machine) and keeps one host far from the total.
  static constexpr int kMaxPerAddress = 32;
  // A request is a GET of a few hundred bytes plus cookies; nothing here
  // takes a body.
  static constexpr qint64 kMaxRequestBytes = 16 * 1024;
  static constexpr qint64 kHeaderMs = 10000;
  static constexpr qint64 kIdleMs = 15000;

  // maxConnections: the total cap (keep it below the open-file limit).
  GuardedServer(int maxConnections, std::optional<QSslConfiguration> tls, QObject* parent);

  // The HTTP library handled a request on socket: its next one has kIdleMs.
  void RequestDone(QTcpSocket* socket);
  // socket became a WebSocket: no deadline any more (still counted).
  void Upgraded(QTcpSocket* socket);

  int Connections() const { return static_cast<int>(connections_.size()); }
  int MaxConnections() const { return maxConnections_; }
  // Connections from address now open.
  int ConnectionsFrom(const QHostAddress& address) const;
  bool Tls() const { return tls_.has_value(); }

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  struct Connection {
    QPointer<QTcpSocket> socket;
    QHostAddress peer;
    qint64 deadline = 0;  // ms on clock_; 0: none
  };

  void Forget(QObject* socket);
  void Sweep();

  int maxConnections_;
  std::optional<QSslConfiguration> tls_;
  std::unordered_map<QObject*, Connection> connections_;
  QHash<QHostAddress, int> perAddress_;
  QElapsedTimer clock_;
  QTimer sweep_;
};

}  // namespace qc
