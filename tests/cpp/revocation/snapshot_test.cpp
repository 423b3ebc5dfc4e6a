#include "revocation/snapshot.hpp"

#include <gtest/gtest.h>

#include <string>

#include "../tct/tct_test_util.hpp"
#include "crypto/detached.hpp"
#include "revocation/signing_input.hpp"

namespace zelk {
namespace {

using Kind = TctError::Kind;

class Snapshot : public ::testing::Test {
 protected:
  SigningKey ed = test::ed_key(3);
  SigningKey p256 = test::p256_key(9);

  RevocationList list_of(const SigningKey& key) const {
    RevocationList l;
    l.version = "zelk/0.2";
    l.issuer = key.aid();
    l.published_at = 100;
    l.expires_at = 200;
    l.entries.push_back({*parse_uuid("6f1c2a7e-8d3b-4c5a-9e0f-1a2b3c4d5e6f"), 90, "key lost"});
    l.entries.push_back({*parse_uuid("00000000-0000-0000-0000-000000000000"), 95, std::nullopt});
    return l;
  }
  RevocationListEnvelope signed_by(const SigningKey& key) const {
    return *sign_revocation_snapshot(list_of(key), key);
  }
  std::optional<Kind> failure(const RevocationListEnvelope& env, std::string_view issuer,
                              std::int64_t now = 150) const {
    auto r = verify_revocation_snapshot(env, issuer, now);
    if (r) return std::nullopt;
    return r.error().kind;
  }
};

TEST_F(Snapshot, SignsTheCanonicalBytesWithEitherKeyKind) {
  for (const SigningKey* key : {&ed, &p256}) {
    auto env = sign_revocation_snapshot(list_of(*key), *key);
    ASSERT_TRUE(env.has_value());
    EXPECT_EQ(env->revocation_list, list_of(*key));
    EXPECT_EQ(env->signature.size(), key == &ed ? 86u : 91u);
    EXPECT_EQ(env->signature.starts_with("p256."), key == &p256);
    EXPECT_EQ(env->signature, sign_detached(*key, *revocation_list_jcs(env->revocation_list)));
    EXPECT_TRUE(verify_revocation_snapshot(*env, key->aid_text(), 150));
    // The carried form reads back to the same snapshot, which still verifies.
    auto again = decode_revocation_envelope(encode_revocation_envelope(*env));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *env);
  }
}

TEST_F(Snapshot, ChecksInOrderFirstFailureWins) {
  const std::string me = ed.aid_text();
  const std::string other = test::ed_key(4).aid_text();
  RevocationListEnvelope env = signed_by(ed);

  // Expiry is inclusive at the boundary.
  EXPECT_EQ(failure(env, me, 200), std::nullopt);
  EXPECT_EQ(failure(env, me, 201), Kind::OutsideValidity);
  // published_at is not judged against now.
  EXPECT_EQ(failure(env, me, INT64_MIN), std::nullopt);

  RevocationListEnvelope forged = env;
  forged.signature[10] = forged.signature[10] == 'A' ? 'B' : 'A';
  RevocationListEnvelope versioned = forged;
  versioned.revocation_list.version = "zelk/0.1";
  EXPECT_EQ(failure(versioned, other, 999), Kind::UnsupportedVersion);
  EXPECT_EQ(failure(forged, other, 999), Kind::OutsideValidity);
  EXPECT_EQ(failure(forged, other), Kind::IssuerMismatch);
  EXPECT_EQ(failure(forged, me), Kind::SignatureInvalid);
  // The long Ed25519 form names the same key but is another AID text.
  EXPECT_EQ(failure(env, test::long_form(ed.aid()).text()), Kind::IssuerMismatch);

  RevocationListEnvelope bad_syntax = env;
  bad_syntax.signature += "=";
  EXPECT_EQ(failure(bad_syntax, me), Kind::SignatureInvalid);
  RevocationListEnvelope wrong_kind = env;
  wrong_kind.signature = "p256." + env.signature;
  EXPECT_EQ(failure(wrong_kind, me), Kind::SignatureInvalid);

  // The key error comes before the signature and canonical checks.
  RevocationListEnvelope no_key = env;
  // A well-formed P-256 AID whose x coordinate is not below the field prime.
  auto off_curve = parse_aid("aid:pubkey:p256:Av" + std::string(42, '_'));
  ASSERT_TRUE(off_curve.has_value());
  no_key.revocation_list.issuer = *off_curve;
  auto r = verify_revocation_snapshot(no_key, no_key.revocation_list.issuer.text(), 150);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, Kind::Crypto);

  RevocationListEnvelope nan = env;
  nan.revocation_list.extensions.emplace();
  nan.revocation_list.extensions->push_back_unchecked("x", json::Value(1.0 / 0.0));
  EXPECT_EQ(failure(nan, me), Kind::Canonicalization);
  nan.signature = "!";
  EXPECT_EQ(failure(nan, me), Kind::SignatureInvalid);
}

TEST_F(Snapshot, EveryCoveredChangeBreaksTheSignature) {
  const std::string me = p256.aid_text();
  const RevocationListEnvelope env = signed_by(p256);
  auto changed = [&](auto&& change) {
    RevocationListEnvelope copy = env;
    change(copy.revocation_list);
    return failure(copy, me);
  };
  EXPECT_EQ(changed([](RevocationList& l) { l.entries[0].jti = Uuid{}; }), Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.entries[0].revoked_at++; }), Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.entries[0].reason.reset(); }),
            Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.entries[1].reason = ""; }), Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.entries.pop_back(); }), Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.entries.push_back(l.entries[0]); }),
            Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.published_at--; }), Kind::SignatureInvalid);
  EXPECT_EQ(changed([](RevocationList& l) { l.extensions.emplace(); }), Kind::SignatureInvalid);
  // Numbers that share one double share the signing input.
  RevocationListEnvelope big = env;
  big.revocation_list.published_at = 9007199254740992;
  big = *sign_revocation_snapshot(big.revocation_list, p256);
  big.revocation_list.published_at = 9007199254740993;
  EXPECT_EQ(failure(big, me), std::nullopt);
}

TEST_F(Snapshot, SignatureOverExtensionsVerifiesWhateverTheLayout) {
  const std::string text =
      R"({"revocation_list":{"entries":[],"extensions":{"n":[333333333.3333333,)"
      R"(1.0000000000000001e+23,-0.0,1E400],"o":{"y":{"b":true},"a":null}},"expires_at":200,)"
      R"("published_at":100,"issuer":")" +
      ed.aid_text() + R"(","version":"zelk/0.2"},"signature":"x"})";
  auto read = decode_revocation_envelope(text);
  ASSERT_FALSE(read.has_value());  // 1E400 is out of range
  const std::string ok_text =
      text.substr(0, text.find(",1E400")) + text.substr(text.find("],\"o\""));
  read = decode_revocation_envelope(ok_text);
  ASSERT_TRUE(read.has_value()) << read.error().full();
  auto bytes = revocation_list_jcs(read->revocation_list);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_NE(
      bytes->find(
          R"("extensions":{"n":[333333333.3333333,1.0000000000000001e+23,0],"o":{"a":null,"y":{"b":true}}})"),
      std::string::npos)
      << *bytes;
  RevocationListEnvelope env = *sign_revocation_snapshot(read->revocation_list, ed);
  EXPECT_TRUE(verify_revocation_snapshot(env, ed.aid_text(), 150));
}

}  // namespace
}  // namespace zelk
