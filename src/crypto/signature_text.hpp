#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"

namespace zelk {

inline constexpr std::string_view kP256SignaturePrefix = "p256.";
inline constexpr std::string_view kEd25519SignaturePrefix = "ed25519.";

// Detached signature over a 32-byte digest (signed as the message): 86 base64url characters,
// behind "p256." for a P-256 key.
[[nodiscard]] std::string sign_digest_text(const SigningKey& key, Digest32 digest);

// Syntax only: no "=", an optional "ed25519." or "p256." prefix, then 86 base64url characters.
// Returns a copy of the whole text.
[[nodiscard]] std::expected<std::string, CryptoError> check_signature_text(std::string_view text);
// Exactly 86 base64url characters (length tested first).
[[nodiscard]] std::expected<void, CryptoError> check_signature_chars(std::string_view text);

// The prefix must suit the key ("p256." for P-256; none or "ed25519." for Ed25519); every
// refusal is Verification.
[[nodiscard]] std::expected<void, CryptoError> verify_digest_text(const VerifyingKey& key,
                                                                  Digest32 digest,
                                                                  std::string_view text);

}  // namespace zelk
