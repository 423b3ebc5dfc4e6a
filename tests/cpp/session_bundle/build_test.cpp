#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle_fixture.hpp"

namespace zelk {
namespace {

using test::json_str;

class Build : public test::BundleTest {
 protected:
  std::string error_of(const std::vector<ParticipantEntry>& participants) const {
    auto r = build_session_bundle(coordinator, session_id(), test::kNow, participants);
    return r ? "(built)" : r.error().message();
  }
};

TEST_F(Build, WritesTheEnvelopeInDeclaredOrderAndSignsTheCanonicalBody) {
  const ParticipantEntry a = entry(alice, 100);
  const ParticipantEntry b = entry(bob, 50);
  const std::string text = build({a, b});
  const std::string expected_head =
      R"({"session_bundle":{"version":"zelk/0.2","session_id":")" + std::string(test::kSessionId) +
      R"(","coordinator":")" + coordinator.aid_text() + R"(","issued_at":)" +
      std::to_string(test::kNow) + R"(,"expires_at":)" + std::to_string(test::kNow - 60 + 50) +
      R"(,"participants":[{"aid":")" + alice.aid_text() + R"(","tct":")" + a.tct +
      R"("},{"aid":")" + bob.aid_text() + R"(","tct":")" + b.tct + R"("}],"signature":")";
  ASSERT_TRUE(text.starts_with(expected_head)) << text;
  const std::string signature = text.substr(expected_head.size(), 86);
  EXPECT_EQ(text.substr(expected_head.size() + 86), "\"}}");

  auto bundle = decode_session_bundle_envelope(text);
  ASSERT_TRUE(bundle.has_value());
  EXPECT_FALSE(bundle->extensions.has_value());
  const Sha256Digest digest = sha256(std::string_view(*bundle_signing_bytes(*bundle)));
  EXPECT_TRUE(verify_digest_text(coordinator.verifying_key(), digest, signature).has_value());
}

TEST_F(Build, P256CoordinatorSignsWithItsPrefix) {
  const SigningKey p256 = test::p256_key(7);
  const ParticipantEntry a{alice.aid(), mint_for(p256, alice).tct};
  auto text = build_session_bundle(p256, session_id(), test::kNow, std::vector{a});
  ASSERT_TRUE(text.has_value()) << text.error().message();
  auto bundle = decode_session_bundle_envelope(*text);
  EXPECT_TRUE(bundle->signature.starts_with("p256."));
  EXPECT_EQ(bundle->signature.size(), 5u + 86u);
  EXPECT_EQ(test::BundleTest::outcome(*bundle, alice), "(verified)");
}

TEST_F(Build, DefaultsDrawASessionIdAndReadTheClock) {
  const std::vector participants{entry(alice)};
  auto first = build_session_bundle(coordinator, std::nullopt, std::nullopt, participants);
  auto second = build_session_bundle(coordinator, std::nullopt, std::nullopt, participants);
  ASSERT_TRUE(first && second);
  auto a = decode_session_bundle_envelope(*first);
  auto b = decode_session_bundle_envelope(*second);
  EXPECT_NE(a->session_id, b->session_id);
  EXPECT_EQ(a->session_id.bytes[6] >> 4, 4);  // version 4
  EXPECT_GT(a->issued_at, test::kNow);
}

TEST_F(Build, Refusals) {
  ParticipantEntry for_bob_listed_as_alice = entry(bob);
  for_bob_listed_as_alice.aid = alice.aid();
  struct Case {
    const char* what;
    std::vector<ParticipantEntry> participants;
    std::string message;
  };
  const Case cases[] = {
      {"none", {}, "participants array is empty"},
      {"another issuer",
       {entry(alice), {bob.aid(), mint_for(stranger, bob).tct}},
       "participant TCT issuer does not match coordinator"},
      {"another audience",
       {for_bob_listed_as_alice},
       "participant TCT audience does not match entry AID"},
      {"other AID form",
       {{test::long_form(alice.aid()), entry(alice).tct}},
       "participant TCT audience does not match entry AID"},
      {"not a token",
       {{alice.aid(), "garbage"}},
       "canonicalization failed: participant tct: compact JWS malformed: expected exactly three "
       "non-empty segments"},
      // The first failing participant decides.
      {"decode before issuer",
       {{alice.aid(), mint_for(stranger, alice).tct}, {bob.aid(), "x"}},
       "participant TCT issuer does not match coordinator"},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.participants), c.message) << c.what;
}

// Building checks no signature, time or duplicate: such bundles are written as they are.
TEST_F(Build, ChecksNothingBeyondIssuerAndAudience) {
  test::ClaimsText c;
  c.set("ver", json_str("old"))
      .set("jti", json_str("0f8fad5b-d9cb-469f-a165-70867728950e"))
      .set("iss", json_str(coordinator.aid_text()))
      .set("sub", json_str(bob.aid_text()))
      .set("aud", json_str(alice.aid_text()))
      .set("iat", "0")
      .set("exp", "10")
      .set("grants", "[]")
      .set("cnf", R"({"jkt":"x"})");
  const std::string forged = test::forge(stranger, "{}", c.text());
  auto text = build_session_bundle(
      coordinator, session_id(), test::kNow,
      std::vector<ParticipantEntry>{{alice.aid(), forged}, {alice.aid(), forged}});
  ASSERT_TRUE(text.has_value()) << text.error().message();
  auto bundle = decode_session_bundle_envelope(*text);
  EXPECT_EQ(bundle->expires_at, 10);
  EXPECT_EQ(bundle->participants.size(), 2u);
}

}  // namespace
}  // namespace zelk
