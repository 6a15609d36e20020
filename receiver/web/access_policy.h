// SPDX-License-Identifier: GPL-3.0-or-later
// AccessPolicy: who may watch through qvweb.
// - Host: a request is answered only when its Host header names the gateway
//   (one of its addresses, its host names, or a name the admin allowed), so
//   a page on another site that resolves its own name to the gateway (DNS
//   rebinding) gets nothing.
// - Origin: a WebSocket is accepted only from the gateway's own page: its
//   Origin must be this scheme and this Host. A browser always sends Origin
//   on a WebSocket, so any other web page a student opens is refused.
// - Token: unless the gateway is public, the stream and the page need the
//   session token, from the address (?token=, which the page trades for a
//   cookie) or from that cookie (HttpOnly, SameSite=Strict). Wrong tokens
//   are throttled per address: kBurst at once, then one per kRefillMs; a
//   throttled address is not even compared.
//
// GUI thread only. Times are the caller's milliseconds (any monotonic clock).
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QSet>
#include <QString>

namespace qc {

// An IPv4 peer on a dual-stack socket shows as ::ffff:a.b.c.d; it is the
// same host as a.b.c.d. Peers are counted and throttled by this address.
QHostAddress PlainAddress(const QHostAddress& address);

class AccessPolicy {
 public:
  static constexpr int kBurst = 5;
  static constexpr qint64 kRefillMs = 1000;
  // Addresses remembered for throttling; beyond it, the ones whose budget is
  // whole again are forgotten, else any one.
  static constexpr int kMaxTracked = 4096;

  enum class Verdict { Accepted, Missing, Wrong, Throttled };

  // token empty: public. hosts: the names and addresses the gateway answers
  // for (compared without case; addresses in any notation).
  AccessPolicy(QString token, const QStringList& hosts, bool tls);

  bool Public() const { return token_.isEmpty(); }
  const QString& Token() const { return token_; }

  // hostHeader: "name", "name:port", "[v6]:port".
  bool HostAllowed(const QByteArray& hostHeader) const;
  // origin: the Origin header; hostHeader: the request's (already allowed).
  bool OriginMatches(const QByteArray& origin, const QByteArray& hostHeader) const;

  // given: the token offered (empty: none). A wrong one costs the address.
  Verdict Check(const QHostAddress& peer, const QString& given, qint64 nowMs);

  // The Set-Cookie value that holds the token, and the token out of a Cookie
  // header (empty when absent).
  QByteArray SetCookieValue() const;
  static QString TokenFromCookies(const QByteArray& cookieHeader);

 private:
  struct Budget {
    double left = kBurst;
    qint64 at = 0;
  };
  static QString HostOf(const QByteArray& hostHeader);
  bool Equal(const QString& given) const;

  QString token_;
  QSet<QString> hosts_;
  bool tls_;
  QHash<QHostAddress, Budget> budgets_;
};

}  // namespace qc
