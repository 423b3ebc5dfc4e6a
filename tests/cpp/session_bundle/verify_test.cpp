#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bundle_fixture.hpp"
#include "tct/verify.hpp"

namespace zelk {
namespace {

using test::json_str;
using test::kNow;

class Verify : public test::BundleTest {};

TEST_F(Verify, BundlesOfOneTwoAndFiftyParticipantsVerifyForEveryMember) {
  std::vector<SigningKey> members;
  for (int i = 0; i < 50; ++i)
    members.push_back(i % 5 == 4 ? test::p256_key(static_cast<std::uint8_t>(10 + i))
                                 : test::ed_key(static_cast<std::uint8_t>(10 + i)));
  for (std::size_t count : {1u, 2u, 50u}) {
    std::vector<ParticipantEntry> participants;
    std::vector<std::string> aids;
    for (std::size_t i = 0; i < count; ++i) {
      participants.push_back(entry(members[i], 3600 + static_cast<std::int64_t>(i)));
      aids.push_back(members[i].aid_text());
    }
    const SessionTrustBundle bundle = built(participants);
    EXPECT_EQ(bundle.expires_at, kNow - 60 + 3600);
    for (const SigningKey* verifier : {&members.front(), &members[count - 1]}) {
      auto result = verify_bundle(bundle, verifier->aid(), kNow);
      ASSERT_TRUE(result.has_value()) << count << ": " << result.error().message();
      EXPECT_EQ(result->active_aids, aids);
      EXPECT_FALSE(result->dropped_aids.has_value());
    }
  }
}

TEST_F(Verify, ExpiryBoundaryIsInclusive) {
  const SessionTrustBundle bundle = built({entry(alice, 100)});
  EXPECT_EQ(outcome(bundle, alice, bundle.expires_at), "(verified)");
  EXPECT_EQ(outcome(bundle, alice, bundle.expires_at + 1), "bundle has expired");
}

TEST_F(Verify, IssuedAfterExpiryStillVerifies) {
  auto text =
      build_session_bundle(coordinator, session_id(), kNow + 10'000, std::vector{entry(alice)});
  auto bundle = decode_session_bundle_envelope(*text);
  EXPECT_GT(bundle->issued_at, bundle->expires_at);
  EXPECT_EQ(outcome(*bundle, alice), "(verified)");
}

// Each case breaks one thing and also everything checked after it, so only the first check in
// order can be the one reported.
TEST_F(Verify, FailuresInTheirOrder) {
  const SessionTrustBundle good = built({entry(alice), entry(bob)});

  SessionTrustBundle wrong_version = good;
  wrong_version.version = "zelk/0.1";
  wrong_version.participants.clear();
  EXPECT_EQ(outcome(wrong_version, stranger, good.expires_at + 1), "bundle version mismatch");

  SessionTrustBundle expired = good;
  expired.participants.clear();
  EXPECT_EQ(outcome(expired, stranger, good.expires_at + 1), "bundle has expired");
  EXPECT_EQ(outcome(expired, stranger), "participants array is empty");

  SessionTrustBundle undecodable = good;
  undecodable.participants[1].tct = "x.y";
  undecodable.signature = "bad";
  undecodable.expires_at += 1;
  EXPECT_EQ(outcome(undecodable, stranger),
            "canonicalization failed: participant tct: compact JWS malformed: expected exactly "
            "three non-empty segments");

  SessionTrustBundle unknown_claim = good;
  unknown_claim.participants[0].tct = test::forge(stranger, "{}", R"({"ver":"zelk/0.2","foo":1})");
  EXPECT_EQ(outcome(unknown_claim, stranger), "unknown field: foo");

  SessionTrustBundle late = good;
  late.expires_at += 1;
  resign(late, coordinator);
  EXPECT_EQ(outcome(late, stranger),
            "bundle expires_at does not equal min(participant TCT expiries)");
  late.expires_at -= 2;
  resign(late, coordinator);
  EXPECT_EQ(outcome(late, alice), "bundle expires_at does not equal min(participant TCT expiries)");

  SessionTrustBundle bad_signature = good;
  bad_signature.signature = "bad";
  EXPECT_EQ(outcome(bad_signature, stranger), "verifier is not a member of this bundle");
  // The other text form of a member's key is another AID.
  auto long_alice = verify_bundle(good, test::long_form(alice.aid()), kNow);
  EXPECT_EQ(long_alice.error().message(), "verifier is not a member of this bundle");

  EXPECT_EQ(outcome(bad_signature, alice), "bundle signature is invalid");
  SessionTrustBundle other_signer = good;
  resign(other_signer, stranger);
  EXPECT_EQ(outcome(other_signer, alice), "bundle signature is invalid");
  SessionTrustBundle changed = good;
  changed.issued_at += 1;
  EXPECT_EQ(outcome(changed, alice), "bundle signature is invalid");
  SessionTrustBundle with_extensions = good;
  with_extensions.extensions.emplace();
  EXPECT_EQ(outcome(with_extensions, alice), "bundle signature is invalid");
  resign(with_extensions, coordinator);
  EXPECT_EQ(outcome(with_extensions, alice), "(verified)");
}

TEST_F(Verify, CoordinatorWithoutAUsableKeyIsACryptoError) {
  // A P-256 AID whose x has no point on the curve: parse_aid takes it, the key does not.
  std::optional<Aid> aid;
  std::optional<CryptoError> key_error;
  for (std::uint8_t fill = 1; fill != 0 && !key_error; ++fill) {
    Bytes point(33, fill);
    point[0] = 0x02;
    aid = parse_aid(std::string(kAidP256Prefix) + b64url_encode(point)).value();
    if (auto key = verifying_key_from_aid(*aid); !key) key_error = key.error();
  }
  ASSERT_TRUE(key_error.has_value());
  SessionTrustBundle bundle = built({entry(alice)});
  bundle.coordinator = *aid;
  EXPECT_EQ(outcome(bundle, alice), key_error->message());
}

TEST_F(Verify, ParticipantTokenFailures) {
  // Names the coordinator but is signed by a third agent: the signature fails before the
  // issuer would be compared.
  MintedTct by_stranger = mint_for(stranger, bob);
  test::ClaimsText c;
  c.set("ver", json_str("zelk/0.2"))
      .set("jti", json_str(by_stranger.claims.jti.to_string()))
      .set("iss", json_str(coordinator.aid_text()))
      .set("sub", json_str(bob.aid_text()))
      .set("aud", json_str(bob.aid_text()))
      .set("iat", std::to_string(by_stranger.claims.iat))
      .set("exp", std::to_string(by_stranger.claims.exp))
      .set("grants", R"(["read"])")
      .set("cnf", "{\"jkt\":" + json_str(by_stranger.claims.cnf.jkt) + "}");
  const std::string forged =
      test::forge(stranger, test::header_text("EdDSA", "zelk-tct+jwt"), c.text());
  const std::vector<ParticipantEntry> participants{entry(alice), {bob.aid(), forged}};
  const auto third_agent = verify_tct_jws(
      forged,
      TctVerifyOptions{.issuer = coordinator.aid(), .expected_audience = bob.aid(), .now = kNow});
  ASSERT_FALSE(third_agent.has_value());
  EXPECT_EQ(outcome(built(participants), alice),
            "participant TCT verification failed: " + third_agent.error().message());
  EXPECT_EQ(third_agent.error().message(), "signature verification failed");

  // sub differs from aud: builds, but the audience check refuses it.
  const std::string split = test::forge(coordinator, test::header_text("EdDSA", "zelk-tct+jwt"),
                                        c.set("sub", json_str(carol.aid_text())).text());
  EXPECT_EQ(outcome(built({entry(alice), {bob.aid(), split}}), alice),
            "participant TCT audience does not match entry AID");

  // Not yet valid at now.
  const std::string early = test::forge(
      coordinator, test::header_text("EdDSA", "zelk-tct+jwt"),
      c.set("sub", json_str(bob.aid_text())).set("iat", std::to_string(kNow + 1)).text());
  EXPECT_EQ(outcome(built({entry(alice), {bob.aid(), early}}), alice),
            "participant TCT verification failed: TCT has expired or is not yet valid");
}

TEST_F(Verify, RevocationCheckDropsAfterEachVerifiedToken) {
  const std::vector participants{entry(alice), entry(bob), entry(alice), entry(carol)};
  const SessionTrustBundle bundle = built(participants);
  std::vector<std::string> jtis;
  for (const ParticipantEntry& p : participants)
    jtis.push_back(decode_participant_tct(p.tct)->jti.to_string());

  std::vector<std::string> asked;
  const RevocationCheck revoke_bob = [&](const Uuid& jti) {
    asked.push_back(jti.to_string());
    return jti.to_string() == jtis[1];
  };
  auto result = verify_bundle(bundle, carol.aid(), kNow, &revoke_bob);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(asked, jtis);
  EXPECT_EQ(result->active_aids,
            (std::vector{alice.aid_text(), alice.aid_text(), carol.aid_text()}));
  EXPECT_EQ(result->dropped_aids, std::vector{bob.aid_text()});

  const RevocationCheck revoke_all = [](const Uuid&) { return true; };
  result = verify_bundle(bundle, carol.aid(), kNow, &revoke_all);
  EXPECT_TRUE(result->active_aids.empty());
  EXPECT_EQ(result->dropped_aids,
            (std::vector{alice.aid_text(), bob.aid_text(), alice.aid_text(), carol.aid_text()}));

  const RevocationCheck revoke_none = [](const Uuid&) { return false; };
  result = verify_bundle(bundle, carol.aid(), kNow, &revoke_none);
  EXPECT_EQ(result->active_aids.size(), 4u);
  EXPECT_FALSE(result->dropped_aids.has_value());
  const RevocationCheck empty;
  EXPECT_EQ(verify_bundle(bundle, carol.aid(), kNow, &empty)->active_aids.size(), 4u);
}

TEST_F(Verify, FailureAtALaterParticipantAfterTheCheckWasAsked) {
  const std::string early = mint_for(coordinator, bob).tct;
  const SessionTrustBundle bundle = built({entry(alice), {bob.aid(), early}, entry(carol)});
  int asked = 0;
  const RevocationCheck count = [&](const Uuid&) {
    ++asked;
    return true;
  };
  // Before iat of every token: the first participant already fails, nothing is asked.
  EXPECT_EQ(outcome(bundle, alice, kNow - 61, &count),
            "participant TCT verification failed: TCT has expired or is not yet valid");
  EXPECT_EQ(asked, 0);

  SessionTrustBundle second_bad = bundle;
  second_bad.participants[1].tct = mint_for(coordinator, carol).tct;
  resign(second_bad, coordinator);
  EXPECT_EQ(outcome(second_bad, alice, kNow, &count),
            "participant TCT audience does not match entry AID");
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace zelk
