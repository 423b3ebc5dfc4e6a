#pragma once

#include <optional>
#include <string_view>

#include "crypto/keys.hpp"

namespace zelk::crypto_detail {

// Public keys already derived from AID texts. Deriving one costs a curve-point decode (about as
// much as a fifth of an Ed25519 verification, two thirds of a P-256 one), and a verifier sees the
// same few peers again and again. Bounded, first in first out, safe across threads.
std::optional<VerifyingKey> cached_verifying_key(std::string_view aid_text);
void remember_verifying_key(std::string_view aid_text, const VerifyingKey& key);

}  // namespace zelk::crypto_detail
