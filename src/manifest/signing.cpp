#include "manifest/signing.hpp"

#include <utility>

#include "crypto/detached.hpp"

namespace zelk {

std::expected<std::string, ManifestError> manifest_signing_bytes(const Manifest& manifest) {
  auto bytes = body_signing_bytes(manifest_to_value(manifest));
  if (!bytes)
    return std::unexpected(
        ManifestError::of(ManifestError::Kind::Canonicalization, bytes.error().message()));
  return std::move(*bytes);
}

std::optional<ManifestError> check_identity_hint(const IdentityHint& hint) {
  auto malformed = [](const char* reason) {
    return ManifestError::of(ManifestError::Kind::IdentityHintMalformed, reason);
  };
  switch (hint.type) {
    case IdentityType::PinnedKey:
      if (!hint.public_key) return malformed(kPinnedKeyRequiresPublicKey);
      break;
    case IdentityType::Oidc:
      if (!hint.issuer) return malformed(kOidcRequiresIssuer);
      if (hint.public_key) return malformed(kOidcMustNotIncludePublicKey);
      break;
  }
  return std::nullopt;
}

}  // namespace zelk
