#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "crypto/crypto_error.hpp"
#include "crypto/keys.hpp"
#include "formats/bytes.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/value.hpp"

namespace zelk {

// Every detached signature of the protocol signs the SHA-256 digest of a signing input, and every
// signed JSON body uses the same input: its canonical form (RFC 8785) without its own `signature`
// member. These are the only places that put the two steps together.

// The canonical form of `body` with a top-level `signature` member left out (a body without one,
// or one that is not an object, is written whole). Fails only on a non-finite number.
[[nodiscard]] std::expected<std::string, json::CanonicalJsonError> body_signing_bytes(
    json::Value body);

// The detached signature text over SHA-256 of `signing_input`.
[[nodiscard]] std::string sign_detached(const SigningKey& key, ByteView signing_input);
[[nodiscard]] inline std::string sign_detached(const SigningKey& key,
                                               std::string_view signing_input) {
  return sign_detached(key, as_bytes(signing_input));
}

// The signature text must be well formed (check_signature_text) and verify over SHA-256 of
// `signing_input` with `key`; the first refusal is returned.
[[nodiscard]] std::expected<void, CryptoError> verify_detached(const VerifyingKey& key,
                                                               ByteView signing_input,
                                                               std::string_view signature_text);
[[nodiscard]] inline std::expected<void, CryptoError> verify_detached(
    const VerifyingKey& key, std::string_view signing_input, std::string_view signature_text) {
  return verify_detached(key, as_bytes(signing_input), signature_text);
}

}  // namespace zelk
