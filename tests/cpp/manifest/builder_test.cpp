#include "manifest/builder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/clock.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/base64url.hpp"
#include "manifest/signing.hpp"
#include "manifest_fixture.hpp"

namespace zelk {
namespace {

using test::build_ok;
using test::full_builder;
using test::kPublishedAt;
using test::url_of;

class ManifestBuild : public ::testing::Test {
 protected:
  SigningKey ed = test::ed25519_key(7);
  SigningKey p256 = test::p256_key(9);

  ManifestBuilder minimal(const SigningKey& key) {
    ManifestBuilder b(key);
    b.set_handshake_endpoint(url_of("https://a.example/h"))
        .set_identity_hint({IdentityType::PinnedKey, "s", std::nullopt, std::string("pk")});
    return b;
  }
  std::string build_error(ManifestBuilder b) {
    auto m = build_signed_manifest(std::move(b));
    return m ? "(built)" : m.error().message();
  }
};

TEST_F(ManifestBuild, RequiredFieldsAndHintRulesInOrder) {
  EXPECT_EQ(build_error(ManifestBuilder(ed)), "missing required field: handshake_endpoint");
  ManifestBuilder no_hint(ed);
  no_hint.set_handshake_endpoint(url_of("https://a.example/"));
  EXPECT_EQ(build_error(std::move(no_hint)), "missing required field: identity_hint");
  ManifestBuilder no_endpoint(ed);
  no_endpoint.set_identity_hint({IdentityType::Oidc, "s", std::nullopt, std::nullopt});
  EXPECT_EQ(build_error(std::move(no_endpoint)), "missing required field: handshake_endpoint");

  struct Case {
    IdentityHint hint;
    const char* outcome;
  } cases[] = {
      {{IdentityType::PinnedKey, "s", std::nullopt, std::nullopt},
       "identity_hint malformed: pinned_key requires `public_key`"},
      {{IdentityType::PinnedKey, "s", std::string("i"), std::nullopt},
       "identity_hint malformed: pinned_key requires `public_key`"},
      {{IdentityType::PinnedKey, "", std::string("i"), std::string("")}, "(built)"},
      {{IdentityType::Oidc, "s", std::nullopt, std::nullopt},
       "identity_hint malformed: oidc requires `issuer`"},
      {{IdentityType::Oidc, "s", std::nullopt, std::string("pk")},
       "identity_hint malformed: oidc requires `issuer`"},
      {{IdentityType::Oidc, "s", std::string("i"), std::string("pk")},
       "identity_hint malformed: oidc must not include `public_key`"},
      {{IdentityType::Oidc, "s", std::string(""), std::nullopt}, "(built)"},
  };
  for (const Case& c : cases) {
    ManifestBuilder b = minimal(ed);
    b.set_identity_hint(c.hint);
    EXPECT_EQ(build_error(std::move(b)), c.outcome) << c.hint.subject;
  }
  auto malformed = build_signed_manifest([&] {
    ManifestBuilder b = minimal(ed);
    b.set_identity_hint({IdentityType::Oidc, "s", std::nullopt, std::nullopt});
    return b;
  }());
  EXPECT_EQ(malformed.error().kind, ManifestError::Kind::IdentityHintMalformed);
  EXPECT_EQ(malformed.error().kind_number(), 6);
}

std::expected<void, RandomError> failing_source(std::span<std::uint8_t>) {
  return std::unexpected(RandomError{RandomError::Source::GetRandom, 5});
}

TEST_F(ManifestBuild, RandomSourceFailureComesAfterTheChecks) {
  auto failed = build_signed_manifest(minimal(ed), &failing_source);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().kind_number(), 10);
  const RandomError cause{RandomError::Source::GetRandom, 5};
  EXPECT_EQ(failed.error().message(), "rng failure: " + cause.message());
  ManifestBuilder bad_hint = minimal(ed);
  bad_hint.set_identity_hint({IdentityType::PinnedKey, "s", std::nullopt, std::nullopt});
  EXPECT_EQ(build_signed_manifest(std::move(bad_hint), &failing_source).error().kind_number(), 6);
}

TEST_F(ManifestBuild, StampsWhatTheBuilderCannotSet) {
  for (const SigningKey* key : {&ed, &p256}) {
    const Manifest m = build_ok(full_builder(*key));
    EXPECT_EQ(m.version, "zelk/0.2");
    EXPECT_EQ(m.aid, key->aid());
    EXPECT_EQ(m.aid.text().size(), key == &ed ? 11u + 43 : 16u + 44);
    EXPECT_FALSE(m.accepted_signature_algorithms.has_value());
    EXPECT_EQ(m.published_at, kPublishedAt);
    EXPECT_EQ(m.expires_at, kPublishedAt + 3600);
    // The endpoint and trust anchors are the URLs' serialised texts.
    EXPECT_EQ(m.handshake_endpoint, "https://agent.example/zelk/handshake/hello");
    EXPECT_EQ(m.accepted_trust_anchors, std::vector<std::string>{"https://issuer.example/"});
    EXPECT_EQ(m.accepted_identity_types, std::vector<std::string>{"pinned_key"});
    EXPECT_EQ(m.offered_capabilities, (std::vector<std::string>{"files:read", "files:write"}));
    EXPECT_EQ(m.required_peer_capabilities, std::vector<std::string>{"chat"});
    EXPECT_EQ(m.display_name, "Agent \"Q\"");
    ASSERT_TRUE(m.extensions.has_value());
    EXPECT_EQ(json::to_compact_string(json::Value(*m.extensions)), R"({"alpha":"a","zeta":1})");

    // The proof signs the SHA-256 of the 16 raw challenge bytes, not of their text.
    EXPECT_EQ(m.proof_of_possession.challenge.size(), 22u);
    auto raw = b64url_decode(m.proof_of_possession.challenge);
    ASSERT_TRUE(raw.has_value());
    ASSERT_EQ(raw->size(), 16u);
    EXPECT_TRUE(verify_digest_text(key->verifying_key(), sha256(ByteView(*raw)),
                                   m.proof_of_possession.signature));
    EXPECT_FALSE(verify_digest_text(key->verifying_key(),
                                    sha256(std::string_view(m.proof_of_possession.challenge)),
                                    m.proof_of_possession.signature));
    // The signature covers the canonical form without the signature.
    auto bytes = manifest_signing_bytes(m);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(
        verify_digest_text(key->verifying_key(), sha256(std::string_view(*bytes)), m.signature));
    EXPECT_EQ(m.signature.size(), key == &ed ? 86u : 91u);
    EXPECT_EQ(m.signature.starts_with("p256."), key == &p256);
  }
}

TEST_F(ManifestBuild, FreshChallengeEveryBuild) {
  const Manifest a = build_ok(full_builder(ed));
  const Manifest b = build_ok(full_builder(ed));
  EXPECT_NE(a.proof_of_possession.challenge, b.proof_of_possession.challenge);
  EXPECT_NE(a.proof_of_possession.signature, b.proof_of_possession.signature);
  EXPECT_NE(a.signature, b.signature);
}

TEST_F(ManifestBuild, LifetimeSaturates) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  // Default lifetime, stamped with the current time.
  const std::int64_t before = *unix_now_secs();
  const Manifest fresh = build_ok(minimal(ed));
  EXPECT_GE(fresh.published_at, before);
  EXPECT_LE(fresh.published_at, *unix_now_secs());
  EXPECT_EQ(fresh.expires_at - fresh.published_at, 86400);

  struct Case {
    std::optional<std::int64_t> published_at;
    std::int64_t ttl;
    std::int64_t expires_at;  // 0: published_at + ttl of the stamped time
  } cases[] = {
      {std::nullopt, kMax, kMax}, {kMax - 1, 2, kMax}, {kMin + 1, -2, kMin},
      {kMin, kMin, kMin},         {100, 0, 100},       {100, -200, -100},
      {-5, kMax, kMax - 5},
  };
  for (const Case& c : cases) {
    ManifestBuilder b = minimal(ed);
    b.set_ttl_secs(c.ttl);
    if (c.published_at) b.set_published_at(*c.published_at);
    const Manifest m = build_ok(std::move(b));
    EXPECT_EQ(m.expires_at, c.expires_at) << c.ttl;
  }
}

TEST_F(ManifestBuild, ExtensionsOnlyWhenNotEmpty) {
  const Manifest none = build_ok(minimal(ed));
  EXPECT_FALSE(none.extensions.has_value());
  EXPECT_EQ(manifest_signing_bytes(none)->find("extensions"), std::string::npos);
  ManifestBuilder b = minimal(ed);
  b.set_extension("k", json::Value(1)).set_extension("k", json::Value("last"));
  const Manifest one = build_ok(std::move(b));
  ASSERT_TRUE(one.extensions.has_value());
  EXPECT_NE(manifest_signing_bytes(one)->find(R"("extensions":{"k":"last"})"), std::string::npos);
  // A later setter replaces the earlier endpoint.
  ManifestBuilder twice = minimal(ed);
  twice.set_handshake_endpoint(url_of("https://b.example/x"));
  EXPECT_EQ(build_ok(std::move(twice)).handshake_endpoint, "https://b.example/x");
}

TEST_F(ManifestBuild, NonFiniteExtensionCannotBeSigned) {
  ManifestBuilder b = minimal(ed);
  b.set_extension("x", json::Value(std::nan("")));
  auto m = build_signed_manifest(std::move(b));
  ASSERT_FALSE(m.has_value());
  EXPECT_EQ(m.error().kind_number(), 8);
  EXPECT_EQ(m.error().message(),
            "canonicalization failed: serialization failed: invalid float value");
}

TEST(ManifestSigningBytes, CanonicalOrderOfEveryMember) {
  Manifest m;
  m.version = "zelk/0.2";
  m.aid = *parse_aid("aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo");
  m.display_name = "\xc3\xa9\t";
  m.identity_hint = {IdentityType::Oidc, "s", std::string("i"), std::string("pk")};
  m.handshake_endpoint = "h";
  m.accepted_trust_anchors = {"t2", "t1"};
  m.accepted_identity_types = std::vector<std::string>{"oidc"};
  m.accepted_signature_algorithms = std::vector<std::string>{};
  m.offered_capabilities = {"o"};
  m.required_peer_capabilities = std::vector<std::string>{"r"};
  m.proof_of_possession = {"c", "ps"};
  m.published_at = 9007199254740993;
  m.expires_at = std::numeric_limits<std::int64_t>::max();
  json::Object ext;
  ext.push_back_unchecked("b", json::Value(json::Object{}));
  ext.push_back_unchecked("a", json::Value(1.5));
  m.extensions = ext;
  m.signature = "left out";
  EXPECT_EQ(*manifest_signing_bytes(m),
            R"({"accepted_identity_types":["oidc"],"accepted_signature_algorithms":[],)"
            R"("accepted_trust_anchors":["t2","t1"],)"
            R"("aid":"aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo",)"
            "\"display_name\":\"\xc3\xa9\\t\",\"expires_at\":9223372036854776000,"
            R"("extensions":{"a":1.5,"b":{}},"handshake_endpoint":"h",)"
            R"("identity_hint":{"issuer":"i","public_key":"pk","subject":"s","type":"oidc"},)"
            R"("offered_capabilities":["o"],"proof_of_possession":{"challenge":"c",)"
            R"("signature":"ps"},"published_at":9007199254740992,)"
            R"("required_peer_capabilities":["r"],"version":"zelk/0.2"})");
  // Absent optional members are left out, never written as null.
  m.display_name.reset();
  m.identity_hint.issuer.reset();
  m.extensions.reset();
  const std::string bytes = *manifest_signing_bytes(m);
  EXPECT_EQ(bytes.find("display_name"), std::string::npos);
  EXPECT_EQ(bytes.find("issuer"), std::string::npos);
  EXPECT_EQ(bytes.find("null"), std::string::npos);
}

}  // namespace
}  // namespace zelk
