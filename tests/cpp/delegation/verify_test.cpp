#include "delegation/verify.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "delegation_fixture.hpp"
#include "formats/base64url.hpp"

namespace zelk {
namespace {

using test::json_str;
using test::kNow;
constexpr std::string_view kJti1 = "11111111-1111-4111-8111-111111111111";
constexpr std::string_view kJti2 = "22222222-2222-4222-8222-222222222222";
constexpr std::string_view kJti3 = "33333333-3333-4333-8333-333333333333";

// The settings of one verification; the verifier defaults to the grantor.
struct Settings {
  std::uint64_t max_hops = 0;
  const RevocationCheck* revocation = nullptr;
  const HopRevocationCheck* hop_revocation = nullptr;
  std::int64_t now = kNow;
  const Aid* verifier = nullptr;
};

class DelegationVerify : public ::testing::Test {
 protected:
  test::Parties p;

  std::string verify(const std::string& token, Settings run = {}) const {
    const DelegationVerifyOptions options{
        .verifier = run.verifier ? *run.verifier : p.grantor.aid(),
        .now = run.now,
        .max_hops = run.max_hops,
        .revocation = run.revocation,
        .hop_revocation = run.hop_revocation};
    auto r = verify_delegation_token(token, options);
    return r ? "(verified)" : r.error().message();
  }
  std::string single(const std::function<void(DelegationClaims&)>& edit,
                     const SigningKey* signer = nullptr) const {
    DelegationClaims c = p.first_hop();
    edit(c);
    return test::Parties::sign(signer ? *signer : p.alice, c);
  }
  std::string with_voucher(const std::function<void(GrantVoucherClaims&)>& edit) const {
    GrantVoucherClaims v = p.voucher_claims(p.alice);
    edit(v);
    return single([&](DelegationClaims& c) { c.voucher = p.voucher(v); });
  }
  std::string forged(const std::function<std::string(std::string)>& edit_payload,
                     std::string_view typ = kDelegationTyp) const {
    return test::forge_delegation(p.alice, edit_payload(test::canonical_payload(p.first_hop())),
                                  typ);
  }
  std::string forged_voucher(const std::function<std::string(std::string)>& edit_payload) const {
    const std::string text =
        *json::canonical_json(grant_voucher_claims_to_value(p.voucher_claims(p.alice)));
    const std::string voucher = test::forge_typed(p.grantor, kGrantVoucherTyp, edit_payload(text));
    return single([&](DelegationClaims& c) { c.voucher = voucher; });
  }

  // Chain hops: alice -> bob carries the voucher, then bob -> carol, then carol -> dave.
  DelegationClaims hop0() const {
    DelegationClaims c = p.first_hop();
    c.jti = test::uuid(kJti1);
    return c;
  }
  DelegationClaims next_hop(const SigningKey& from, const SigningKey& to,
                            std::vector<std::string> chain, std::string_view jti) const {
    DelegationClaims c = p.hop(from, to);
    c.exp = kNow + 200;
    c.jti = test::uuid(jti);
    c.chain_hash = *compute_chain_hash(chain);
    c.chain = std::move(chain);
    return c;
  }
  // A one-entry chain whose entry and outer claims the test may edit before signing.
  std::string chain1(const std::function<void(DelegationClaims&)>& edit_entry,
                     const std::function<void(DelegationClaims&)>& edit_outer,
                     const SigningKey* outer_signer = nullptr) const {
    DelegationClaims e = hop0();
    edit_entry(e);
    const std::string t0 = test::Parties::sign(p.alice, e);
    DelegationClaims o = next_hop(p.bob, p.carol, {t0}, kJti2);
    edit_outer(o);
    return test::Parties::sign(outer_signer ? *outer_signer : p.bob, o);
  }
  std::string chain1() const {
    return chain1([](auto&) {}, [](auto&) {});
  }
  std::string chain2(const std::function<void(DelegationClaims&)>& edit_middle) const {
    const std::string t0 = test::Parties::sign(p.alice, hop0());
    DelegationClaims m = next_hop(p.bob, p.carol, {t0}, kJti2);
    edit_middle(m);
    const std::string t1 = test::Parties::sign(p.bob, m);
    DelegationClaims o = next_hop(p.carol, p.dave, {t0, t1}, kJti3);
    o.exp = kNow + 100;
    return test::Parties::sign(p.carol, o);
  }
};

TEST_F(DelegationVerify, SingleHopStepsInOrder) {
  const auto none = [](auto&) {};
  const std::int64_t voucher_exp = p.voucher_claims(p.alice).exp;
  const struct {
    const char* what;
    std::string token;
    std::string message;
  } cases[] = {
      {"valid", single(none), "(verified)"},
      {"a TCT presented", forged([](std::string t) { return t; }, kTctTyp),
       "JWS typ header mismatch: expected zelk-delegation+jwt, got zelk-tct+jwt"},
      {"two segments", "abc.def",
       "compact JWS malformed: expected exactly three non-empty segments"},
      {"two segments of a TCT",
       b64url_encode(as_bytes(test::header_text("EdDSA", kTctTyp))) + ".e30",
       "JWS typ header mismatch: expected zelk-delegation+jwt, got zelk-tct+jwt"},
      {"payload with padding",
       b64url_encode(as_bytes(test::header_text("EdDSA", kDelegationTyp))) + ".e30=.sig",
       "compact JWS malformed: payload segment: base64url padding is forbidden in ZELK"},
      {"repeated member",
       forged([](std::string) { return std::string(R"({"ver":"a","ver":"b"})"); }),
       "delegation claims malformed: duplicate field `ver` at line 1 column 16"},
      {"undeclared member",
       forged([](std::string t) { return test::with_first_member(t, R"("nbf":1)"); }),
       "unknown field: nbf"},
      {"member inside cnf", forged([](std::string t) {
         return t.replace(t.find(R"("cnf":{)") + 7, 0, R"("alg":"x",)");
       }),
       "unknown field: alg"},
      {"array payload", forged([](std::string) { return std::string("[]"); }),
       "delegation claims malformed: invalid length 0, expected struct DelegationClaims with 12 "
       "elements at line 1 column 2"},
      {"signed by another key", single(none, &p.carol), "delegation signature is invalid"},
      {"alg of the other suite",
       test::forge(p.alice, test::header_text("ES256", kDelegationTyp),
                   test::canonical_payload(p.first_hop())),
       "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this AID, "
       "got ES256"},
      {"version", single([](auto& c) { c.ver = "zelk/0.1"; }),
       "delegation token version is not supported"},
      {"audience", single([&](auto& c) { c.aud = p.bob.aid(); }), "delegation audience mismatch"},
      {"audience in the long form",
       single([&](auto& c) { c.aud = test::long_form(p.grantor.aid()); }),
       "delegation audience mismatch"},
      {"expires now", single([](auto& c) { c.exp = kNow; }), "(verified)"},
      {"expired", single([](auto& c) { c.exp = kNow - 1; }),
       "delegation token or grant proof has expired"},
      {"no voucher", single([](auto& c) { c.voucher.reset(); }), "delegation voucher is invalid"},
      {"voucher by another agent",
       single([&](auto& c) { c.voucher = p.voucher(p.voucher_claims(p.alice), &p.carol); }),
       "signature verification failed"},
      {"voucher of the wrong type", single([&](auto& c) {
         c.voucher = test::forge(
             p.grantor, test::header_text("EdDSA", kTctTyp),
             *json::canonical_json(grant_voucher_claims_to_value(p.voucher_claims(p.alice))));
       }),
       "JWS typ header mismatch: expected zelk-grant+jwt, got zelk-tct+jwt"},
      {"voucher for another subject", with_voucher([&](auto& v) { v.sub = p.carol.aid(); }),
       "delegation voucher is invalid"},
      {"voucher version", with_voucher([](auto& v) { v.ver = "zelk/0.3"; }),
       "delegation token version is not supported"},
      {"voucher undeclared member",
       forged_voucher([](std::string t) { return test::with_first_member(t, R"("x":1)"); }),
       "unknown field: x"},
      {"voucher repeated member",
       forged_voucher([](std::string t) { return test::with_first_member(t, R"("exp":1)"); }),
       "delegation voucher is invalid"},
      {"voucher issuer text", with_voucher([&](auto& v) { v.iss = p.alice.aid(); }),
       "delegation voucher is invalid"},
      {"voucher empty grants", with_voucher([](auto& v) { v.grants.clear(); }),
       "delegation voucher is invalid"},
      {"voucher expired", with_voucher([](auto& v) { v.exp = kNow - 1; }),
       "delegation token or grant proof has expired"},
      {"expires with its voucher", single([&](auto& c) { c.exp = voucher_exp; }), "(verified)"},
      {"outlives its voucher", single([&](auto& c) { c.exp = voucher_exp + 1; }),
       "delegation token or grant proof has expired"},
      {"scope not granted", single([](auto& c) { c.scope = {"read "}; }),
       "delegation scope exceeds grant proof capabilities"},
      {"scope repeats a grant", single([](auto& c) {
         c.scope = {"read", "read"};
       }),
       "(verified)"},
      {"empty scope", single([](auto& c) { c.scope.clear(); }),
       "delegation scope must be non-empty"},
      {"self-delegation", single([&](auto& c) {
         c.sub = p.alice.aid();
         c.cnf.jkt = *jwk_thumbprint(p.alice.verifying_key());
       }),
       "self-delegation is forbidden"},
      {"cnf of another key",
       single([&](auto& c) { c.cnf.jkt = *jwk_thumbprint(p.carol.verifying_key()); }),
       "delegation cnf is malformed"},
  };
  for (const auto& c : cases) EXPECT_EQ(verify(c.token), c.message) << c.what;
}

TEST_F(DelegationVerify, ResultHoldsTheTokenItsClaimsAndTheVoucher) {
  const std::string token = test::Parties::sign(p.alice, p.first_hop());
  auto r = verify_delegation_token(token, {.verifier = p.grantor.aid(), .now = kNow});
  ASSERT_TRUE(r.has_value()) << r.error().message();
  EXPECT_EQ(r->token(), token);
  EXPECT_EQ(r->claims(), p.first_hop());
  EXPECT_EQ(r->voucher(), p.voucher_claims(p.alice));

  const std::string chained = chain1();
  auto c =
      verify_delegation_token(chained, {.verifier = p.grantor.aid(), .now = kNow, .max_hops = 3});
  ASSERT_TRUE(c.has_value()) << c.error().message();
  EXPECT_EQ(c->claims().iss, p.bob.aid());
  EXPECT_EQ(c->claims().sub, p.carol.aid());
  EXPECT_EQ(c->voucher(), p.voucher_claims(p.alice));
}

TEST_F(DelegationVerify, P256PartiesVerify) {
  DelegationClaims c = p.hop(p.p256, p.bob);
  c.voucher = p.voucher(p.voucher_claims(p.p256));
  EXPECT_EQ(verify(test::Parties::sign(p.p256, c)), "(verified)");
}

TEST_F(DelegationVerify, PathChoiceBySettings) {
  const std::string with_jti = single([](auto& c) { c.jti = test::uuid(kJti1); });
  const std::string empty_chain = single([](auto& c) {
    c.chain = std::vector<std::string>{};
    c.chain_hash = "not looked at";
  });
  EXPECT_EQ(verify(with_jti), "delegation claims malformed: jti claim requires multi-hop opt-in");
  EXPECT_EQ(verify(empty_chain), "multi-hop delegation is not supported");
  EXPECT_EQ(verify(chain1()), "multi-hop delegation is not supported");
  EXPECT_EQ(verify(with_jti, {.max_hops = 1}), "(verified)");
  EXPECT_EQ(verify(empty_chain, {.max_hops = 1}), "(verified)");
  // The limit is checked before any entry is looked at.
  DelegationClaims bogus = p.hop(p.bob, p.carol);
  bogus.chain = std::vector<std::string>{"a.b.c", "d.e.f"};
  bogus.jti = test::uuid(kJti2);
  EXPECT_EQ(verify(test::Parties::sign(p.bob, bogus), {.max_hops = 3}),
            "delegation hop limit exceeded");
}

TEST_F(DelegationVerify, HopLimitBoundaryWithoutWrapAround) {
  const std::string one = chain1();
  const std::string two = chain2([](auto&) {});
  constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();
  const struct {
    std::uint64_t max_hops;
    std::string one, two;
  } cases[] = {
      {0, "multi-hop delegation is not supported", "multi-hop delegation is not supported"},
      {1, "delegation hop limit exceeded", "delegation hop limit exceeded"},
      {2, "delegation hop limit exceeded", "delegation hop limit exceeded"},
      {3, "(verified)", "delegation hop limit exceeded"},
      {4, "(verified)", "(verified)"},
      {kHuge, "(verified)", "(verified)"},
      {kHuge - 1, "(verified)", "(verified)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(verify(one, {.max_hops = c.max_hops}), c.one) << c.max_hops;
    EXPECT_EQ(verify(two, {.max_hops = c.max_hops}), c.two) << c.max_hops;
  }
}

TEST_F(DelegationVerify, ChainFaultsPerHop) {
  const auto none = [](auto&) {};
  const std::string t0 = test::Parties::sign(p.alice, hop0());
  const struct {
    const char* what;
    std::string token;
    std::string message;
  } cases[] = {
      {"valid", chain1(), "(verified)"},
      {"no chain_hash", chain1(none, [](auto& o) { o.chain_hash.reset(); }),
       "delegation chain_hash mismatch"},
      {"wrong chain_hash", chain1(none, [](auto& o) { o.chain_hash = *compute_chain_hash({}); }),
       "delegation chain_hash mismatch"},
      {"entry signed by another key",
       chain1(none,
              [&](auto& o) {
                DelegationClaims e = hop0();
                o.chain = std::vector<std::string>{test::Parties::sign(p.carol, e)};
                o.chain_hash = *compute_chain_hash(*o.chain);
              }),
       "delegation signature is invalid"},
      {"entry audience", chain1([&](auto& e) { e.aud = p.bob.aid(); }, none),
       "delegation audience mismatch"},
      {"outer audience", chain1(none, [&](auto& o) { o.aud = p.alice.aid(); }),
       "delegation audience mismatch"},
      {"entry without jti", chain1([](auto& e) { e.jti.reset(); }, none),
       "delegation voucher is invalid"},
      {"outer without jti", chain1(none, [](auto& o) { o.jti.reset(); }),
       "delegation voucher is invalid"},
      {"repeated jti", chain1(none, [](auto& o) { o.jti = test::uuid(kJti1); }),
       "delegation voucher is invalid"},
      {"entry expired",
       chain1([](auto& e) { e.exp = kNow - 1; }, [](auto& o) { o.exp = kNow - 1; }),
       "delegation token or grant proof has expired"},
      {"first hop without voucher", chain1([](auto& e) { e.voucher.reset(); }, none),
       "delegation voucher is invalid"},
      {"first hop scope beyond the voucher", chain1([](auto& e) { e.scope = {"delete"}; }, none),
       "delegation scope exceeds grant proof capabilities"},
      {"voucher on a later hop", chain1(none, [&](auto& o) { o.voucher = p.voucher(); }),
       "delegation voucher is invalid"},
      {"wrong issuer link",
       chain1(
           none, [&](auto& o) { o.iss = p.dave.aid(); }, &p.dave),
       "delegation voucher is invalid"},
      {"later expiry", chain1(none, [](auto& o) { o.exp = kNow + 301; }),
       "delegation token or grant proof has expired"},
      {"same expiry", chain1(none, [](auto& o) { o.exp = kNow + 300; }), "(verified)"},
      {"widened scope",
       chain1(none,
              [](auto& o) {
                o.scope = {"read", "write"};
              }),
       "delegation scope exceeds grant proof capabilities"},
      {"inner chain of another token", chain2([&](auto& m) {
         m.chain = std::vector<std::string>{t0 + "x"};
         m.chain_hash = *compute_chain_hash(*m.chain);
       }),
       "delegation voucher is invalid"},
      {"inner chain too long", chain2([&](auto& m) {
         m.chain = std::vector<std::string>{t0, t0};
         m.chain_hash = *compute_chain_hash(*m.chain);
       }),
       "delegation voucher is invalid"},
      {"inner chain without hash", chain2([](auto& m) { m.chain_hash.reset(); }),
       "delegation voucher is invalid"},
      {"inner chain with a wrong hash", chain2([](auto& m) { m.chain_hash = "x"; }),
       "delegation voucher is invalid"},
      {"inner entry without a chain of its own", chain2([](auto& m) {
         m.chain.reset();
         m.chain_hash.reset();
       }),
       "(verified)"},
  };
  for (const auto& c : cases) EXPECT_EQ(verify(c.token, {.max_hops = 4}), c.message) << c.what;
}

// Each hop is read, verified and checked before the next is looked at, so with faults on several
// hops the earliest one is reported; each control row shows the later fault on its own.
TEST_F(DelegationVerify, ChainReportsTheEarliestFaultyHop) {
  const auto none = [](auto&) {};
  const std::string t0 = test::Parties::sign(p.alice, hop0());
  DelegationClaims misaddressed = hop0();
  misaddressed.aud = p.bob.aid();
  const std::string t0_misaddressed = test::Parties::sign(p.alice, misaddressed);
  DelegationClaims middle = next_hop(p.bob, p.carol, {t0}, kJti2);
  const std::string t1 = test::Parties::sign(p.bob, middle);
  middle.chain_hash = "x";
  const std::string t1_bad_inner = test::Parties::sign(p.bob, middle);
  // carol -> dave over `entries`, optionally addressed to alice instead of the grantor.
  const auto outer_over = [&](std::vector<std::string> entries, bool misaddressed_outer) {
    DelegationClaims o = next_hop(p.carol, p.dave, std::move(entries), kJti3);
    o.exp = kNow + 100;
    if (misaddressed_outer) o.aud = p.alice.aid();
    return test::Parties::sign(p.carol, o);
  };
  const std::string expired = "delegation token or grant proof has expired";
  const std::string bad_signature = "delegation signature is invalid";
  const std::string misaddressed_text = "delegation audience mismatch";
  const std::string voucher_invalid = "delegation voucher is invalid";
  const std::string unreadable =
      "compact JWS malformed: payload segment: invalid base64url character";
  const struct {
    const char* what;
    std::string token;
    const std::string& message;
  } cases[] = {
      {"outer badly signed", chain1(none, none, &p.dave), bad_signature},
      {"first hop expired, outer badly signed",
       chain1([](auto& e) { e.exp = kNow - 1; }, none, &p.dave), expired},
      {"outer badly signed and misaddressed",
       chain1(
           none, [&](auto& o) { o.aud = p.alice.aid(); }, &p.dave),
       bad_signature},
      {"second entry unreadable", outer_over({t0, "x.y.z"}, false), unreadable},
      {"first hop misaddressed, second entry unreadable",
       outer_over({t0_misaddressed, "x.y.z"}, false), misaddressed_text},
      {"outer misaddressed", outer_over({t0, t1}, true), misaddressed_text},
      {"middle inner chain hash wrong, outer misaddressed", outer_over({t0, t1_bad_inner}, true),
       voucher_invalid},
  };
  for (const auto& c : cases) EXPECT_EQ(verify(c.token, {.max_hops = 4}), c.message) << c.what;
}

TEST_F(DelegationVerify, RevocationIsConsultedLastRootThenEachHop) {
  std::vector<std::string> calls;
  bool root_answer = false;
  Uuid revoked_hop{};
  const RevocationCheck root = [&](const Uuid& jti) {
    calls.push_back("root " + jti.to_string());
    return root_answer;
  };
  const HopRevocationCheck hop = [&](std::string_view issuer, const Uuid& jti) {
    calls.push_back(std::string(issuer) + " " + jti.to_string());
    return jti == revoked_hop;
  };
  const Settings run{.max_hops = 3, .revocation = &root, .hop_revocation = &hop};
  const std::string chained = chain1();

  EXPECT_EQ(verify(chained, run), "(verified)");
  const std::vector<std::string> all{"root " + std::string(test::kSrcJti),
                                     p.alice.aid_text() + " " + std::string(kJti1),
                                     p.bob.aid_text() + " " + std::string(kJti2)};
  EXPECT_EQ(calls, all);

  for (std::string_view jti : {kJti1, kJti2}) {
    calls.clear();
    revoked_hop = test::uuid(jti);
    EXPECT_EQ(verify(chained, run), "source TCT has been revoked") << jti;
  }
  revoked_hop = {};

  calls.clear();
  root_answer = true;
  EXPECT_EQ(verify(chained, run), "source TCT has been revoked");
  EXPECT_EQ(calls, std::vector<std::string>{all[0]});  // the hops are not asked once it says yes

  // Any other failure wins and no check is consulted.
  calls.clear();
  EXPECT_EQ(verify(chain1([](auto&) {}, [](auto& o) { o.exp = kNow + 301; }), run),
            "delegation token or grant proof has expired");
  EXPECT_EQ(verify(single([](auto&) {}, &p.carol), run), "delegation signature is invalid");
  EXPECT_TRUE(calls.empty());

  // A single hop consults the root check only.
  EXPECT_EQ(verify(single([](auto&) {}), run), "source TCT has been revoked");
  EXPECT_EQ(calls, std::vector<std::string>{all[0]});
  calls.clear();
  root_answer = false;
  revoked_hop = test::uuid(kJti1);
  EXPECT_EQ(verify(single([](auto& c) { c.jti = test::uuid(kJti1); }), run), "(verified)");
  EXPECT_EQ(calls, std::vector<std::string>{all[0]});
}

TEST_F(DelegationVerify, TwoEd25519FormsAreDifferentVerifiers) {
  const Aid long_grantor = test::long_form(p.grantor.aid());
  const std::string token = test::Parties::sign(p.alice, p.first_hop());
  EXPECT_EQ(verify(token, {.verifier = &long_grantor}), "delegation audience mismatch");
  // Addressed to the long form, the voucher's signature holds (same key) but its issuer text
  // does not match.
  EXPECT_EQ(verify(single([&](auto& c) { c.aud = long_grantor; }), {.verifier = &long_grantor}),
            "delegation voucher is invalid");
}

}  // namespace
}  // namespace zelk
