// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/signing_keys.h"

#include "platform/private_store.h"

namespace qc {

namespace {
PrivateStore SenderStore() { return PrivateStore("Vorazudud", "SigningKey"); }
PrivateStore TrustStore() { return PrivateStore("Receiver", "SenderKey"); }
}  // namespace

std::string SenderKeyLocation() { return SenderStore().Where(); }

bool MakeSenderKey(std::string& report) {
  PrivateKey key;
  if (!SigningAvailable() || !GenerateKeyPair(key)) {
    report = "No key was made: the signing library cannot be used.\n";
    return false;
  }
  const PrivateStore store = SenderStore();
  if (!store.Write(PrivateKeyFileText(key))) {
    report = "No key was made: " + store.Where() + " cannot be written.\n";
    return false;
  }
  report = "New sender key. Transmissions from this account are signed from now on.\n"
           "Give receivers the public key (qvrecv --trust KEY, or \"Sender key\" in the\n"
           "receiver's settings; qvweb --trust KEY):\n\n    " +
           PublicKeyText(key.publicKey) + "\n\nFingerprint (compare it on the receivers): " +
           Fingerprint(key.publicKey) + "\nPrivate key: " + store.Where() +
           " (readable by you only; keep it so)\n";
  return true;
}

StoredKey LoadSenderKey(PrivateKey& key, std::string& problem) {
  const PrivateStore store = SenderStore();
  const std::optional<std::string> text = store.Read(&problem);
  if (!text) return problem.empty() ? StoredKey::None : StoredKey::Unusable;
  if (!SigningAvailable() || !ParsePrivateKeyFileText(*text, key)) {
    problem = store.Where() + " holds no usable key (make a new one with --new-key)";
    return StoredKey::Unusable;
  }
  return StoredKey::Loaded;
}

StoredKey LoadTrustedKey(PublicKey& key, std::string& problem) {
  const std::optional<std::string> text = TrustStore().Read(&problem);
  if (!text) return problem.empty() ? StoredKey::None : StoredKey::Unusable;
  if (!ParsePublicKeyText(*text, key)) {
    problem = kBadKeyText;
    return StoredKey::Unusable;
  }
  return StoredKey::Loaded;
}

bool StoreTrustedKey(const std::string& text) {
  PublicKey key;
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return TrustStore().Remove();
  if (!ParsePublicKeyText(text, key)) return false;
  return TrustStore().Write(PublicKeyText(key) + "\n");
}

std::string TrustedKeyText() {
  PublicKey key;
  std::string problem;
  return LoadTrustedKey(key, problem) == StoredKey::Loaded ? PublicKeyText(key) : std::string();
}

}  // namespace qc
