#pragma once

// Agents for handshake tests: keys, signed Manifests, their own identities (pinned key or OIDC
// tokens from a test identity provider), a resolver that knows the provider's keys, and contexts.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "handshake/context.hpp"
#include "handshake/identity_proof.hpp"
#include "handshake/jwks.hpp"
#include "handshake_fixture.hpp"
#include "manifest/builder.hpp"

namespace zelk::exchange_test {

using test::kNow;
using test::url_of;
inline constexpr std::string_view kIdpIssuer = test::kIssuer;

// The identity provider: signs OIDC tokens with an agent-style key and publishes it as a JWK.
struct IdentityProvider {
  explicit IdentityProvider(SigningKey signing_key = test::ed_key(0x70))
      : key(std::move(signing_key)) {}

  SigningKey key;
  std::string kid = "idp-1";

  Jwk jwk() const { return test::public_jwk(key, kid); }

  // A token for `subject` held by the agent with `holder`'s key, addressed to `audience`.
  std::string token(std::string_view subject, const SigningKey& holder, std::string_view audience,
                    std::string_view nonce, std::int64_t iat) const {
    const std::string alg = key.suite() == KeySuite::Ed25519 ? "EdDSA" : "ES256";
    const std::string header = R"({"alg":")" + alg + R"(","kid":")" + kid + "\"}";
    const std::string claims =
        R"({"iss":")" + std::string(kIdpIssuer) + R"(","sub":")" + std::string(subject) +
        R"(","aud":")" + std::string(audience) + R"(","iat":)" + std::to_string(iat) +
        R"(,"exp":)" + std::to_string(iat + 600) + R"(,"nonce":")" + std::string(nonce) +
        R"(","cnf":{"jkt":")" + *jwk_thumbprint(holder.verifying_key()) + "\"}}";
    return test::forge(key, header, claims);
  }
};

// Knows the provider's keys under its issuer; every other issuer is not trusted.
class TestResolver : public JwksResolver {
 public:
  explicit TestResolver(std::vector<Jwk> keys) : keys_(std::move(keys)) {}
  std::expected<std::vector<Jwk>, JwksResolverError> resolve(
      const url::Url& issuer) const override {
    ++calls;
    if (issuer.href() != kIdpIssuer) return std::unexpected(JwksResolverError::not_trusted(issuer));
    return keys_;
  }
  mutable int calls = 0;

 private:
  std::vector<Jwk> keys_;
};

struct AgentOptions {
  bool oidc = false;
  std::vector<std::string> offered{"files:read", "files:write"};
  std::optional<std::vector<std::string>> required{};
  std::int64_t published_at = kNow - 60;
  std::int64_t ttl_secs = 86400;
};

// One side of a handshake.
struct Agent {
  SigningKey key;
  Manifest manifest;
  std::string subject;
  bool oidc = false;
  std::vector<std::string> trust_anchors{std::string(kIdpIssuer)};

  Agent(SigningKey signing_key, std::string subject_name, const AgentOptions& options)
      : key(std::move(signing_key)), subject(std::move(subject_name)), oidc(options.oidc) {
    manifest = build(options);
  }

  Manifest build(const AgentOptions& options) const {
    ManifestBuilder b(key);
    b.set_handshake_endpoint(url_of("https://agent.example/zelk"))
        .set_published_at(options.published_at)
        .set_ttl_secs(options.ttl_secs)
        .add_accepted_trust_anchor(url_of(kIdpIssuer));
    if (options.oidc)
      b.set_identity_hint({IdentityType::Oidc, subject, std::string(kIdpIssuer), std::nullopt});
    else
      b.set_identity_hint(
          {IdentityType::PinnedKey, subject, std::nullopt, b64url_encode(key.public_key())});
    for (const std::string& grant : options.offered) b.add_offered_capability(grant);
    if (options.required)
      for (const std::string& grant : *options.required) b.add_required_peer_capability(grant);
    auto built = build_signed_manifest(std::move(b));
    EXPECT_TRUE(built.has_value()) << built.error().message();
    return std::move(*built);
  }

  // The identity this agent proves in a hello addressed to `peer`; OIDC tokens come from `idp`.
  LocalIdentity identity_for(const IdentityProvider& idp, const Aid& peer,
                             std::int64_t now = kNow) const {
    if (!oidc) return PinnedKeyIdentity{subject};
    const std::string audience = peer.text();
    const IdentityProvider* provider = &idp;
    const SigningKey* holder = &key;
    std::string sub = subject;
    return OidcMintedIdentity{
        url_of(kIdpIssuer), subject,
        [provider, holder, audience, sub,
         now](std::string_view nonce) -> std::expected<std::string, std::string> {
          return provider->token(sub, *holder, audience, nonce, now);
        }};
  }

  HandshakeContext context(const JwksResolver& resolver, std::int64_t now = kNow) const {
    return HandshakeContext{.signing_key = key,
                            .own_manifest = manifest,
                            .trust_anchors = trust_anchors,
                            .resolver = resolver,
                            .now = now};
  }
};

}  // namespace zelk::exchange_test
