#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crypto/keys.hpp"
#include "crypto/random.hpp"
#include "formats/json/value.hpp"
#include "formats/url/url.hpp"
#include "manifest/manifest.hpp"
#include "manifest/manifest_error.hpp"

namespace zelk {

inline constexpr std::int64_t kDefaultManifestTtlSecs = 86400;
inline constexpr std::size_t kManifestChallengeBytes = 16;

// The contents of a Manifest before it is built. It borrows the signing key, which must outlive
// it; build_signed_manifest consumes it.
class ManifestBuilder {
 public:
  explicit ManifestBuilder(const SigningKey& key) : key_(&key) {}

  // The URL's serialised text, replacing any earlier endpoint.
  ManifestBuilder& set_handshake_endpoint(const url::Url& url);
  ManifestBuilder& set_identity_hint(IdentityHint hint);
  ManifestBuilder& set_display_name(std::string name);
  ManifestBuilder& set_ttl_secs(std::int64_t ttl_secs);
  // Without one, the build stamps the current time.
  ManifestBuilder& set_published_at(std::int64_t unix_secs);
  // Each entry is the URL's serialised text.
  ManifestBuilder& add_accepted_trust_anchor(const url::Url& url);
  ManifestBuilder& add_offered_capability(std::string capability);
  // The first entry makes the list present.
  ManifestBuilder& add_accepted_identity_type(std::string type);
  ManifestBuilder& add_required_peer_capability(std::string capability);
  // A repeated name keeps the last value; the Manifest holds them sorted by name.
  ManifestBuilder& set_extension(std::string name, json::Value value);

  const SigningKey& key() const { return *key_; }

 private:
  friend std::expected<Manifest, ManifestError> build_signed_manifest(
      ManifestBuilder builder,
      std::expected<void, RandomError> (*fill_random)(std::span<std::uint8_t>));

  const SigningKey* key_;
  std::optional<std::string> display_name_;
  std::optional<std::string> handshake_endpoint_;
  std::optional<IdentityHint> identity_hint_;
  std::vector<std::string> accepted_trust_anchors_;
  std::optional<std::vector<std::string>> accepted_identity_types_;
  std::vector<std::string> offered_capabilities_;
  std::optional<std::vector<std::string>> required_peer_capabilities_;
  std::optional<std::int64_t> published_at_;
  std::int64_t ttl_secs_ = kDefaultManifestTtlSecs;
  json::Object extensions_;
};

// Checks the builder (missing endpoint, then missing hint, then the hint rules), draws a 16-byte
// challenge and its proof of possession, stamps version, aid and validity window
// (expires_at = published_at + ttl, saturating) and signs the canonical form.
[[nodiscard]] std::expected<Manifest, ManifestError> build_signed_manifest(ManifestBuilder builder);
// The same with another random source, whose failure gives an Rng error.
[[nodiscard]] std::expected<Manifest, ManifestError> build_signed_manifest(
    ManifestBuilder builder,
    std::expected<void, RandomError> (*fill_random)(std::span<std::uint8_t>));

}  // namespace zelk
