#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "crypto/keys.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/url/url.hpp"
#include "manifest/builder.hpp"
#include "manifest/manifest.hpp"
#include "manifest/signing.hpp"

namespace zelk::test {

inline SigningKey ed25519_key(std::uint8_t fill) {
  std::array<std::uint8_t, 32> seed{};
  seed.fill(fill);
  return SigningKey::ed25519_from_seed(seed);
}

inline SigningKey p256_key(std::uint8_t fill) {
  std::array<std::uint8_t, 32> scalar{};
  scalar.fill(fill);  // every byte below 0xff keeps the scalar under the group order
  return std::move(*SigningKey::p256_from_scalar(scalar));
}

inline url::Url url_of(std::string_view text) {
  auto parsed = url::parse_url(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  return std::move(*parsed);
}

inline constexpr std::int64_t kPublishedAt = 1700000000;

// A builder filled with every member it can set.
inline ManifestBuilder full_builder(const SigningKey& key) {
  ManifestBuilder b(key);
  b.set_display_name("Agent \"Q\"")
      .set_handshake_endpoint(url_of("https://Agent.Example:443/zelk/handshake/hello"))
      .set_identity_hint({IdentityType::PinnedKey, "agent-q", std::nullopt,
                          std::string(key.aid_text().substr(key.aid_text().rfind(':') + 1))})
      .add_accepted_trust_anchor(url_of("https://issuer.example"))
      .add_accepted_identity_type("pinned_key")
      .add_offered_capability("files:read")
      .add_offered_capability("files:write")
      .add_required_peer_capability("chat")
      .set_published_at(kPublishedAt)
      .set_ttl_secs(3600)
      .set_extension("zeta", json::Value(1))
      .set_extension("alpha", json::Value("a"));
  return b;
}

inline Manifest build_ok(ManifestBuilder b) {
  auto m = build_signed_manifest(std::move(b));
  EXPECT_TRUE(m.has_value()) << m.error().message();
  return std::move(*m);
}

// Signs a crafted Manifest as a whole, the way the builder does.
inline void resign(Manifest& m, const SigningKey& key) {
  auto bytes = manifest_signing_bytes(m);
  ASSERT_TRUE(bytes.has_value());
  m.signature = sign_digest_text(key, sha256(std::string_view(*bytes)));
}

}  // namespace zelk::test
