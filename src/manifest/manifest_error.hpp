#pragma once

#include <cstdint>
#include <string>

#include "crypto/area_error.hpp"

namespace zelk {

// The kinds of ManifestError. The numbers are fixed: the Python module derives the `code` of
// ManifestVerificationError from them.
enum class ManifestErrorKind : std::uint8_t {
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

// The failure of Manifest building and verification; detail is the inserted text of kinds 4, 6,
// 7, 8, 10, 11 and 12, crypto the wrapped error of kind 9.
struct ManifestError : AreaError<ManifestError, ManifestErrorKind, ManifestErrorKind::Malformed> {
  // wrap, under the name Manifest code uses.
  [[nodiscard]] static ManifestError of_crypto(CryptoError error) { return wrap(std::move(error)); }

  // The kind's number, 0 to 12.
  int kind_number() const { return static_cast<int>(kind); }
  std::string message() const;
};

// Reasons of IdentityHintMalformed.
inline constexpr const char* kPinnedKeyRequiresPublicKey = "pinned_key requires `public_key`";
inline constexpr const char* kOidcRequiresIssuer = "oidc requires `issuer`";
inline constexpr const char* kOidcMustNotIncludePublicKey = "oidc must not include `public_key`";

}  // namespace zelk
