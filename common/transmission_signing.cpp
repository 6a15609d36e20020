// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/transmission_signing.h"

#include <gcrypt.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "common/byte_order.h"
#include "common/log_file.h"

namespace qc {

namespace {

// libgcrypt's minimum: Ed25519 signing with the eddsa flag.
constexpr char kNeededVersion[] = "1.8.0";

bool Initialise() {
  static bool ready = false;
  static std::once_flag once;
  std::call_once(once, [] {
    if (gcry_check_version(kNeededVersion) == nullptr) {
      Log().Print("Signing: libgcrypt %s or later needed\n", kNeededVersion);
      return;
    }
    // Keys live in ordinary memory: a locked pool needs privileges the
    // programs do not have, and the key file is on disk anyway.
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    ready = true;
  });
  return ready;
}

// One opaque value of an S-expression token, copied right-aligned into
// out (Ed25519's values are 32 bytes; a leading zero may be dropped).
bool TokenBytes(gcry_sexp_t sexp, const char* name, uint8_t* out, size_t size) {
  gcry_sexp_t tok = gcry_sexp_find_token(sexp, name, 0);
  if (tok == nullptr) return false;
  size_t n = 0;
  const char* data = gcry_sexp_nth_data(tok, 1, &n);
  bool ok = data != nullptr && n <= size + 1;
  if (ok) {
    // libgcrypt may prefix a public point with 0x40 (native encoding).
    if (n == size + 1) {
      ok = static_cast<uint8_t>(data[0]) == 0x40;
      ++data;
      --n;
    }
    if (ok) {
      std::memset(out, 0, size - n);
      std::memcpy(out + (size - n), data, n);
    }
  }
  gcry_sexp_release(tok);
  return ok;
}

std::string Base64(const uint8_t* data, size_t length) {
  std::string text;
  gpgrt_stream_t mem = gpgrt_fopenmem(0, "w+b");
  if (mem == nullptr) return text;
  gpgrt_b64state_t state = gpgrt_b64enc_start(mem, nullptr);
  bool ok = state != nullptr && gpgrt_b64enc_write(state, data, length) == 0;
  if (state != nullptr) ok = gpgrt_b64enc_finish(state) == 0 && ok;
  void* bytes = nullptr;
  size_t n = 0;
  if (gpgrt_fclose_snatch(mem, &bytes, &n) == 0 && ok && bytes != nullptr) {
    text.assign(static_cast<const char*>(bytes), n);
  }
  gpgrt_free(bytes);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// Exactly `size` bytes from base64 text (blanks around it allowed).
bool FromBase64(const std::string& text, uint8_t* out, size_t size) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  const size_t end = text.find_last_not_of(" \t\r\n");
  if (begin == std::string::npos) return false;
  std::string buf = text.substr(begin, end - begin + 1);
  for (char c : buf) {
    const bool b64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '+' || c == '/' || c == '=';
    if (!b64) return false;
  }
  if (buf.size() != (size + 2) / 3 * 4) return false;
  gpgrt_b64state_t state = gpgrt_b64dec_start(nullptr);
  if (state == nullptr) return false;
  size_t n = 0;
  bool ok = gpgrt_b64dec_proc(state, buf.data(), buf.size(), &n) == 0;
  ok = gpgrt_b64dec_finish(state) == 0 && ok;
  if (!ok || n != size) return false;
  std::memcpy(out, buf.data(), size);
  return true;
}

// The value after "name=" on its own line, or "".
std::string FileValue(const std::string& text, const char* name) {
  const std::string key = std::string(name) + "=";
  size_t at = 0;
  while (at < text.size()) {
    size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    if (text.compare(at, key.size(), key) == 0) {
      return text.substr(at + key.size(), eol - at - key.size());
    }
    at = eol + 1;
  }
  return {};
}

bool PublicFromSeed(const std::array<uint8_t, kKeySize>& seed, PublicKey& out) {
  // Signing needs the public point as well; libgcrypt derives it when the
  // key is built without one and a signature is asked for: sign a fixed
  // message and read q back from a key pair made from the seed.
  gcry_sexp_t key = nullptr;
  if (gcry_sexp_build(&key, nullptr, "(private-key(ecc(curve Ed25519)(flags eddsa)(d %b)))",
                      static_cast<int>(seed.size()), seed.data()) != 0) {
    return false;
  }
  gcry_ctx_t ctx = nullptr;
  bool ok = gcry_mpi_ec_new(&ctx, key, nullptr) == 0;
  if (ok) {
    gcry_mpi_t q = gcry_mpi_ec_get_mpi("q@eddsa", ctx, 1);
    ok = false;
    if (q != nullptr) {
      unsigned int bits = 0;
      const void* p = gcry_mpi_get_opaque(q, &bits);
      if (p != nullptr && bits == kKeySize * 8) {
        std::memcpy(out.bytes.data(), p, kKeySize);
        ok = true;
      }
      gcry_mpi_release(q);
    }
    gcry_ctx_release(ctx);
  }
  gcry_sexp_release(key);
  return ok;
}

}  // namespace

bool SigningAvailable() { return Initialise(); }

bool GenerateKeyPair(PrivateKey& out) {
  if (!Initialise()) return false;
  gcry_sexp_t params = nullptr, pair = nullptr;
  if (gcry_sexp_build(&params, nullptr, "(genkey(ecc(curve Ed25519)(flags eddsa)))") != 0) {
    return false;
  }
  const bool made = gcry_pk_genkey(&pair, params) == 0;
  gcry_sexp_release(params);
  if (!made) return false;
  gcry_sexp_t secret = gcry_sexp_find_token(pair, "private-key", 0);
  const bool ok = secret != nullptr && TokenBytes(secret, "d", out.seed.data(), kKeySize) &&
                  TokenBytes(secret, "q", out.publicKey.bytes.data(), kKeySize);
  gcry_sexp_release(secret);
  gcry_sexp_release(pair);
  return ok;
}

uint64_t RandomNonce() {
  uint8_t bytes[8] = {};
  if (Initialise()) gcry_randomize(bytes, sizeof bytes, GCRY_STRONG_RANDOM);
  return ReadU64(bytes);
}

std::string PublicKeyText(const PublicKey& key) {
  return Base64(key.bytes.data(), key.bytes.size());
}

bool ParsePublicKeyText(const std::string& text, PublicKey& out) {
  return Initialise() && FromBase64(text, out.bytes.data(), kKeySize);
}

void FingerprintBytes(const PublicKey& key, uint8_t out[kFingerprintSize]) {
  uint8_t digest[32] = {};
  if (Initialise()) gcry_md_hash_buffer(GCRY_MD_SHA256, digest, key.bytes.data(), key.bytes.size());
  std::memcpy(out, digest, kFingerprintSize);
}

std::string Fingerprint(const PublicKey& key) {
  uint8_t f[kFingerprintSize];
  FingerprintBytes(key, f);
  char text[24];
  std::snprintf(text, sizeof text, "%02x%02x-%02x%02x-%02x%02x-%02x%02x", f[0], f[1], f[2], f[3],
                f[4], f[5], f[6], f[7]);
  return text;
}

std::string PrivateKeyFileText(const PrivateKey& key) {
  return "# Quillcast sender key: keep this file private. Receivers need only the public key.\n"
         "private=" +
         Base64(key.seed.data(), key.seed.size()) + "\npublic=" + PublicKeyText(key.publicKey) +
         "\n";
}

bool ParsePrivateKeyFileText(const std::string& text, PrivateKey& out) {
  PrivateKey key;
  PublicKey derived;
  if (!Initialise() || !FromBase64(FileValue(text, "private"), key.seed.data(), kKeySize) ||
      !ParsePublicKeyText(FileValue(text, "public"), key.publicKey) ||
      !PublicFromSeed(key.seed, derived) || !(derived == key.publicKey)) {
    return false;
  }
  out = key;
  return true;
}

void HashDatagram(const uint8_t* data, size_t length, uint8_t out[kDatagramHashSize]) {
  uint8_t digest[32];
  gcry_md_hash_buffer(GCRY_MD_SHA256, digest, data, length);
  std::memcpy(out, digest, kDatagramHashSize);
}

Signer::~Signer() { gcry_sexp_release(static_cast<gcry_sexp_t>(key_)); }

bool Signer::Load(const PrivateKey& key) {
  if (!Initialise()) return false;
  gcry_sexp_release(static_cast<gcry_sexp_t>(key_));
  key_ = nullptr;
  gcry_sexp_t sexp = nullptr;
  if (gcry_sexp_build(&sexp, nullptr,
                      "(private-key(ecc(curve Ed25519)(flags eddsa)(q %b)(d %b)))",
                      static_cast<int>(kKeySize), key.publicKey.bytes.data(),
                      static_cast<int>(kKeySize), key.seed.data()) != 0) {
    return false;
  }
  key_ = sexp;
  publicKey_ = key.publicKey;
  return true;
}

bool Signer::Sign(const uint8_t* message, size_t length, uint8_t signature[kSignatureSize]) const {
  if (key_ == nullptr) return false;
  gcry_sexp_t data = nullptr, sig = nullptr;
  if (gcry_sexp_build(&data, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(length), message) != 0) {
    return false;
  }
  bool ok = gcry_pk_sign(&sig, data, static_cast<gcry_sexp_t>(key_)) == 0;
  gcry_sexp_release(data);
  ok = ok && TokenBytes(sig, "r", signature, 32) && TokenBytes(sig, "s", signature + 32, 32);
  gcry_sexp_release(sig);
  return ok;
}

Verifier::~Verifier() { gcry_sexp_release(static_cast<gcry_sexp_t>(key_)); }

bool Verifier::Load(const PublicKey& key) {
  if (!Initialise()) return false;
  gcry_sexp_release(static_cast<gcry_sexp_t>(key_));
  key_ = nullptr;
  gcry_sexp_t sexp = nullptr;
  if (gcry_sexp_build(&sexp, nullptr, "(public-key(ecc(curve Ed25519)(flags eddsa)(q %b)))",
                      static_cast<int>(kKeySize), key.bytes.data()) != 0) {
    return false;
  }
  key_ = sexp;
  publicKey_ = key;
  return true;
}

bool Verifier::Verify(const uint8_t* message, size_t length,
                      const uint8_t signature[kSignatureSize]) const {
  if (key_ == nullptr) return false;
  gcry_sexp_t data = nullptr, sig = nullptr;
  if (gcry_sexp_build(&data, nullptr, "(data(flags eddsa)(hash-algo sha512)(value %b))",
                      static_cast<int>(length), message) != 0) {
    return false;
  }
  bool ok = gcry_sexp_build(&sig, nullptr, "(sig-val(eddsa(r %b)(s %b)))", 32, signature, 32,
                            signature + 32) == 0;
  ok = ok && gcry_pk_verify(sig, data, static_cast<gcry_sexp_t>(key_)) == 0;
  gcry_sexp_release(sig);
  gcry_sexp_release(data);
  return ok;
}

void BuildSignatureListHeader(const SignatureListHeader& h,
                              uint8_t out[kSignatureListHeaderSize]) {
  WriteU16(out, kSignatureListType);
  WriteU16(out + 2, h.screenId);
  out[4] = kSignatureListVersion;
  out[5] = 0;
  WriteU16(out + 6, h.count);
  std::memcpy(out + 8, h.fingerprint.data(), kFingerprintSize);
  WriteU64(out + 16, h.nonce);
  WriteU32(out + 24, h.number);
  WriteU32(out + 28, h.firstIndex);
  WriteU64(out + 32, h.timeMs);
}

bool ParseSignatureList(const uint8_t* data, size_t length, SignatureListHeader& out,
                        const uint8_t*& hashes) {
  if (length < kSignatureListOverhead || ReadU16(data) != kSignatureListType ||
      data[4] != kSignatureListVersion) {
    return false;
  }
  const uint16_t count = ReadU16(data + 6);
  if (length != SignatureListSize(count)) return false;
  out.screenId = ReadU16(data + 2);
  out.count = count;
  std::memcpy(out.fingerprint.data(), data + 8, kFingerprintSize);
  out.nonce = ReadU64(data + 16);
  out.number = ReadU32(data + 24);
  out.firstIndex = ReadU32(data + 28);
  out.timeMs = ReadU64(data + 32);
  hashes = data + kSignatureListHeaderSize;
  return true;
}

}  // namespace qc
