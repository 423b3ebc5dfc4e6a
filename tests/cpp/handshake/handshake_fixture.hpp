#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../tct/tct_test_util.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "manifest/builder.hpp"
#include "manifest/manifest.hpp"

namespace zelk::test {

inline constexpr std::string_view kIssuer = "https://idp.example/";

inline url::Url url_of(std::string_view text) {
  auto parsed = url::parse_url(text);
  EXPECT_TRUE(parsed.has_value()) << text;
  return std::move(*parsed);
}

// A signed Manifest valid around kNow: a pinned-key hint for Ed25519 keys unless an OIDC issuer
// is given.
inline Manifest manifest_for(const SigningKey& key, std::string subject,
                             std::optional<std::string> oidc_issuer = std::nullopt,
                             std::int64_t published_at = kNow - 60) {
  ManifestBuilder b(key);
  IdentityHint hint;
  hint.subject = std::move(subject);
  if (oidc_issuer) {
    hint.type = IdentityType::Oidc;
    hint.issuer = std::move(oidc_issuer);
  } else {
    hint.type = IdentityType::PinnedKey;
    hint.public_key = b64url_encode(key.public_key());
  }
  b.set_handshake_endpoint(url_of("https://agent.example/zelk/handshake/hello"))
      .set_identity_hint(std::move(hint))
      .add_offered_capability("files:read")
      .set_published_at(published_at)
      .set_ttl_secs(3600);
  auto m = build_signed_manifest(std::move(b));
  EXPECT_TRUE(m.has_value()) << m.error().message();
  return std::move(*m);
}

// The public JWK of an Ed25519 or P-256 key, as an identity provider publishes it.
inline Jwk public_jwk(const SigningKey& key, std::optional<std::string> kid) {
  if (key.suite() == KeySuite::Ed25519)
    return Jwk::ed25519(std::move(kid),
                        std::span<const std::uint8_t, 32>(key.public_key().data(), 32));
  const ByteView point = key.verifying_key().p256_uncompressed();
  return Jwk::p256(std::move(kid), std::span<const std::uint8_t, 32>(point.data() + 1, 32),
                   std::span<const std::uint8_t, 32>(point.data() + 33, 32));
}

}  // namespace zelk::test
