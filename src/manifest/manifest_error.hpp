#pragma once

#include <cstdint>
#include <string>

#include "crypto/crypto_error.hpp"

namespace zelk {

// The failure of Manifest building and verification. The kind numbers are fixed: the Python
// module derives the `code` of ManifestVerificationError from them.
struct ManifestError {
  enum class Kind : std::uint8_t {
    Expired = 0,                  // "manifest has expired"
    SignatureInvalid = 1,         // "manifest signature is invalid"
    PopFailed = 2,                // "manifest proof-of-possession failed"
    AidMismatch = 3,              // "manifest aid does not match signing key" (never produced)
    IdentityTypeNotAccepted = 4,  // "manifest does not accept identity type `{detail}`" (never)
    VersionUnsupported = 5,       // "manifest version is not supported"
    IdentityHintMalformed = 6,    // "identity_hint malformed: {detail}"
    MissingField = 7,             // "missing required field: {detail}"
    Canonicalization = 8,         // "canonicalization failed: {detail}"
    Crypto = 9,                   // the CryptoError's own message
    Rng = 10,                     // "rng failure: {detail}"
    UnknownField = 11,            // "unknown field `{detail}`" (never produced here)
    Malformed = 12,               // "malformed manifest: {detail}" (never produced here)
  };
  Kind kind = Kind::Malformed;
  std::string detail{};  // the inserted text of kinds 4, 6, 7, 8, 10, 11 and 12
  CryptoError crypto{};  // kind 9 only

  [[nodiscard]] static ManifestError of(Kind kind, std::string detail = {}) {
    return {kind, std::move(detail)};
  }
  [[nodiscard]] static ManifestError of_crypto(CryptoError error) {
    return {Kind::Crypto, {}, std::move(error)};
  }

  // The kind's number, 0 to 12.
  int kind_number() const { return static_cast<int>(kind); }
  std::string message() const;
  friend bool operator==(const ManifestError&, const ManifestError&) = default;
};

// Reasons of IdentityHintMalformed.
inline constexpr const char* kPinnedKeyRequiresPublicKey = "pinned_key requires `public_key`";
inline constexpr const char* kOidcRequiresIssuer = "oidc requires `issuer`";
inline constexpr const char* kOidcMustNotIncludePublicKey = "oidc must not include `public_key`";

}  // namespace zelk
