#include "tct/mint.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "base/clock.hpp"
#include "crypto/jws.hpp"
#include "formats/utf8.hpp"
#include "tct/verify.hpp"
#include "tct_test_util.hpp"

namespace zelk {
namespace {

using Kind = TctError::Kind;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

class Mint : public ::testing::Test {
 protected:
  SigningKey issuer = test::ed_key(1);
  SigningKey subject = test::ed_key(2);
  SigningKey p256_subject = test::p256_key(9);
  Uuid jti = *parse_uuid("6ba7b810-9dad-41d1-80b4-00c04fd430c8");

  TctIssueParams params_for(const SigningKey& who, std::vector<std::string> grants = {"read"}) {
    TctIssueParams p = new_tct_issue_params(issuer);
    p.subject = who.aid();
    p.audience = who.aid();
    p.subject_pubkey = who.verifying_key();
    p.grants = std::move(grants);
    p.iat = 1000;
    p.jti = jti;
    return p;
  }
  std::string error_of(TctIssueParams p) {
    auto r = mint_tct(std::move(p));
    return r ? "(minted)" : r.error().message();
  }
};

TEST_F(Mint, DefaultsOfNewParams) {
  const TctIssueParams p = new_tct_issue_params(issuer);
  EXPECT_EQ(&p.signer.get(), &issuer);
  EXPECT_EQ(p.ttl_secs, 3600);
  EXPECT_TRUE(p.with_voucher);
  EXPECT_FALSE(p.subject || p.audience || p.subject_pubkey || p.iat || p.jti);
  EXPECT_TRUE(p.grants.empty());
  const TctIssueParams q = set_issue_grants(new_tct_issue_params(issuer), {"a", "b"});
  EXPECT_EQ(q.grants, (std::vector<std::string>{"a", "b"}));
}

TEST_F(Mint, MintsBoundClaimsAndAMirroringVoucher) {
  for (const SigningKey* who : {&subject, &p256_subject}) {
    auto minted = mint_tct(params_for(*who, {"read", "write", "read"}));
    ASSERT_TRUE(minted.has_value()) << minted.error().message();
    const TctClaims& c = minted->claims;
    EXPECT_EQ(c.ver, "zelk/0.2");
    EXPECT_EQ(c.jti, jti);
    EXPECT_EQ(c.iss, issuer.aid());
    EXPECT_EQ(c.sub, who->aid());
    EXPECT_EQ(c.aud, who->aid());
    EXPECT_EQ(c.iat, 1000);
    EXPECT_EQ(c.exp, 4600);
    EXPECT_EQ(c.grants, (std::vector<std::string>{"read", "write", "read"}));
    EXPECT_EQ(c.cnf.jkt, *jwk_thumbprint(who->verifying_key()));
    EXPECT_FALSE(c.ext.has_value());

    // The token carries exactly these claims in canonical form.
    EXPECT_EQ(as_text(*verify_compact_jws(minted->tct, issuer.aid(), kTctTyp)),
              *canonical_tct_claims(c));
    const std::string payload = std::string(as_text(*decode_jws_payload_unverified(minted->tct)));
    EXPECT_TRUE(payload.starts_with(R"({"aud":)"));
    EXPECT_EQ(payload.find(R"("ext")"), std::string::npos);

    ASSERT_TRUE(minted->grant_voucher.has_value());
    auto voucher_payload =
        verify_compact_jws(*minted->grant_voucher, issuer.aid(), kGrantVoucherTyp);
    ASSERT_TRUE(voucher_payload.has_value());
    const GrantVoucherClaims v = *read_grant_voucher_claims(as_text(*voucher_payload));
    EXPECT_EQ(v, (GrantVoucherClaims{"zelk/0.2", c.iss, c.sub, c.grants, c.iat, c.exp, c.jti,
                                     std::nullopt}));
    EXPECT_EQ(std::string(as_text(*voucher_payload)).find(R"("ext")"), std::string::npos);
  }
}

TEST_F(Mint, IsDeterministicGivenIatAndJti) {
  for (const SigningKey* signer : {&issuer, &p256_subject}) {
    auto p = params_for(subject);
    TctIssueParams a{.signer = *signer,
                     .subject = p.subject,
                     .audience = p.audience,
                     .subject_pubkey = p.subject_pubkey,
                     .grants = p.grants,
                     .iat = p.iat,
                     .jti = p.jti};
    TctIssueParams b = a;
    auto first = mint_tct(std::move(a));
    auto second = mint_tct(std::move(b));
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->tct, second->tct);
    EXPECT_EQ(first->grant_voucher, second->grant_voucher);
  }
  auto without = params_for(subject);
  without.with_voucher = false;
  auto lone = mint_tct(std::move(without));
  ASSERT_TRUE(lone.has_value());
  EXPECT_FALSE(lone->grant_voucher.has_value());
  EXPECT_EQ(lone->tct, mint_tct(params_for(subject))->tct);
}

TEST_F(Mint, FillsJtiAndIatWhenAbsent) {
  auto p = params_for(subject);
  p.jti.reset();
  p.iat.reset();
  const std::int64_t before = *unix_now_secs();
  auto a = mint_tct(p);
  auto b = mint_tct(p);
  const std::int64_t after = *unix_now_secs();
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->claims.jti, b->claims.jti);
  EXPECT_EQ(a->claims.jti.bytes[6] >> 4, 4);       // version 4
  EXPECT_EQ(a->claims.jti.bytes[8] & 0xC0, 0x80);  // RFC 4122 variant
  EXPECT_GE(a->claims.iat, before);
  EXPECT_LE(a->claims.iat, after);
  EXPECT_EQ(a->claims.exp, a->claims.iat + 3600);
}

TEST_F(Mint, PresenceChecksComeFirst) {
  auto p = params_for(subject, {});
  p.subject_pubkey.reset();
  EXPECT_EQ(error_of(p), "missing required field: subject_pubkey");
  p.audience.reset();
  EXPECT_EQ(error_of(p), "missing required field: audience");
  p.subject.reset();
  EXPECT_EQ(error_of(p), "missing required field: subject");
  p = params_for(subject);
  p.subject.reset();
  EXPECT_EQ(error_of(p), "missing required field: subject");
  EXPECT_EQ(error_of(params_for(subject, {})), "TCT grants must be non-empty");
}

TEST_F(Mint, RefusesEveryWhiteSpaceCharacterInAGrant) {
  const char32_t white[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                            0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                            0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  static_assert(std::size(white) == 25);
  for (char32_t c : white) {
    std::string grant = "read";
    append_utf8(c, grant);
    grant += "x";
    auto r = mint_tct(params_for(subject, {"ok", grant}));
    ASSERT_FALSE(r.has_value()) << static_cast<unsigned>(c);
    EXPECT_EQ(r.error(), TctError::whitespace_in_grant(grant));
    EXPECT_EQ(r.error().message(), "TCT grant must not contain whitespace: `" + grant + "`");
  }
  // Look-alikes, the neighbours of the ranges, invalid UTF-8 bytes and an empty grant pass.
  for (char32_t c : {0x08, 0x0E, 0x1C, 0x1F, 0x84, 0x9F, 0x180E, 0x1FFF, 0x200B, 0x2027, 0x202A,
                     0x2060, 0x3001, 0xFEFF}) {
    std::string grant = "a";
    append_utf8(c, grant);
    EXPECT_EQ(error_of(params_for(subject, {grant})), "(minted)") << static_cast<unsigned>(c);
  }
  EXPECT_EQ(error_of(params_for(subject, {"", std::string("\xC2", 1), "\xE3\x80"})), "(minted)");
  // The first offending grant in list order is named.
  EXPECT_EQ(error_of(params_for(subject, {"ok", "b c", "d e"})),
            "TCT grant must not contain whitespace: `b c`");
}

TEST_F(Mint, AudienceMustEqualSubjectAsText) {
  auto p = params_for(subject);
  p.subject = test::long_form(subject.aid());
  EXPECT_EQ(error_of(p), "TCT audience does not match");
  p.audience = test::long_form(subject.aid());
  auto long_form = mint_tct(p);  // the long form throughout is fine
  ASSERT_TRUE(long_form.has_value());
  EXPECT_EQ(long_form->claims.sub.text(), test::long_form(subject.aid()).text());
  EXPECT_EQ(long_form->claims.cnf.jkt, *jwk_thumbprint(subject.verifying_key()));
  p = params_for(subject);
  p.audience = issuer.aid();
  EXPECT_EQ(error_of(p), "TCT audience does not match");
}

TEST_F(Mint, SubjectKeyMustBeTheKeyTheSubjectNames) {
  auto p = params_for(subject);
  p.subject_pubkey = issuer.verifying_key();
  EXPECT_EQ(error_of(p), "TCT cnf.jkt does not match the subject key");
  p.subject_pubkey = p256_subject.verifying_key();
  EXPECT_EQ(error_of(p), "TCT cnf.jkt does not match the subject key");
  p = params_for(p256_subject);
  p.subject_pubkey = subject.verifying_key();
  EXPECT_EQ(error_of(p), "TCT cnf.jkt does not match the subject key");
}

TEST_F(Mint, ExpirySaturates) {
  const struct {
    std::int64_t iat, ttl, exp;
  } cases[] = {
      {1000, 0, 1000},  {1000, -5000, -4000}, {1, kMax, kMax},  {kMax, kMax, kMax},
      {-1, kMin, kMin}, {kMin, -1, kMin},     {kMin, kMax, -1},
  };
  for (const auto& c : cases) {
    auto p = params_for(subject);
    p.iat = c.iat;
    p.ttl_secs = c.ttl;
    auto r = mint_tct(std::move(p));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->claims.exp, c.exp) << c.iat << " + " << c.ttl;
  }
  // The saturated expiry is written rounded up past the i64 range, so the token never verifies.
  auto p = params_for(subject);
  p.iat = 1;
  p.ttl_secs = kMax;
  auto minted = mint_tct(std::move(p));
  ASSERT_TRUE(minted.has_value());
  auto verified = verify_tct_jws(
      minted->tct, {.issuer = issuer.aid(), .expected_audience = subject.aid(), .now = 1});
  ASSERT_FALSE(verified.has_value());
  EXPECT_TRUE(verified.error().message().starts_with(
      "claims malformed: invalid value: integer `9223372036854776000`, expected i64 at line 1 "))
      << verified.error().message();
}

}  // namespace
}  // namespace zelk
