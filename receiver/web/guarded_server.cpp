// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/guarded_server.h"

#include <QSslSocket>

#include "receiver/web/access_policy.h"

namespace qc {

GuardedServer::GuardedServer(int maxConnections, std::optional<QSslConfiguration> tls,
                             QObject* parent)
    : QTcpServer(parent), maxConnections_(maxConnections), tls_(std::move(tls)) {
  clock_.start();
  sweep_.setInterval(1000);
  connect(&sweep_, &QTimer::timeout, this, &GuardedServer::Sweep);
  sweep_.start();
  // Out of descriptors (or another resource), Qt stops accepting for good;
  // the sweep frees descriptors, so accepting resumes shortly after.
  connect(this, &QTcpServer::acceptError, this, [this] {
    QTimer::singleShot(200, this, [this] { resumeAccepting(); });
  });
}

int GuardedServer::ConnectionsFrom(const QHostAddress& address) const {
  return perAddress_.value(PlainAddress(address), 0);
}

void GuardedServer::incomingConnection(qintptr descriptor) {
  QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  const QHostAddress peer = PlainAddress(socket->peerAddress());
  if (static_cast<int>(connections_.size()) >= maxConnections_ ||
      perAddress_.value(peer, 0) >= kMaxPerAddress) {
    socket->abort();
    delete socket;
    return;
  }
  Forget(socket);  // a stale entry at a reused address (see Sweep)
  connections_[socket] = Connection{socket, peer, clock_.elapsed() + kHeaderMs};
  ++perAddress_[peer];
  socket->setReadBufferSize(kMaxRequestBytes);
  connect(socket, &QObject::destroyed, this, [this, socket] { Forget(socket); });
  connect(socket, &QAbstractSocket::disconnected, this, [this, socket] { Forget(socket); });
  if (tls_) {
    auto* ssl = static_cast<QSslSocket*>(socket);
    ssl->setSslConfiguration(*tls_);
    // A failed handshake (an old client, a plain request on the TLS port)
    // ends the connection; the HTTP library never sees it.
    connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->abort(); });
    connect(ssl, &QAbstractSocket::errorOccurred, ssl, [ssl](QAbstractSocket::SocketError e) {
      if (e != QAbstractSocket::RemoteHostClosedError) ssl->abort();
    });
    ssl->startServerEncryption();
  }
  addPendingConnection(socket);
}

void GuardedServer::RequestDone(QTcpSocket* socket) {
  auto it = connections_.find(socket);
  if (it != connections_.end() && it->second.deadline != 0) {
    it->second.deadline = clock_.elapsed() + kIdleMs;
  }
}

void GuardedServer::Upgraded(QTcpSocket* socket) {
  auto it = connections_.find(socket);
  if (it != connections_.end()) it->second.deadline = 0;
}

void GuardedServer::Forget(QObject* socket) {
  auto it = connections_.find(socket);
  if (it == connections_.end()) return;
  auto count = perAddress_.find(it->second.peer);
  if (count != perAddress_.end() && --count.value() <= 0) perAddress_.erase(count);
  connections_.erase(it);
}

// Also the safety net for sockets whose signals their new owner cut (the
// HTTP library disconnects a socket it hands to the WebSocket server): a
// socket that is gone or closed is forgotten here within a second.
void GuardedServer::Sweep() {
  const qint64 now = clock_.elapsed();
  std::vector<QObject*> gone;
  std::vector<QPointer<QTcpSocket>> late;
  for (auto& [key, c] : connections_) {
    if (c.socket.isNull() || c.socket->state() == QAbstractSocket::UnconnectedState) {
      gone.push_back(key);
    } else if (c.deadline != 0 && now >= c.deadline) {
      late.push_back(c.socket);
    }
  }
  for (QObject* key : gone) Forget(key);
  for (const QPointer<QTcpSocket>& s : late) {
    if (s.isNull()) continue;
    Forget(s.data());
    s->abort();  // the HTTP library deletes it on "disconnected"
  }
}

}  // namespace qc
