#include "manifest/builder.hpp"

#include <array>
#include <limits>
#include <utility>

#include "base/clock.hpp"
#include "base/saturating.hpp"
#include "crypto/detached.hpp"
#include "formats/base64url.hpp"
#include "manifest/signing.hpp"

namespace zelk {

ManifestBuilder& ManifestBuilder::set_handshake_endpoint(const url::Url& url) {
  handshake_endpoint_ = url.href();
  return *this;
}

ManifestBuilder& ManifestBuilder::set_identity_hint(IdentityHint hint) {
  identity_hint_ = std::move(hint);
  return *this;
}

ManifestBuilder& ManifestBuilder::set_display_name(std::string name) {
  display_name_ = std::move(name);
  return *this;
}

ManifestBuilder& ManifestBuilder::set_ttl_secs(std::int64_t ttl_secs) {
  ttl_secs_ = ttl_secs;
  return *this;
}

ManifestBuilder& ManifestBuilder::set_published_at(std::int64_t unix_secs) {
  published_at_ = unix_secs;
  return *this;
}

ManifestBuilder& ManifestBuilder::add_accepted_trust_anchor(const url::Url& url) {
  accepted_trust_anchors_.push_back(url.href());
  return *this;
}

ManifestBuilder& ManifestBuilder::add_offered_capability(std::string capability) {
  offered_capabilities_.push_back(std::move(capability));
  return *this;
}

ManifestBuilder& ManifestBuilder::add_accepted_identity_type(std::string type) {
  if (!accepted_identity_types_) accepted_identity_types_.emplace();
  accepted_identity_types_->push_back(std::move(type));
  return *this;
}

ManifestBuilder& ManifestBuilder::add_required_peer_capability(std::string capability) {
  if (!required_peer_capabilities_) required_peer_capabilities_.emplace();
  required_peer_capabilities_->push_back(std::move(capability));
  return *this;
}

ManifestBuilder& ManifestBuilder::set_extension(std::string name, json::Value value) {
  extensions_.insert_or_assign(std::move(name), std::move(value));
  return *this;
}

std::expected<Manifest, ManifestError> build_signed_manifest(ManifestBuilder builder) {
  return build_signed_manifest(std::move(builder), &random_bytes);
}

std::expected<Manifest, ManifestError> build_signed_manifest(
    ManifestBuilder builder,
    std::expected<void, RandomError> (*fill_random)(std::span<std::uint8_t>)) {
  using Kind = ManifestError::Kind;
  if (!builder.handshake_endpoint_)
    return std::unexpected(ManifestError::of(Kind::MissingField, "handshake_endpoint"));
  if (!builder.identity_hint_)
    return std::unexpected(ManifestError::of(Kind::MissingField, "identity_hint"));
  if (auto malformed = check_identity_hint(*builder.identity_hint_))
    return std::unexpected(std::move(*malformed));

  const SigningKey& key = *builder.key_;
  std::array<std::uint8_t, kManifestChallengeBytes> challenge{};
  if (auto drawn = fill_random(challenge); !drawn)
    return std::unexpected(ManifestError::of(Kind::Rng, drawn.error().message()));

  Manifest m;
  // The proof covers the raw challenge bytes, not their text.
  m.proof_of_possession.challenge = b64url_encode(challenge);
  m.proof_of_possession.signature = sign_detached(key, ByteView(challenge));
  m.published_at = now_or_invariant(builder.published_at_);
  m.expires_at = saturating_add(m.published_at, builder.ttl_secs_);
  m.aid = key.aid();
  if (!builder.extensions_.empty()) {
    builder.extensions_.sort_by_name();
    m.extensions = std::move(builder.extensions_);
  }
  m.version = kManifestVersion;
  m.display_name = std::move(builder.display_name_);
  m.identity_hint = std::move(*builder.identity_hint_);
  m.handshake_endpoint = std::move(*builder.handshake_endpoint_);
  m.accepted_trust_anchors = std::move(builder.accepted_trust_anchors_);
  m.accepted_identity_types = std::move(builder.accepted_identity_types_);
  m.offered_capabilities = std::move(builder.offered_capabilities_);
  m.required_peer_capabilities = std::move(builder.required_peer_capabilities_);

  auto bytes = manifest_signing_bytes(m);
  if (!bytes) return std::unexpected(std::move(bytes.error()));
  m.signature = sign_detached(key, std::string_view(*bytes));
  return m;
}

}  // namespace zelk
