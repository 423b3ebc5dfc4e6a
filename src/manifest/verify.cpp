#include "manifest/verify.hpp"

#include <string_view>

#include "crypto/detached.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "manifest/signing.hpp"

namespace zelk {

std::expected<void, ManifestError> verify_manifest(const Manifest& manifest, std::int64_t now) {
  using Kind = ManifestError::Kind;
  if (manifest.version != kManifestVersion)
    return std::unexpected(ManifestError::of(Kind::VersionUnsupported));
  if (manifest.expires_at < now) return std::unexpected(ManifestError::of(Kind::Expired));

  auto key = verifying_key_from_aid(manifest.aid);
  if (!key) return std::unexpected(ManifestError::of_crypto(std::move(key.error())));

  auto bytes = manifest_signing_bytes(manifest);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  if (!verify_detached(*key, std::string_view(*bytes), manifest.signature))
    return std::unexpected(ManifestError::of(Kind::SignatureInvalid));

  // Any decodable challenge is accepted, whatever its length.
  auto challenge = b64url_decode(manifest.proof_of_possession.challenge);
  if (!challenge) return std::unexpected(ManifestError::of(Kind::PopFailed));
  if (!verify_detached(*key, ByteView(*challenge), manifest.proof_of_possession.signature))
    return std::unexpected(ManifestError::of(Kind::PopFailed));

  if (auto malformed = check_identity_hint(manifest.identity_hint))
    return std::unexpected(std::move(*malformed));
  return {};
}

}  // namespace zelk
