#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "crypto/keys.hpp"

namespace zelk::crypto_detail {

// Public keys already derived from AID texts. Deriving one costs a curve-point decode (about as
// much as a fifth of an Ed25519 verification, two thirds of a P-256 one), and a verifier sees the
// same few peers again and again. Bounded, first in first out, safe across threads.
std::optional<VerifyingKey> cached_verifying_key(std::string_view aid_text);
void remember_verifying_key(std::string_view aid_text, const VerifyingKey& key);

// The RFC 7638 thumbprint of a remembered key, worked out once when it is first asked for.
std::optional<std::string> cached_thumbprint(std::string_view aid_text);
void remember_thumbprint(std::string_view aid_text, const std::string& jkt);

}  // namespace zelk::crypto_detail
