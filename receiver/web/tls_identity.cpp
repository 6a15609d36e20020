// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/tls_identity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>

namespace qc {

namespace {

bool ReadAll(const QString& path, QByteArray& out, QString& error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return false;
  }
  out = file.readAll();
  return true;
}

}  // namespace

TlsIdentity TlsIdentity::Load(const QString& certFile, const QString& keyFile, QString& error) {
  QByteArray certPem, keyPem;
  if (!ReadAll(certFile, certPem, error) || !ReadAll(keyFile, keyPem, error)) return TlsIdentity();
  TlsIdentity id;
  // The first certificate is the server's; the rest of the file (its chain)
  // is sent along.
  const QList<QSslCertificate> chain = QSslCertificate::fromData(certPem, QSsl::Pem);
  if (chain.isEmpty()) {
    error = QStringLiteral("%1 holds no PEM certificate").arg(certFile);
    return TlsIdentity();
  }
  id.certificate = chain.first();
  for (QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa}) {
    id.key = QSslKey(keyPem, algorithm, QSsl::Pem);
    if (!id.key.isNull()) break;
  }
  if (id.key.isNull()) {
    error = QStringLiteral("%1 holds no unencrypted PEM key (EC or RSA)").arg(keyFile);
    return TlsIdentity();
  }
  return id;
}

TlsIdentity TlsIdentity::SelfSigned(const QString& folder, const QStringList& names,
                                    QString& error) {
  const QString cert = QDir(folder).filePath(QStringLiteral("qvweb-tls.crt"));
  const QString key = QDir(folder).filePath(QStringLiteral("qvweb-tls.key"));
  if (!QFileInfo::exists(cert) || !QFileInfo::exists(key)) {
    if (!QDir().mkpath(folder)) {
      error = QStringLiteral("cannot create %1").arg(folder);
      return TlsIdentity();
    }
    QStringList alt;
    for (const QString& n : names) {
      const QString entry = (QHostAddress(n).isNull() ? QStringLiteral("DNS:") : QStringLiteral("IP:")) + n;
      if (!n.isEmpty() && !alt.contains(entry)) alt << entry;
    }
    const QString tmpCert = cert + QStringLiteral(".new"), tmpKey = key + QStringLiteral(".new");
    // The key file is made owner-only before openssl writes into it.
    {
      QFile k(tmpKey);
      if (!k.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
          !k.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        error = QStringLiteral("cannot write %1").arg(tmpKey);
        return TlsIdentity();
      }
    }
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-sha256"), QStringLiteral("-days"), QStringLiteral("3650"),
                   QStringLiteral("-subj"),
                   QStringLiteral("/CN=%1/O=Quillcast qvweb").arg(names.value(0, QStringLiteral("qvweb"))),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + alt.join(QLatin1Char(',')),
                   QStringLiteral("-addext"), QStringLiteral("extendedKeyUsage=serverAuth"),
                   QStringLiteral("-keyout"), tmpKey, QStringLiteral("-out"), tmpCert});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
      error = QStringLiteral("openssl could not make a certificate: %1")
                  .arg(openssl.error() == QProcess::FailedToStart
                           ? QStringLiteral("openssl is not installed")
                           : QString::fromLocal8Bit(openssl.readAll()).trimmed());
      QFile::remove(tmpCert);
      QFile::remove(tmpKey);
      return TlsIdentity();
    }
    QFile::setPermissions(tmpKey, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::remove(key);
    QFile::remove(cert);
    if (!QFile::rename(tmpKey, key) || !QFile::rename(tmpCert, cert)) {
      error = QStringLiteral("cannot store the certificate in %1").arg(folder);
      return TlsIdentity();
    }
  }
  return Load(cert, key, error);
}

QString TlsIdentity::Sha256Fingerprint() const {
  const QByteArray d = certificate.digest(QCryptographicHash::Sha256).toHex().toUpper();
  QStringList pairs;
  for (qsizetype i = 0; i < d.size(); i += 2) pairs << QString::fromLatin1(d.mid(i, 2));
  return pairs.join(QLatin1Char(':'));
}

QSslConfiguration TlsIdentity::Configuration() const {
  QSslConfiguration c = QSslConfiguration::defaultConfiguration();
  c.setLocalCertificate(certificate);
  c.setPrivateKey(key);
  c.setPeerVerifyMode(QSslSocket::VerifyNone);
  c.setProtocol(QSsl::TlsV1_2OrLater);
  return c;
}

}  // namespace qc
