// The publisher's package-signing key, built into the exe.
#ifndef VELMORA_UPDATE_PUBLIC_KEY_H_
#define VELMORA_UPDATE_PUBLIC_KEY_H_

#include <string_view>

// An ECDSA P-256 public key as DER SubjectPublicKeyInfo, taken from the PEM
// file the build was configured with (UPDATE_PUBLIC_KEY). Empty when the build
// has no key: the updater then fetches and verifies no signature.
extern const std::string_view kUpdatePublicKey;

#endif  // VELMORA_UPDATE_PUBLIC_KEY_H_
