// SPDX-License-Identifier: GPL-3.0-or-later
// The keys of signed transmissions as the programs' shells keep them: the
// sender's key pair (qcsend --new-key makes it; with it the sender signs)
// and the sender key a receiver trusts (qvrecv --trust or its settings
// dialog). Both live in a PrivateStore (platform/private_store.h).
//
// Threads: the shells' main thread.
#pragma once

#include <string>

#include "common/transmission_signing.h"

namespace qc {

enum class StoredKey { None, Loaded, Unusable };

// qcsend --new-key: a new key pair replaces the stored one. report is the
// text to print: the public key to hand out, its fingerprint and where the
// private key is; or why nothing was made.
bool MakeSenderKey(std::string& report);
// The stored key pair, if any. Unusable: problem says why.
StoredKey LoadSenderKey(PrivateKey& key, std::string& problem);
// Where the sender's private key is kept.
std::string SenderKeyLocation();

// The trusted sender key: from text (--trust, the dialog); stored.
StoredKey LoadTrustedKey(PublicKey& key, std::string& problem);
// Stores the key text as typed (checked first); an empty text removes it.
bool StoreTrustedKey(const std::string& text);
// The stored text ("" when none), for the settings dialog.
std::string TrustedKeyText();

// The message for a key text that is not a key.
inline constexpr char kBadKeyText[] =
    "The sender key must be the 44 characters that \"qcsend --new-key\" printed.";

}  // namespace qc
