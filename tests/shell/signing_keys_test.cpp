// SPDX-License-Identifier: GPL-3.0-or-later
// The keys as the shells keep them: a new sender key is stored for its user
// only and loads back; a key file others may read, or a damaged one, is
// refused; the receiver's trusted key takes only a real key text.
#include "shell/signing_keys.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/private_store.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace qc {
namespace {

TEST(SigningKeys, ANewSenderKeyIsStoredPrivatelyLoadsBackAndDamageOrWideAccessIsRefused) {
  test::TempDir dir;
#ifndef _WIN32
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
#endif
  PrivateKey none;
  std::string problem;
  PrivateStore("Vorazudud", "SigningKey").Remove();
  EXPECT_EQ(LoadSenderKey(none, problem), StoredKey::None);

  std::string report;
  ASSERT_TRUE(MakeSenderKey(report));
  PrivateKey key;
  ASSERT_EQ(LoadSenderKey(key, problem), StoredKey::Loaded) << problem;
  // The report hands out the public key and its fingerprint.
  EXPECT_NE(report.find(PublicKeyText(key.publicKey)), std::string::npos) << report;
  EXPECT_NE(report.find(Fingerprint(key.publicKey)), std::string::npos) << report;
  EXPECT_EQ(PublicKeyText(key.publicKey).size(), 44u);
  // A signature made with the loaded key verifies with the handed-out one.
  PublicKey handedOut;
  ASSERT_TRUE(ParsePublicKeyText("  " + PublicKeyText(key.publicKey) + "\n", handedOut));
  Signer signer;
  Verifier verifier;
  ASSERT_TRUE(signer.Load(key) && verifier.Load(handedOut));
  const uint8_t message[] = {1, 2, 3};
  uint8_t signature[kSignatureSize];
  ASSERT_TRUE(signer.Sign(message, sizeof message, signature));
  EXPECT_TRUE(verifier.Verify(message, sizeof message, signature));

#ifndef _WIN32
  const std::string path = SenderKeyLocation();
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat((dir.Path() + "/Quillcast").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
  chmod(path.c_str(), 0644);
  EXPECT_EQ(LoadSenderKey(key, problem), StoredKey::Unusable);
  EXPECT_NE(problem.find("read by others"), std::string::npos) << problem;
  chmod(path.c_str(), 0600);
#endif
  // A public key that does not belong to the secret: damaged.
  PrivateKey other;
  ASSERT_TRUE(GenerateKeyPair(other));
  other.publicKey = key.publicKey;
  ASSERT_TRUE(PrivateStore("Vorazudud", "SigningKey").Write(PrivateKeyFileText(other)));
  EXPECT_EQ(LoadSenderKey(key, problem), StoredKey::Unusable);
  PrivateStore("Vorazudud", "SigningKey").Remove();
}

TEST(SigningKeys, TheTrustedKeyTakesOnlyAKeyTextAndAnEmptyTextRemovesIt) {
  test::TempDir dir;
#ifndef _WIN32
  setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
#endif
  PrivateKey key;
  ASSERT_TRUE(GenerateKeyPair(key));
  const std::string text = PublicKeyText(key.publicKey);
  for (const std::string& bad : {std::string("hello"), text.substr(1), text + "AAAA",
                                 "*" + text.substr(1), std::string(44, '=')}) {
    EXPECT_FALSE(StoreTrustedKey(bad)) << bad;
  }
  ASSERT_TRUE(StoreTrustedKey(" " + text + " "));
  EXPECT_EQ(TrustedKeyText(), text);
  PublicKey loaded;
  std::string problem;
  ASSERT_EQ(LoadTrustedKey(loaded, problem), StoredKey::Loaded);
  EXPECT_EQ(loaded, key.publicKey);
  ASSERT_TRUE(StoreTrustedKey(""));
  EXPECT_EQ(LoadTrustedKey(loaded, problem), StoredKey::None);
  EXPECT_EQ(TrustedKeyText(), "");
}

}  // namespace
}  // namespace qc
