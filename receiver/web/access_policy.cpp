// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/access_policy.h"

#include <QUrl>
#include <algorithm>

namespace qc {

namespace {

constexpr char kCookie[] = "qvweb_token";

// A name in one spelling: lower case, an address in Qt's notation.
QString Canonical(const QString& host) {
  QHostAddress address;
  if (address.setAddress(host)) return PlainAddress(address).toString();
  return host.toLower();
}

}  // namespace

QHostAddress PlainAddress(const QHostAddress& address) {
  bool v4 = false;
  const quint32 ip = address.toIPv4Address(&v4);
  return v4 ? QHostAddress(ip) : address;
}

AccessPolicy::AccessPolicy(QString token, const QStringList& hosts, bool tls)
    : token_(std::move(token)), tls_(tls) {
  for (const QString& h : hosts) {
    if (!h.isEmpty()) hosts_.insert(Canonical(h));
  }
}

QString AccessPolicy::HostOf(const QByteArray& hostHeader) {
  // QUrl splits host and port and validates the host, brackets included.
  const QUrl url(QStringLiteral("http://") + QString::fromLatin1(hostHeader.trimmed()) +
                 QStringLiteral("/"));
  if (!url.isValid() || !url.userInfo().isEmpty() || url.host().isEmpty() ||
      url.path() != QStringLiteral("/") || url.hasQuery() || url.hasFragment()) {
    return {};
  }
  return Canonical(url.host());
}

bool AccessPolicy::HostAllowed(const QByteArray& hostHeader) const {
  const QString host = HostOf(hostHeader);
  return !host.isEmpty() && hosts_.contains(host);
}

bool AccessPolicy::OriginMatches(const QByteArray& origin, const QByteArray& hostHeader) const {
  const QUrl o(QString::fromLatin1(origin.trimmed()));
  const QUrl h(QString::fromLatin1(tls_ ? "https://" : "http://") +
               QString::fromLatin1(hostHeader.trimmed()) + QStringLiteral("/"));
  if (!o.isValid() || !h.isValid() || o.scheme() != h.scheme() || !o.path().isEmpty()) {
    return false;
  }
  const int defaultPort = tls_ ? 443 : 80;
  return Canonical(o.host()) == Canonical(h.host()) && !o.host().isEmpty() &&
         o.port(defaultPort) == h.port(defaultPort);
}

bool AccessPolicy::Equal(const QString& given) const {
  // Compared in full whatever the first difference, so the time taken tells
  // nothing about the token.
  const QByteArray a = given.toUtf8(), b = token_.toUtf8();
  unsigned diff = a.size() == b.size() ? 0u : 1u;
  for (qsizetype i = 0; i < b.size(); ++i) {
    diff |= static_cast<unsigned>((i < a.size() ? a[i] : 0) ^ b[i]);
  }
  return diff == 0;
}

AccessPolicy::Verdict AccessPolicy::Check(const QHostAddress& peer, const QString& given,
                                          qint64 nowMs) {
  if (Public()) return Verdict::Accepted;
  if (given.isEmpty()) return Verdict::Missing;
  auto it = budgets_.find(peer);
  if (it != budgets_.end()) {
    Budget& b = it.value();
    b.left = std::min<double>(kBurst, b.left + double(nowMs - b.at) / kRefillMs);
    b.at = nowMs;
    if (b.left < 1) return Verdict::Throttled;
  }
  if (Equal(given)) return Verdict::Accepted;
  if (it == budgets_.end()) {
    if (budgets_.size() >= kMaxTracked) {
      for (auto f = budgets_.begin(); f != budgets_.end();) {
        const double left = f->left + double(nowMs - f->at) / kRefillMs;
        f = left >= kBurst ? budgets_.erase(f) : std::next(f);
      }
      // Still full: many addresses guessing at once; any one account goes.
      if (budgets_.size() >= kMaxTracked) budgets_.erase(budgets_.begin());
    }
    it = budgets_.insert(peer, Budget{double(kBurst), nowMs});
  }
  it->left -= 1;
  return Verdict::Wrong;
}

QByteArray AccessPolicy::SetCookieValue() const {
  QByteArray v = QByteArray(kCookie) + '=' + QUrl::toPercentEncoding(token_) +
                 "; Path=/; HttpOnly; SameSite=Strict";
  if (tls_) v += "; Secure";
  return v;
}

QString AccessPolicy::TokenFromCookies(const QByteArray& cookieHeader) {
  for (const QByteArray& part : cookieHeader.split(';')) {
    const QByteArray item = part.trimmed();
    const qsizetype eq = item.indexOf('=');
    if (eq > 0 && item.left(eq) == kCookie) {
      return QUrl::fromPercentEncoding(item.mid(eq + 1));
    }
  }
  return {};
}

}  // namespace qc
