// SPDX-License-Identifier: GPL-3.0-or-later
// TlsIdentity: the certificate and key qvweb serves HTTPS with: read from the
// admin's files, or a self-signed one that the gateway makes on its first
// start with Debian's openssl tool (an ECDSA P-256 key, valid ten years, for
// the machine's host name, "localhost" and its addresses) and keeps in the
// settings folder, so that browsers told to trust it keep trusting it.
//
// GUI thread (start-up) only.
#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>
#include <QStringList>

namespace qc {

struct TlsIdentity {
  QSslCertificate certificate;
  QSslKey key;

  // An empty identity and the reason in error when the files are unusable.
  static TlsIdentity Load(const QString& certFile, const QString& keyFile, QString& error);
  // Loads folder/qvweb-tls.crt and .key, making them first if missing.
  // names: host names and addresses the certificate covers.
  static TlsIdentity SelfSigned(const QString& folder, const QStringList& names,
                                QString& error);

  bool IsNull() const { return certificate.isNull() || key.isNull(); }
  // "AB:CD:..." of the certificate's DER.
  QString Sha256Fingerprint() const;
  QSslConfiguration Configuration() const;
};

}  // namespace qc
