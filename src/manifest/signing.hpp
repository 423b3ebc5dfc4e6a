#pragma once

#include <expected>
#include <optional>
#include <string>

#include "manifest/manifest.hpp"
#include "manifest/manifest_error.hpp"

namespace zelk {

// The canonical form (RFC 8785) of every member but `signature`, absent optional members left
// out: what a Manifest signature covers. Only a non-finite number inside the extensions makes it
// fail (Canonicalization).
[[nodiscard]] std::expected<std::string, ManifestError> manifest_signing_bytes(
    const Manifest& manifest);

// The rules that building and verification both apply to an identity hint: "pinned_key" needs
// public_key; "oidc" needs issuer and must not carry public_key (issuer tested first).
[[nodiscard]] std::optional<ManifestError> check_identity_hint(const IdentityHint& hint);

}  // namespace zelk
