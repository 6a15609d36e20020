// SPDX-License-Identifier: GPL-3.0-or-later
// Signed transmissions: the keys (Ed25519, through libgcrypt), how a person
// sees them (a base64 public key and a short fingerprint), the sender's key
// file, and the signature list, the one datagram type signing adds:
//
//   0 u16 type 0xFFF4     2 u16 screen identifier   4 u8 version (1)
//   5 u8 reserved (0)     6 u16 count N             8 8 bytes key fingerprint
//  16 u64 transmission nonce (random per transmission)
//  24 u32 list number (0, 1, 2, ... within the transmission)
//  28 u32 index of the first datagram listed (datagrams are counted from 0
//         within the transmission; the list names N consecutive ones)
//  32 u64 the sender's clock when it signed (ms since 1970, UTC)
//  40 N x 16 bytes: the first 16 bytes of SHA-256 of each listed datagram
//  40 + 16N  64 bytes: Ed25519 signature of bytes 0 .. 40 + 16N - 1
//
// The sender sends each list twice, before the datagrams it names; those
// datagrams go out unchanged. docs/protocol.md has the rules.
//
// Threads: every function may run on any thread (libgcrypt is initialised
// once, on first use); a Signer or Verifier is used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/protocol.h"

namespace qc {

inline constexpr size_t kKeySize = 32;
inline constexpr size_t kFingerprintSize = 8;
inline constexpr size_t kDatagramHashSize = 16;
inline constexpr uint8_t kSignatureListVersion = 1;
// The most datagrams one list may name (it must fit one datagram).
inline constexpr size_t kMaxListed =
    (kMaxDatagram - kSignatureListOverhead) / kDatagramHashSize;

struct PublicKey {
  std::array<uint8_t, kKeySize> bytes{};
  bool operator==(const PublicKey&) const = default;
};

struct PrivateKey {
  std::array<uint8_t, kKeySize> seed{};  // Ed25519's secret
  PublicKey publicKey;
};

// False when the library is unusable (too old, failed self-test); logged.
bool SigningAvailable();
bool GenerateKeyPair(PrivateKey& out);
// A random 64-bit value from the library's generator (transmission nonces).
uint64_t RandomNonce();

// A base64 text of the public key (44 characters) that a person pastes into
// a receiver, and a short fingerprint ("1a2b-3c4d-5e6f-7a8b", the first 8
// bytes of SHA-256 of the key) to compare by eye.
std::string PublicKeyText(const PublicKey& key);
// Accepts the text with surrounding blanks; false for anything that is not
// exactly 32 base64-encoded bytes.
bool ParsePublicKeyText(const std::string& text, PublicKey& out);
std::string Fingerprint(const PublicKey& key);
void FingerprintBytes(const PublicKey& key, uint8_t out[kFingerprintSize]);

// The sender's key file: a comment line, then "private=" and "public=" lines
// in base64. Parsing checks that the public key belongs to the secret.
std::string PrivateKeyFileText(const PrivateKey& key);
bool ParsePrivateKeyFileText(const std::string& text, PrivateKey& out);

// The first 16 bytes of SHA-256 of a datagram.
void HashDatagram(const uint8_t* data, size_t length, uint8_t out[kDatagramHashSize]);

class Signer {
 public:
  Signer() = default;
  ~Signer();
  Signer(const Signer&) = delete;
  Signer& operator=(const Signer&) = delete;
  bool Load(const PrivateKey& key);
  bool Loaded() const { return key_ != nullptr; }
  const PublicKey& Key() const { return publicKey_; }
  bool Sign(const uint8_t* message, size_t length, uint8_t signature[kSignatureSize]) const;

 private:
  void* key_ = nullptr;  // gcry_sexp_t
  PublicKey publicKey_;
};

class Verifier {
 public:
  Verifier() = default;
  ~Verifier();
  Verifier(const Verifier&) = delete;
  Verifier& operator=(const Verifier&) = delete;
  bool Load(const PublicKey& key);
  bool Loaded() const { return key_ != nullptr; }
  const PublicKey& Key() const { return publicKey_; }
  bool Verify(const uint8_t* message, size_t length, const uint8_t signature[kSignatureSize]) const;

 private:
  void* key_ = nullptr;  // gcry_sexp_t
  PublicKey publicKey_;
};

struct SignatureListHeader {
  uint16_t screenId = 0;
  uint16_t count = 0;
  std::array<uint8_t, kFingerprintSize> fingerprint{};
  uint64_t nonce = 0;
  uint32_t number = 0;
  uint32_t firstIndex = 0;
  uint64_t timeMs = 0;
};
inline constexpr size_t SignatureListSize(size_t count) {
  return kSignatureListOverhead + count * kDatagramHashSize;
}
void BuildSignatureListHeader(const SignatureListHeader& h, uint8_t out[kSignatureListHeaderSize]);
// False unless the datagram is a version 1 list whose length matches its
// count exactly. hashes points at the N hashes, signed at the bytes the
// signature covers (the datagram less its last 64 bytes).
bool ParseSignatureList(const uint8_t* data, size_t length, SignatureListHeader& out,
                        const uint8_t*& hashes);

}  // namespace qc
