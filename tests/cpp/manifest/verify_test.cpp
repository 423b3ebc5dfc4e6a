#include "manifest/verify.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "formats/base64url.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/writer.hpp"
#include "manifest_fixture.hpp"

namespace zelk {
namespace {

using test::build_ok;
using test::full_builder;
using test::kPublishedAt;
using test::resign;

constexpr std::int64_t kNow = kPublishedAt + 10;

std::string verify_error(const Manifest& m, std::int64_t now = kNow) {
  auto r = verify_manifest(m, now);
  return r ? "(verified)" : r.error().message();
}

// The proof of possession the builder would make over `raw`.
ManifestPop pop_over(const SigningKey& key, ByteView raw) {
  return {b64url_encode(raw), sign_digest_text(key, sha256(raw))};
}

class ManifestVerify : public ::testing::TestWithParam<KeySuite> {
 protected:
  SigningKey key = GetParam() == KeySuite::Ed25519 ? test::ed25519_key(3) : test::p256_key(4);
  SigningKey other = GetParam() == KeySuite::Ed25519 ? test::ed25519_key(5) : test::p256_key(6);
  Manifest built = build_ok(full_builder(key));
};

TEST_P(ManifestVerify, RoundTripsThroughTextAndValue) {
  EXPECT_EQ(verify_error(built), "(verified)");
  const std::string text = encode_manifest_envelope(built);
  auto read = decode_manifest_envelope(text);
  ASSERT_TRUE(read.has_value()) << read.error().full();
  EXPECT_EQ(read->manifest, built);
  EXPECT_EQ(verify_error(read->manifest), "(verified)");
  EXPECT_EQ(encode_manifest_envelope(*read), text);

  // Inside a handshake payload as a value tree.
  json::Object payload;
  payload.push_back_unchecked("nonce", json::Value("n"));
  manifest_envelope_to_value(payload, built);
  const json::Value tree(std::move(payload));
  auto reparsed = json::parse_value(json::to_compact_string(tree));
  ASSERT_TRUE(reparsed.has_value());
  const json::Value* member = reparsed->as_object().find("manifest");
  ASSERT_NE(member, nullptr);
  auto from_value = manifest_from_value(*member);
  ASSERT_TRUE(from_value.has_value()) << from_value.error().full();
  EXPECT_EQ(*from_value, built);
  EXPECT_EQ(verify_error(*from_value), "(verified)");
}

TEST_P(ManifestVerify, OrderWhitespaceAndNullMembersDoNotMatter) {
  ManifestBuilder b(key);
  b.set_handshake_endpoint(test::url_of("https://a.example/h"))
      .set_identity_hint({IdentityType::PinnedKey, "s", std::nullopt, std::string("pk")})
      .set_published_at(kPublishedAt);
  const Manifest sparse = build_ok(std::move(b));
  auto value = json::parse_value(encode_manifest_envelope(sparse));
  ASSERT_TRUE(value.has_value());
  // Reverse the members, write every absent optional member as null, and spread the text out.
  const json::Object& members = value->as_object().begin()->value.as_object();
  json::Object reordered;
  for (const char* absent : {"extensions", "display_name", "required_peer_capabilities",
                             "accepted_identity_types", "accepted_signature_algorithms"})
    reordered.push_back_unchecked(absent, json::Value());
  for (auto it = members.end(); it != members.begin();) {
    --it;
    reordered.push_back_unchecked(it->name, it->value);
  }
  json::Object hint;
  hint.push_back_unchecked("issuer", json::Value());
  hint.push_back_unchecked("public_key", json::Value("pk"));
  hint.push_back_unchecked("subject", json::Value("s"));
  hint.push_back_unchecked("type", json::Value(json::Object{}));
  hint.find("type")->as_object().push_back_unchecked("pinned_key", json::Value());
  reordered.insert_or_assign("identity_hint", json::Value(std::move(hint)));
  std::string text = R"({"manifest":)" + json::to_compact_string(json::Value(reordered)) + "}";
  std::string spread;
  for (char c : text) {
    spread += c;
    if (c == ',' || c == '{') spread += "\n\t ";
  }
  auto read = decode_manifest_envelope(spread);
  ASSERT_TRUE(read.has_value()) << read.error().full();
  EXPECT_EQ(read->manifest, sparse);
  EXPECT_EQ(manifest_signing_bytes(read->manifest), manifest_signing_bytes(sparse));
  EXPECT_EQ(verify_error(read->manifest), "(verified)");
}

TEST_P(ManifestVerify, ExpiryBoundaryAndIgnoredPublication) {
  // ttl 3600: verifies at published_at + 3600, expired one second later.
  EXPECT_EQ(verify_error(built, kPublishedAt + 3600), "(verified)");
  EXPECT_EQ(verify_error(built, kPublishedAt + 3601), "manifest has expired");
  // published_at is not looked at: a Manifest from the future, or one whose expiry precedes its
  // publication, verifies while expires_at >= now.
  EXPECT_EQ(verify_error(built, kPublishedAt - 1000000), "(verified)");
  Manifest reversed = built;
  reversed.published_at = reversed.expires_at + 50;
  resign(reversed, key);
  EXPECT_EQ(verify_error(reversed, reversed.expires_at), "(verified)");
  // Signed comparison across the whole range.
  Manifest ancient = built;
  ancient.expires_at = std::numeric_limits<std::int64_t>::min();
  resign(ancient, key);
  EXPECT_EQ(verify_error(ancient, std::numeric_limits<std::int64_t>::min()), "(verified)");
  EXPECT_EQ(verify_error(ancient, std::numeric_limits<std::int64_t>::min() + 1),
            "manifest has expired");
  // A saturated expiry is signed through its rounded canonical form and still verifies.
  ManifestBuilder forever = full_builder(key);
  forever.set_ttl_secs(std::numeric_limits<std::int64_t>::max());
  const Manifest m = build_ok(std::move(forever));
  EXPECT_EQ(m.expires_at, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(verify_error(m, std::numeric_limits<std::int64_t>::max()), "(verified)");
}

TEST_P(ManifestVerify, VersionComesFirst) {
  Manifest m = built;
  m.version = "zelk/0.1";
  resign(m, key);
  EXPECT_EQ(verify_error(m), "manifest version is not supported");
  EXPECT_EQ(verify_error(m, m.expires_at + 1), "manifest version is not supported");
  m.version = "zelk/0.2 ";
  EXPECT_EQ(verify_error(m), "manifest version is not supported");
  // Expiry before the key and the signature.
  Manifest unsigned_expired = built;
  unsigned_expired.signature = "garbage";
  EXPECT_EQ(verify_error(unsigned_expired, built.expires_at + 1), "manifest has expired");
}

TEST_P(ManifestVerify, EverySignedMemberIsCovered) {
  const std::function<void(Manifest&)> tampers[] = {
      [](Manifest& m) {
        m.aid = *parse_aid("aid:pubkey:11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo");
      },
      [](Manifest& m) { m.display_name = "other"; },
      [](Manifest& m) { m.display_name.reset(); },
      [](Manifest& m) { m.identity_hint.type = IdentityType::Oidc; },
      [](Manifest& m) { m.identity_hint.subject += "x"; },
      [](Manifest& m) { m.identity_hint.issuer = "i"; },
      [](Manifest& m) { m.identity_hint.public_key = "other"; },
      [](Manifest& m) { m.handshake_endpoint += "x"; },
      [](Manifest& m) { m.accepted_trust_anchors.clear(); },
      [](Manifest& m) { m.accepted_identity_types.reset(); },
      [](Manifest& m) { m.accepted_signature_algorithms = std::vector<std::string>{}; },
      [](Manifest& m) { m.offered_capabilities.push_back("extra"); },
      [](Manifest& m) { std::swap(m.offered_capabilities[0], m.offered_capabilities[1]); },
      [](Manifest& m) { m.required_peer_capabilities->push_back("chat"); },
      [](Manifest& m) { m.proof_of_possession.challenge = b64url_encode(Bytes(16, 0)); },
      [](Manifest& m) { m.proof_of_possession.signature.back() ^= 1; },
      [](Manifest& m) { m.published_at += 1; },
      [](Manifest& m) { m.expires_at -= 1; },
      [](Manifest& m) { m.extensions->insert_or_assign("zeta", json::Value(2)); },
      [](Manifest& m) { m.extensions = json::Object{}; },
      [](Manifest& m) { m.extensions.reset(); },
      [](Manifest& m) { m.signature = m.signature.substr(0, m.signature.size() - 2) + "A="; },
      [](Manifest& m) { m.signature += "A"; },
      [](Manifest& m) { m.signature.clear(); },
  };
  int index = 0;
  for (const auto& tamper : tampers) {
    Manifest m = built;
    tamper(m);
    EXPECT_EQ(verify_error(m), "manifest signature is invalid") << "tamper " << index;
    ++index;
  }
  // The same Manifest signed by a key other than the one its aid names.
  Manifest foreign = built;
  resign(foreign, other);
  EXPECT_EQ(verify_error(foreign), "manifest signature is invalid");
}

// The long Ed25519 form names the same key, so only its text tells it apart: the signature must
// cover the aid as text, and the key must come from either form.
TEST(ManifestVerifyAid, LongFormIsSignedAsItsText) {
  const SigningKey key = test::ed25519_key(8);
  Manifest m = build_ok(full_builder(key));
  const std::string identifier = key.aid_text().substr(kAidEd25519Prefix.size());
  m.aid = *parse_aid(std::string(kAidEd25519LongPrefix) + identifier);
  EXPECT_EQ(verify_error(m), "manifest signature is invalid");
  resign(m, key);
  EXPECT_EQ(verify_error(m), "(verified)");
}

TEST_P(ManifestVerify, SignatureTextMustSuitTheKey) {
  Manifest m = built;
  if (GetParam() == KeySuite::P256) {
    m.signature = m.signature.substr(5);  // without "p256."
    EXPECT_EQ(verify_error(m), "manifest signature is invalid");
    m.signature = "ed25519." + m.signature;
    EXPECT_EQ(verify_error(m), "manifest signature is invalid");
  } else {
    m.signature = "ed25519." + m.signature;  // the optional Ed25519 prefix is accepted
    EXPECT_EQ(verify_error(m), "(verified)");
    m.signature = "p256." + m.signature.substr(8);
    EXPECT_EQ(verify_error(m), "manifest signature is invalid");
  }
}

TEST_P(ManifestVerify, ProofOfPossessionAfterTheSignature) {
  const std::uint8_t raw[16] = {1, 2, 3};
  struct Case {
    const char* name;
    std::function<void(Manifest&, const SigningKey&, const SigningKey&)> craft;
    const char* outcome;
  } cases[] = {
      {"proof by another key",
       [&](Manifest& m, const SigningKey&, const SigningKey& o) {
         m.proof_of_possession = pop_over(o, raw);
       },
       "manifest proof-of-possession failed"},
      {"proof over the challenge text",
       [&](Manifest& m, const SigningKey& k, const SigningKey&) {
         m.proof_of_possession.signature =
             sign_digest_text(k, sha256(std::string_view(m.proof_of_possession.challenge)));
       },
       "manifest proof-of-possession failed"},
      {"challenge with padding",
       [&](Manifest& m, const SigningKey& k, const SigningKey&) {
         m.proof_of_possession = pop_over(k, raw);
         m.proof_of_possession.challenge += "=";
       },
       "manifest proof-of-possession failed"},
      {"challenge outside the alphabet",
       [&](Manifest& m, const SigningKey& k, const SigningKey&) {
         m.proof_of_possession = pop_over(k, raw);
         m.proof_of_possession.challenge[0] = '+';
       },
       "manifest proof-of-possession failed"},
      {"proof signature not a signature text",
       [&](Manifest& m, const SigningKey&, const SigningKey&) {
         m.proof_of_possession.signature = "x";
       },
       "manifest proof-of-possession failed"},
      // Any decodable challenge is accepted, whatever its length.
      {"empty challenge",
       [&](Manifest& m, const SigningKey& k, const SigningKey&) {
         m.proof_of_possession = pop_over(k, {});
       },
       "(verified)"},
      {"one-byte challenge",
       [&](Manifest& m, const SigningKey& k, const SigningKey&) {
         m.proof_of_possession = pop_over(k, ByteView(raw, 1));
       },
       "(verified)"},
  };
  for (const Case& c : cases) {
    Manifest m = built;
    c.craft(m, key, other);
    resign(m, key);
    EXPECT_EQ(verify_error(m), c.outcome) << c.name;
  }
  // A proof altered without signing the whole again is caught by the signature first.
  Manifest unsigned_pop = built;
  unsigned_pop.proof_of_possession = pop_over(other, raw);
  EXPECT_EQ(verify_error(unsigned_pop), "manifest signature is invalid");
}

TEST_P(ManifestVerify, IdentityHintRulesComeLast) {
  struct Case {
    IdentityHint hint;
    const char* outcome;
  } cases[] = {
      {{IdentityType::PinnedKey, "s", std::nullopt, std::nullopt},
       "identity_hint malformed: pinned_key requires `public_key`"},
      {{IdentityType::Oidc, "s", std::nullopt, std::nullopt},
       "identity_hint malformed: oidc requires `issuer`"},
      {{IdentityType::Oidc, "s", std::nullopt, std::string("pk")},
       "identity_hint malformed: oidc requires `issuer`"},
      {{IdentityType::Oidc, "s", std::string("i"), std::string("pk")},
       "identity_hint malformed: oidc must not include `public_key`"},
      // The key text is not compared with the aid's key.
      {{IdentityType::PinnedKey, "", std::nullopt, std::string("not the key")}, "(verified)"},
      {{IdentityType::Oidc, "", std::string(""), std::nullopt}, "(verified)"},
  };
  for (const Case& c : cases) {
    Manifest m = built;
    m.identity_hint = c.hint;
    resign(m, key);
    EXPECT_EQ(verify_error(m), c.outcome);
    // A bad proof is reported before the hint.
    m.proof_of_possession.signature = "x";
    resign(m, key);
    EXPECT_EQ(verify_error(m), "manifest proof-of-possession failed");
  }
  Manifest m = built;
  m.identity_hint.public_key.reset();
  resign(m, key);
  auto r = verify_manifest(m, kNow);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, ManifestError::Kind::IdentityHintMalformed);
}

TEST_P(ManifestVerify, UnsignableExtensionAfterTheKey) {
  Manifest m = built;
  m.extensions->insert_or_assign("nan", json::Value(std::nan("")));
  auto r = verify_manifest(m, kNow);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind_number(), 8);
  EXPECT_EQ(r.error().message(),
            "canonicalization failed: serialization failed: invalid float value");
  m.version = "v";
  EXPECT_EQ(verify_error(m), "manifest version is not supported");
}

INSTANTIATE_TEST_SUITE_P(Suites, ManifestVerify,
                         ::testing::Values(KeySuite::Ed25519, KeySuite::P256),
                         [](const auto& info) { return std::string(key_suite_name(info.param)); });

// An AID of the right form whose bytes are no public key: the key's own error, alone.
TEST(ManifestVerifyKey, AidWithoutAKey) {
  struct Case {
    const char* prefix;
    std::size_t size;
    const char* message;
  } cases[] = {
      {"aid:pubkey:", 32, "AID does not yield a valid Ed25519 public key: signature error"},
      {"aid:pubkey:p256:", 33, "public key parsing failed: signature error"},
  };
  const SigningKey key = test::ed25519_key(1);
  for (const Case& c : cases) {
    std::optional<Aid> keyless;
    for (int x = 2; x < 256 && !keyless; ++x) {
      Bytes raw(c.size, 0);
      raw[0] = c.size == 33 ? 2 : static_cast<std::uint8_t>(x);
      raw[c.size - 1] = static_cast<std::uint8_t>(x);
      auto aid = parse_aid(std::string(c.prefix) + b64url_encode(raw));
      ASSERT_TRUE(aid.has_value());
      if (!verifying_key_from_aid(*aid)) keyless = *aid;
    }
    ASSERT_TRUE(keyless.has_value()) << c.prefix;
    Manifest m = build_ok(full_builder(key));
    m.aid = *keyless;
    // After the expiry, before the canonical form: an unsignable extension is not reached.
    EXPECT_EQ(verify_error(m, m.expires_at + 1), "manifest has expired");
    m.extensions->insert_or_assign("nan", json::Value(std::nan("")));
    auto r = verify_manifest(m, kNow);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind_number(), 9);
    EXPECT_EQ(r.error().message(), c.message);
  }
}

TEST(ManifestErrorText, EveryKind) {
  using K = ManifestError::Kind;
  struct Case {
    ManifestError error;
    int number;
    const char* message;
  } cases[] = {
      {ManifestError::of(K::Expired), 0, "manifest has expired"},
      {ManifestError::of(K::SignatureInvalid), 1, "manifest signature is invalid"},
      {ManifestError::of(K::PopFailed), 2, "manifest proof-of-possession failed"},
      {ManifestError::of(K::AidMismatch), 3, "manifest aid does not match signing key"},
      {ManifestError::of(K::IdentityTypeNotAccepted, "oidc"), 4,
       "manifest does not accept identity type `oidc`"},
      {ManifestError::of(K::VersionUnsupported), 5, "manifest version is not supported"},
      {ManifestError::of(K::IdentityHintMalformed, kOidcRequiresIssuer), 6,
       "identity_hint malformed: oidc requires `issuer`"},
      {ManifestError::of(K::MissingField, "identity_hint"), 7,
       "missing required field: identity_hint"},
      {ManifestError::of(K::Canonicalization, "serialization failed: x"), 8,
       "canonicalization failed: serialization failed: x"},
      {ManifestError::of_crypto(CryptoError::verification()), 9, "signature verification failed"},
      {ManifestError::of(K::Rng, "cause"), 10, "rng failure: cause"},
      {ManifestError::of(K::UnknownField, "x"), 11, "unknown field `x`"},
      {ManifestError::of(K::Malformed, "why"), 12, "malformed manifest: why"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.kind_number(), c.number);
    EXPECT_EQ(c.error.message(), c.message);
  }
}

}  // namespace
}  // namespace zelk
