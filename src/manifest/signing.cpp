#include "manifest/signing.hpp"

#include <utility>

#include "formats/json/canonical.hpp"

namespace zelk {

std::expected<std::string, ManifestError> manifest_signing_bytes(const Manifest& manifest) {
  json::Value whole = manifest_to_value(manifest);
  json::Object covered;
  for (json::Member& member : whole.as_object()) {
    if (member.name == "signature") continue;
    // `whole` is discarded afterwards, so its members may be moved out.
    covered.push_back_unchecked(std::move(member.name), std::move(member.value));
  }
  auto bytes = json::canonical_json(json::Value(std::move(covered)));
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
