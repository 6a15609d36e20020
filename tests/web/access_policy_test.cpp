// SPDX-License-Identifier: GPL-3.0-or-later
// Who may watch through qvweb: the Host and Origin rules against the names
// a hostile page can make a browser send, and the token with its throttle
// over time.
#include "receiver/web/access_policy.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

const QStringList kHosts = {QStringLiteral("teacher-pc"), QStringLiteral("10.0.0.5"),
                            QStringLiteral("::1"), QStringLiteral("Beamer.School.Example")};

TEST(AccessPolicyTest, HostMustNameTheGateway) {
  const AccessPolicy policy(QStringLiteral("t"), kHosts, false);
  for (const char* ok : {"teacher-pc", "teacher-pc:8080", "TEACHER-PC:80", "10.0.0.5:8080",
                         "[::1]:8080", "[0:0::1]", "beamer.school.example:443"}) {
    EXPECT_TRUE(policy.HostAllowed(ok)) << ok;
  }
  // Rebinding names, look-alikes, user info and broken values.
  for (const char* bad : {"attacker.example", "teacher-pc.attacker.example", "10.0.0.50",
                          "attacker.example@10.0.0.5", "10.0.0.5@attacker.example", "",
                          ":8080", "[::1", "10.0.0.5:80/x", "10.0.0.5?x", "10.0.0.5#x", "::ffff:10.0.0.6"}) {
    EXPECT_FALSE(policy.HostAllowed(bad)) << bad;
  }
  // An address written as IPv4 mapped into IPv6 is the same host.
  EXPECT_TRUE(policy.HostAllowed("[::ffff:10.0.0.5]:8080"));
}

TEST(AccessPolicyTest, OriginMustBeTheGatewaysOwnPage) {
  const AccessPolicy plain(QString(), kHosts, false);
  const AccessPolicy tls(QString(), kHosts, true);
  EXPECT_TRUE(plain.OriginMatches("http://teacher-pc:8080", "teacher-pc:8080"));
  EXPECT_TRUE(plain.OriginMatches("http://10.0.0.5", "10.0.0.5:80"));
  EXPECT_TRUE(tls.OriginMatches("https://10.0.0.5", "10.0.0.5"));
  EXPECT_TRUE(tls.OriginMatches("https://[::1]:8443", "[::1]:8443"));
  EXPECT_FALSE(plain.OriginMatches("https://attacker.example", "teacher-pc:8080"));
  EXPECT_FALSE(plain.OriginMatches("http://teacher-pc:8081", "teacher-pc:8080"));
  EXPECT_FALSE(plain.OriginMatches("https://teacher-pc:8080", "teacher-pc:8080"));
  EXPECT_FALSE(tls.OriginMatches("http://10.0.0.5:443", "10.0.0.5"));
  EXPECT_FALSE(plain.OriginMatches("null", "teacher-pc:8080"));
  EXPECT_FALSE(plain.OriginMatches("", "teacher-pc:8080"));
  EXPECT_FALSE(plain.OriginMatches("http://teacher-pc:8080/page", "teacher-pc:8080"));
}

TEST(AccessPolicyTest, WrongTokensAreThrottledPerAddress) {
  AccessPolicy policy(QStringLiteral("s3cret"), kHosts, false);
  const QHostAddress guesser(QStringLiteral("10.0.0.66")), other(QStringLiteral("10.0.0.7"));
  using V = AccessPolicy::Verdict;
  EXPECT_EQ(policy.Check(guesser, QString(), 0), V::Missing);
  for (int i = 0; i < AccessPolicy::kBurst; ++i) {
    EXPECT_EQ(policy.Check(guesser, QStringLiteral("guess%1").arg(i), 0), V::Wrong);
  }
  // Spent: not even the right token is compared, but other hosts are.
  EXPECT_EQ(policy.Check(guesser, QStringLiteral("s3cret"), 10), V::Throttled);
  EXPECT_EQ(policy.Check(other, QStringLiteral("s3cret"), 10), V::Accepted);
  // One more comparison per refill; guessing all the time gets one a second.
  int compared = 0;
  for (qint64 t = 10; t < 10010; t += 10) {
    compared += policy.Check(guesser, QStringLiteral("x"), t) != V::Throttled;
  }
  EXPECT_EQ(compared, 10);
  EXPECT_EQ(policy.Check(guesser, QStringLiteral("s3cret"), 12000), V::Accepted);
  // The same host over IPv4 and as a mapped IPv6 peer shares one budget.
  EXPECT_EQ(PlainAddress(QHostAddress(QStringLiteral("::ffff:10.0.0.66"))), guesser);
  // Public: no token to check.
  AccessPolicy open(QString(), kHosts, false);
  EXPECT_EQ(open.Check(guesser, QString(), 0), V::Accepted);
}

TEST(AccessPolicyTest, TokenTravelsInItsCookie) {
  const QString token = QStringLiteral("a b;c=d%\u00e9");
  const AccessPolicy policy(token, kHosts, true);
  const QByteArray set = policy.SetCookieValue();
  EXPECT_TRUE(set.contains("HttpOnly") && set.contains("SameSite=Strict") &&
              set.contains("Secure") && set.contains("Path=/"));
  const QByteArray pair = set.left(set.indexOf(';'));
  EXPECT_FALSE(pair.contains(' '));
  EXPECT_EQ(AccessPolicy::TokenFromCookies("other=1; " + pair + "; last=2"), token);
  EXPECT_EQ(AccessPolicy::TokenFromCookies("xqvweb_token=1; qvweb_tokenx=2"), QString());
  EXPECT_FALSE(AccessPolicy(token, kHosts, false).SetCookieValue().contains("Secure"));
}

}  // namespace
}  // namespace qc
