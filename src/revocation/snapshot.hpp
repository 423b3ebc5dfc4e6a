#pragma once

#include <cstdint>
#include <expected>
#include <string_view>

#include "crypto/keys.hpp"
#include "revocation/revocation_list.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// Signs the canonical bytes of `list` with `key` into an envelope that holds the list unchanged.
// Neither the issuer nor the times are compared with the key; the caller fills them.
[[nodiscard]] std::expected<RevocationListEnvelope, TctError> sign_revocation_snapshot(
    RevocationList list, const SigningKey& key);

// Authenticity and non-expiry of a received snapshot, first failure wins: version
// (UnsupportedVersion), expires_at not before now (OutsideValidity), issuer text equal to
// `expected_issuer` (IssuerMismatch), the issuer's key (Crypto), signature syntax
// (SignatureInvalid), canonical bytes (Canonicalization), signature over them (SignatureInvalid).
// published_at, the entries and the extensions are not judged.
[[nodiscard]] std::expected<void, TctError> verify_revocation_snapshot(
    const RevocationListEnvelope& envelope, std::string_view expected_issuer, std::int64_t now);

}  // namespace zelk
