#include "handshake/token_exchange.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "exchange_fixture.hpp"
#include "handshake/grants.hpp"
#include "tct/claims.hpp"

namespace zelk {
namespace {

using exchange_test::kNow;
using Grants = std::vector<std::string>;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(IntersectGrants, KeepsFirstListOrderAndRepeats) {
  struct Case {
    Grants first, second, expected;
  };
  const Case cases[] = {
      {{"a", "b", "a"}, {"a"}, {"a", "a"}},
      {{"b", "a"}, {"a", "b"}, {"b", "a"}},
      {{"a", "b"}, {}, {}},
      {{}, {"a"}, {}},
      {{"A", "a ", "a"}, {"a"}, {"a"}},  // texts compare byte for byte
  };
  for (const Case& c : cases) EXPECT_EQ(intersect_grants(c.first, c.second), c.expected);
}

// `issuer` issues to `peer`; `peer` checks what `issuer` issued.
class TokenExchange : public ::testing::Test {
 protected:
  exchange_test::IdentityProvider idp;
  exchange_test::TestResolver resolver{{idp.jwk()}};
  exchange_test::Agent issuer{test::ed_key(1), "issuer", {}};
  exchange_test::Agent peer{test::ed_key(2), "peer", {}};
  exchange_test::Agent third{test::ed_key(3), "third", {}};
  IdentityDescriptor peer_identity{.type = IdentityType::PinnedKey,
                                   .issuer = std::nullopt,
                                   .subject = "peer",
                                   .proof = "proof",
                                   .public_key = std::nullopt,
                                   .extensions = std::nullopt};

  std::expected<MintedTct, HandshakeError> issue(const Grants& requested,
                                                 const HandshakeContext& context) {
    return issue_peer_tct(context, peer_identity, peer.manifest.aid, peer.key.verifying_key(),
                          requested);
  }
  std::expected<MintedTct, HandshakeError> issue(const Grants& requested) {
    return issue(requested, issuer.context(resolver));
  }
  MintedTct minted(const Grants& requested = {"files:read"}) {
    auto out = issue(requested);
    EXPECT_TRUE(out.has_value()) << out.error().message();
    return std::move(*out);
  }

  // What the peer makes of a TCT and voucher from the issuer.
  std::expected<PeerTctCheck, HandshakeError> check(
      const std::string& tct, const std::optional<std::string>& voucher,
      const HandshakeContext& context, const Grants& offered = {"files:read", "files:write"}) {
    return verify_peer_tct_and_voucher(tct, voucher, context, issuer.manifest.aid,
                                       issuer.manifest.expires_at, offered);
  }
  std::string check_error(const std::string& tct, const std::optional<std::string>& voucher,
                          const Grants& offered = {"files:read", "files:write"}) {
    auto out = check(tct, voucher, peer.context(resolver), offered);
    return out ? std::string("accepted") : out.error().message();
  }
};

TEST_F(TokenExchange, IssuesOfferedGrantsInRequestedOrderWithRepeats) {
  const MintedTct tct = minted({"files:write", "chat", "files:read", "files:write"});
  EXPECT_EQ(tct.claims.grants, (Grants{"files:write", "files:read", "files:write"}));
  EXPECT_EQ(tct.claims.iss, issuer.manifest.aid);
  EXPECT_EQ(tct.claims.sub, peer.manifest.aid);
  EXPECT_EQ(tct.claims.aud, peer.manifest.aid);
  EXPECT_EQ(tct.claims.cnf.jkt, *jwk_thumbprint(peer.key.verifying_key()));
  EXPECT_EQ(tct.claims.iat, kNow);
  EXPECT_EQ(tct.claims.exp, kNow + 3600);
  ASSERT_TRUE(tct.grant_voucher.has_value());
  // What was issued passes the peer's own check.
  auto checked = check(tct.tct, tct.grant_voucher, peer.context(resolver));
  ASSERT_TRUE(checked.has_value()) << checked.error().message();
  EXPECT_EQ(checked->tct.token(), tct.tct);
  EXPECT_FALSE(checked->effective_grants.has_value());
}

TEST_F(TokenExchange, NothingOfferedIsDenied) {
  for (const Grants& requested : {Grants{}, Grants{"chat"}, Grants{"FILES:READ"}})
    EXPECT_EQ(issue(requested).error().message(),
              "policy denies handshake (empty grant intersection)");
}

TEST_F(TokenExchange, GrantPolicyReplacesTheCandidates) {
  std::vector<Grants> seen;
  const GrantPolicy widen = [&](const IdentityDescriptor& who, const Grants& candidates) {
    EXPECT_EQ(who, peer_identity);
    seen.push_back(candidates);
    return Grants{"admin"};  // not compared with the offer
  };
  HandshakeContext context = issuer.context(resolver);
  context.grant_policy = &widen;
  auto out = issue({"chat", "files:read"}, context);
  ASSERT_TRUE(out.has_value()) << out.error().message();
  EXPECT_EQ(out->claims.grants, Grants{"admin"});
  EXPECT_EQ(seen, std::vector<Grants>{{"files:read"}});

  // It is asked even when nothing was offered, and an empty answer is a denial.
  const GrantPolicy deny = [](const IdentityDescriptor&, const Grants&) { return Grants{}; };
  context.grant_policy = &deny;
  EXPECT_EQ(issue({"files:read"}, context).error().kind, HandshakeError::Kind::PolicyDenied);
  context.grant_policy = &widen;
  EXPECT_TRUE(issue({"chat"}, context).has_value());
}

TEST_F(TokenExchange, MintingFailureIsReportedAsTctFailure) {
  exchange_test::Agent spaced{test::ed_key(4), "spaced", {.offered = {"files:read", "a b"}}};
  auto out = issue({"files:read", "a b"}, spaced.context(resolver));
  ASSERT_FALSE(out.has_value());
  EXPECT_EQ(out.error().kind, HandshakeError::Kind::TctFailure);
  EXPECT_EQ(out.error().message(),
            "TCT verification failed: TCT grant must not contain whitespace: `a b`");
}

TEST_F(TokenExchange, LifetimeIsCappedByTheOwnManifestAndAnHour) {
  const std::string expired =
      "invalid envelope: issuing peer's manifest is expired; cannot issue TCT";
  struct Case {
    std::int64_t now, manifest_expires_at;
    std::optional<std::int64_t> lifetime;  // absent: refused as expired
  };
  const Case cases[] = {
      {kNow, kNow + 100, 100},
      {kNow, kNow + 3599, 3599},
      {kNow, kNow + 3600, 3600},
      {kNow, kNow + 7200, 3600},
      {kNow, kNow + 1, 1},
      {kNow, kNow, std::nullopt},
      {kNow, kNow - 1, std::nullopt},
      // now + 3600 saturates instead of wrapping; the Manifest then decides
      {kMax - 10, kMax, 10},
      {kMax, kMax, std::nullopt},
      // end - now saturates too: an expiry far in the past is still expired
      {kMax - 5, std::numeric_limits<std::int64_t>::min(), std::nullopt},
  };
  for (const Case& c : cases) {
    Manifest own = issuer.manifest;
    own.expires_at = c.manifest_expires_at;
    const HandshakeContext context{.signing_key = issuer.key,
                                   .own_manifest = own,
                                   .trust_anchors = issuer.trust_anchors,
                                   .resolver = resolver,
                                   .now = c.now};
    auto out = issue({"files:read"}, context);
    if (!c.lifetime) {
      ASSERT_FALSE(out.has_value()) << c.manifest_expires_at;
      EXPECT_EQ(out.error().message(), expired);
      continue;
    }
    ASSERT_TRUE(out.has_value()) << out.error().message();
    EXPECT_EQ(out->claims.iat, c.now);
    EXPECT_EQ(out->claims.exp - out->claims.iat, *c.lifetime) << c.manifest_expires_at;
  }
}

TEST_F(TokenExchange, AcceptsAbsentVoucher) {
  const MintedTct tct = minted();
  EXPECT_EQ(check_error(tct.tct, std::nullopt), "accepted");
}

TEST_F(TokenExchange, RefusesTokensForgedOrResignedByAThirdKey) {
  const MintedTct tct = minted();
  const std::string bad_signature = "TCT verification failed: signature verification failed";
  // The issuer's claims signed by another key.
  EXPECT_EQ(check_error(*encode_tct_jws(third.key, tct.claims), tct.grant_voucher), bad_signature);
  // A token that names the third key as issuer and is signed by it, offered as the issuer's.
  TctClaims forged = tct.claims;
  forged.iss = third.manifest.aid;
  EXPECT_EQ(check_error(*encode_tct_jws(third.key, forged), std::nullopt), bad_signature);
  // Signed by the issuer's key but naming another issuer.
  EXPECT_EQ(check_error(*encode_tct_jws(issuer.key, forged), std::nullopt),
            "TCT verification failed: TCT issuer does not match the verifying key");
  // The voucher re-signed by another key.
  auto voucher = verify_grant_voucher_jws(*tct.grant_voucher, issuer.manifest.aid);
  ASSERT_TRUE(voucher.has_value());
  EXPECT_EQ(check_error(tct.tct, *encode_grant_voucher_jws(third.key, voucher->claims())),
            bad_signature);
  // The voucher's typ on the TCT's place and the other way round.
  EXPECT_EQ(check_error(*tct.grant_voucher, std::nullopt),
            "TCT verification failed: JWS typ header mismatch: expected zelk-tct+jwt, got "
            "zelk-grant+jwt");
  EXPECT_EQ(check_error(tct.tct, tct.tct),
            "TCT verification failed: JWS typ header mismatch: expected zelk-grant+jwt, got "
            "zelk-tct+jwt");
}

TEST_F(TokenExchange, RefusesAVoucherThatDoesNotMirrorItsTct) {
  const MintedTct tct = minted({"files:read", "files:write"});
  auto base = verify_grant_voucher_jws(*tct.grant_voucher, issuer.manifest.aid);
  ASSERT_TRUE(base.has_value());
  const std::string mismatch =
      "TCT verification failed: claims malformed: grant voucher does not mirror the companion TCT";
  const auto changes = std::to_array<void (*)(GrantVoucherClaims&, const exchange_test::Agent&)>({
      [](GrantVoucherClaims& v, const exchange_test::Agent& other) { v.sub = other.manifest.aid; },
      [](GrantVoucherClaims& v, const exchange_test::Agent&) { v.grants = {"files:read"}; },
      [](GrantVoucherClaims& v, const exchange_test::Agent&) {
        v.grants = {"files:write", "files:read"};
      },
      [](GrantVoucherClaims& v, const exchange_test::Agent&) { v.iat -= 1; },
      [](GrantVoucherClaims& v, const exchange_test::Agent&) { v.exp += 1; },
      [](GrantVoucherClaims& v, const exchange_test::Agent&) { v.src_jti.bytes[15] ^= 1; },
  });
  for (std::size_t i = 0; i < changes.size(); ++i) {
    GrantVoucherClaims changed = base->claims();
    changes[i](changed, third);
    EXPECT_EQ(check_error(tct.tct, *encode_grant_voucher_jws(issuer.key, changed)), mismatch) << i;
  }
  // The voucher of another TCT of the same issuer.
  const MintedTct other = minted({"files:read", "files:write"});
  EXPECT_EQ(check_error(tct.tct, other.grant_voucher), mismatch);
  // An unchanged re-encoding mirrors.
  EXPECT_EQ(check_error(tct.tct, *encode_grant_voucher_jws(issuer.key, base->claims())),
            "accepted");
}

TEST_F(TokenExchange, RefusesGrantsBeyondTheIssuersOffer) {
  const MintedTct tct = minted({"files:read", "files:write"});
  const std::string exceeds = "peer-issued TCT grants exceed the issuer's offered_capabilities";
  EXPECT_EQ(check_error(tct.tct, tct.grant_voucher, {"files:read"}), exceeds);
  EXPECT_EQ(check_error(tct.tct, tct.grant_voucher, {}), exceeds);
  EXPECT_EQ(check_error(tct.tct, tct.grant_voucher, {"files:write", "files:read"}), "accepted");
}

TEST_F(TokenExchange, TimeAndAudienceChecksOfTheTct) {
  const MintedTct tct = minted();
  HandshakeContext late = peer.context(resolver, kNow + 3601);
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, late).error().message(),
            "TCT verification failed: TCT has expired or is not yet valid");
  HandshakeContext at_expiry = peer.context(resolver, kNow + 3600);
  EXPECT_TRUE(check(tct.tct, tct.grant_voucher, at_expiry).has_value());
  // The issuer's Manifest bounds the token.
  auto bounded = verify_peer_tct_and_voucher(tct.tct, tct.grant_voucher, peer.context(resolver),
                                             issuer.manifest.aid, kNow + 3599, {"files:read"});
  EXPECT_EQ(bounded.error().message(),
            "TCT verification failed: TCT expires_at exceeds issuer Manifest expires_at");
  // A token for the peer is worth nothing to a third agent.
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, third.context(resolver)).error().message(),
            "TCT verification failed: TCT audience does not match");
}

TEST_F(TokenExchange, RequiredPeerCapabilitiesMustBeGranted) {
  const MintedTct tct = minted({"files:read"});
  struct Case {
    std::optional<Grants> required;
    bool accepted;
  };
  const Case cases[] = {
      {std::nullopt, true},
      {Grants{}, true},
      {Grants{"files:read"}, true},
      {Grants{"files:read", "files:read"}, true},
      {Grants{"files:read", "files:write"}, false},
      {Grants{"chat"}, false},
  };
  for (const Case& c : cases) {
    Manifest own = peer.manifest;
    own.required_peer_capabilities = c.required;
    const HandshakeContext context{.signing_key = peer.key,
                                   .own_manifest = own,
                                   .trust_anchors = peer.trust_anchors,
                                   .resolver = resolver,
                                   .now = kNow};
    auto out = check(tct.tct, tct.grant_voucher, context);
    if (c.accepted) {
      EXPECT_TRUE(out.has_value()) << out.error().message();
    } else {
      ASSERT_FALSE(out.has_value());
      EXPECT_EQ(out.error().message(), "insufficient grants in peer-issued TCT");
    }
  }
}

TEST_F(TokenExchange, StatusCheckRevokesRestrictsOrFails) {
  const MintedTct tct = minted({"files:read", "files:write", "files:read"});
  std::vector<std::pair<Aid, Uuid>> asked;
  TctStatus answer = TctStatus::unchanged();
  std::optional<HandshakeError> failure;
  const TctStatusCheck status = [&](const Aid& iss,
                                    const Uuid& jti) -> std::expected<TctStatus, HandshakeError> {
    asked.emplace_back(iss, jti);
    if (failure) return std::unexpected(*failure);
    return answer;
  };
  Manifest own = peer.manifest;
  own.required_peer_capabilities = Grants{"files:read"};
  const HandshakeContext context{.signing_key = peer.key,
                                 .own_manifest = own,
                                 .trust_anchors = peer.trust_anchors,
                                 .resolver = resolver,
                                 .tct_status_check = &status,
                                 .now = kNow};

  auto unchanged = check(tct.tct, tct.grant_voucher, context);
  ASSERT_TRUE(unchanged.has_value());
  EXPECT_FALSE(unchanged->effective_grants.has_value());
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].first, issuer.manifest.aid);
  EXPECT_EQ(asked[0].second, tct.claims.jti);

  answer = TctStatus::revoked();
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, context).error().message(),
            "TCT verification failed: TCT jti is revoked");

  answer = TctStatus::restricted({"chat", "files:read"});
  auto restricted = check(tct.tct, tct.grant_voucher, context);
  ASSERT_TRUE(restricted.has_value());
  EXPECT_EQ(restricted->effective_grants, (Grants{"files:read", "files:read"}));

  // The required grant is checked against what the restriction left.
  answer = TctStatus::restricted({"files:write"});
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, context).error().message(),
            "insufficient grants in peer-issued TCT");
  answer = TctStatus::restricted({"chat"});
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, context).error().message(),
            "policy denies handshake (empty grant intersection)");
  answer = TctStatus::restricted({});
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, context).error().kind,
            HandshakeError::Kind::PolicyDenied);

  failure = HandshakeError::state("status lookup unavailable");
  EXPECT_EQ(check(tct.tct, tct.grant_voucher, context).error(), *failure);

  // It is not asked about a token that fails an earlier check.
  asked.clear();
  EXPECT_FALSE(check(tct.tct, tct.grant_voucher, context, {"files:read"}).has_value());
  EXPECT_TRUE(asked.empty());
}

TEST_F(TokenExchange, ProofOfPossessionOverTheNonce) {
  const std::string nonce = "AAECAwQFBgcICQoLDA0ODw";  // 16 bytes
  const SigningKey p256 = test::p256_key(9);
  for (const SigningKey* key : std::to_array<const SigningKey*>({&issuer.key, &p256})) {
    auto signature = sign_pop(*key, nonce);
    ASSERT_TRUE(signature.has_value());
    const auto nonce_bytes = *b64url_decode(nonce);
    EXPECT_EQ(*signature, sign_digest_text(*key, sha256(ByteView(nonce_bytes))));
    EXPECT_EQ(signature->size(), key->suite() == KeySuite::P256 ? 91u : 86u);
    EXPECT_TRUE(verify_pop(key->verifying_key(), nonce, *signature).has_value());
  }

  const std::string signature = *sign_pop(issuer.key, nonce);
  const std::string refused = "pop signature verification failed";
  const std::pair<std::string, std::string> bad[] = {
      {"AAECAwQFBgcICQoLDA0ODx", signature},  // another nonce
      {nonce + "=", signature},               // own nonce not base64url
      {nonce, signature.substr(1)},           // not a signature text
      {nonce, "p256." + signature},           // prefix of the wrong suite
      {nonce, *sign_pop(third.key, nonce)},   // another key
  };
  for (const auto& [own_nonce, text] : bad)
    EXPECT_EQ(verify_pop(issuer.key.verifying_key(), own_nonce, text).error().message(), refused)
        << own_nonce << " " << text;

  EXPECT_EQ(sign_pop(issuer.key, "not base64url!").error().message(),
            "invalid envelope: pop nonce is not valid base64url");
  EXPECT_EQ(sign_pop(issuer.key, nonce + "=").error().kind, HandshakeError::Kind::InvalidEnvelope);
}

}  // namespace
}  // namespace zelk
