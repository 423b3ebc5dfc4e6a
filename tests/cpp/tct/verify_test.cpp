#include "tct/verify.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "crypto/jws.hpp"
#include "tct/mint.hpp"
#include "tct_fixture.hpp"
#include "tct_test_util.hpp"

namespace zelk {
namespace {

using test::json_str;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
using test::kJti;
using test::kNow;
const std::string kTctHeader = test::header_text("EdDSA", "zelk-tct+jwt");

class Verify : public test::HandWrittenTcts {
 protected:
  // Verifies as the audience `subject`, against `issuer`, at kNow, unless told otherwise.
  std::string error_of(const std::string& tct, const Aid* iss = nullptr, const Aid* aud = nullptr,
                       std::int64_t now = kNow, std::int64_t skew = 0,
                       std::optional<std::int64_t> manifest = std::nullopt) {
    const TctVerifyOptions options{.issuer = iss ? *iss : issuer.aid(),
                                   .expected_audience = aud ? *aud : subject.aid(),
                                   .now = now,
                                   .manifest_expires_at = manifest,
                                   .clock_skew_secs = skew};
    auto r = verify_tct_jws(tct, options);
    return r ? "(verified)" : r.error().message();
  }
};

TEST_F(Verify, MintedTokensVerifyForBothSuites) {
  for (const SigningKey* signer : {&issuer, &p256}) {
    for (const SigningKey* who : {&subject, &p256}) {
      TctIssueParams p = new_tct_issue_params(*signer);
      p.subject = who->aid();
      p.audience = who->aid();
      p.subject_pubkey = who->verifying_key();
      p.grants = {"read", "write"};
      auto minted = mint_tct(std::move(p));
      ASSERT_TRUE(minted.has_value());
      auto now = minted->claims.iat;
      const TctVerifyOptions options{
          .issuer = signer->aid(), .expected_audience = who->aid(), .now = now};
      auto verified = verify_tct_jws(minted->tct, options);
      ASSERT_TRUE(verified.has_value()) << verified.error().message();
      EXPECT_EQ(verified->token(), minted->tct);
      EXPECT_EQ(verified->claims(), minted->claims);
      auto voucher = verify_grant_voucher_jws(*minted->grant_voucher, signer->aid());
      ASSERT_TRUE(voucher.has_value()) << voucher.error().message();
      EXPECT_EQ(voucher->claims().src_jti, minted->claims.jti);
    }
  }
}

TEST_F(Verify, HandWrittenTokenVerifiesAsReceived) {
  // Member order, spacing and an upper-case jti are not canonical; the signature covers the text
  // as sent, and the token is handed back byte for byte.
  const std::string text = " {\n \"exp\": " + std::to_string(kNow) + ", " +
                           claims()
                               .drop("exp")
                               .set("jti", json_str("0F8FAD5BD9CB469FA16570867728950E"))
                               .set("ext", R"({"anything":[1,{"goes":true}]})")
                               .text()
                               .substr(1) +
                           " ";
  const std::string tct = test::forge(issuer, kTctHeader, text);
  auto verified = verify_tct_jws(
      tct, {.issuer = issuer.aid(), .expected_audience = subject.aid(), .now = kNow});
  ASSERT_TRUE(verified.has_value()) << verified.error().message();
  EXPECT_EQ(verified->token(), tct);
  EXPECT_EQ(verified->claims().jti.to_string(), kJti);
  EXPECT_EQ(verified->claims().exp, kNow);
  ASSERT_TRUE(verified->claims().ext.has_value());
  // A header in array form is the same header.
  const std::string array_header =
      test::forge(issuer, R"(["EdDSA","zelk-tct+jwt"])", claims().text());
  EXPECT_EQ(error_of(array_header), "(verified)");
}

TEST_F(Verify, SignerMustBeTheIssuer) {
  // Signed by another key while naming the issuer.
  EXPECT_EQ(error_of(token(other, claims())), "signature verification failed");
  // Signed by the issuer's key while naming another AID.
  EXPECT_EQ(error_of(token(claims().set("iss", json_str(other.aid_text())))),
            "TCT issuer does not match the verifying key");
  // The verifying side's road: the issuer is the token's own iss, so a token signed with any
  // other key fails at the signature.
  const Aid other_aid = other.aid();
  EXPECT_EQ(error_of(token(claims().set("iss", json_str(other.aid_text()))), &other_aid),
            "signature verification failed");
  EXPECT_EQ(error_of(token(other, claims().set("iss", json_str(other.aid_text()))), &other_aid),
            "(verified)");
  // A P-256 issuer with a token that claims EdDSA.
  const Aid p256_aid = p256.aid();
  const std::string wrong_alg =
      test::forge(p256, kTctHeader, claims().set("iss", json_str(p256.aid_text())).text());
  EXPECT_EQ(error_of(wrong_alg, &p256_aid),
            "JWS alg header does not match the signer AID's algorithm: expected ES256 for this "
            "AID, got EdDSA");
  EXPECT_EQ(error_of(token(p256, claims().set("iss", json_str(p256.aid_text()))), &p256_aid),
            "(verified)");
}

TEST_F(Verify, OtherTokenTypesAreRefusedBeforeTheirClaimsAreRead) {
  const std::string typ_grant =
      "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt";
  // A genuine grant voucher presented as a TCT.
  TctIssueParams p = new_tct_issue_params(issuer);
  p.subject = subject.aid();
  p.audience = subject.aid();
  p.subject_pubkey = subject.verifying_key();
  p.grants = {"read"};
  p.iat = kNow;
  auto minted = mint_tct(std::move(p));
  ASSERT_TRUE(minted.has_value());
  EXPECT_EQ(error_of(*minted->grant_voucher), typ_grant);
  // And a TCT presented as a voucher.
  auto as_voucher = verify_grant_voucher_jws(minted->tct, issuer.aid());
  EXPECT_EQ(as_voucher.error().message(),
            "JWS typ header mismatch: expected zelk-grant+jwt, got zelk-tct+jwt");
  // Claims a TCT would refuse do not matter under another typ: the typ is refused first.
  const std::string junk = claims().add("x", "1").add("ver", "2").text();
  EXPECT_EQ(error_of(test::forge(issuer, test::header_text("EdDSA", "zelk-delegation+jwt"), junk)),
            "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-delegation+jwt");
  EXPECT_EQ(error_of(test::forge(other, test::header_text("EdDSA", "zelk-grant+jwt"), junk)),
            typ_grant);
  EXPECT_EQ(error_of(test::forge(issuer, test::header_text("EdDSA", "ZELK-TCT+JWT"), junk)),
            "JWS typ header mismatch: expected zelk-tct+jwt, got ZELK-TCT+JWT");
  // A header with no typ, or one that is no JSON, skips the pre-check and fails strictly.
  EXPECT_EQ(error_of(test::forge(issuer, R"({"alg":"EdDSA"})", junk)),
            "compact JWS malformed: protected header: missing field `typ` at line 1 column 15");
  EXPECT_EQ(error_of(test::forge(issuer, "not json", junk)),
            "compact JWS malformed: protected header: expected ident at line 1 column 2");
}

TEST_F(Verify, ExtraHeaderMembersAreRefused) {
  const std::string with_kid = R"({"alg":"EdDSA","typ":"zelk-tct+jwt","kid":"k1"})";
  EXPECT_EQ(error_of(test::forge(issuer, with_kid, claims().text())),
            "compact JWS malformed: protected header: unknown field `kid`, expected `alg` or `typ` "
            "at line 1 column 41");
  const std::string with_crit = R"({"alg":"EdDSA","crit":[],"typ":"zelk-tct+jwt"})";
  EXPECT_EQ(error_of(test::forge(issuer, with_crit, claims().text())),
            "compact JWS malformed: protected header: unknown field `crit`, expected `alg` or "
            "`typ` at line 1 column 21");
  const std::string twice = R"({"alg":"EdDSA","typ":"zelk-tct+jwt","typ":"zelk-tct+jwt"})";
  EXPECT_EQ(error_of(test::forge(issuer, twice, claims().text())),
            "compact JWS malformed: protected header: duplicate field `typ` at line 1 column 41");
}

TEST_F(Verify, DuplicateClaimsAtAnyDepthFailBeforeTheSignature) {
  const struct {
    test::ClaimsText text;
    std::string message;
  } cases[] = {
      {claims().add("ver", json_str("zelk/0.2")), "duplicate field `ver`"},
      {claims().set("cnf", R"({"jkt":"a","jkt":"b"})"), "duplicate field `jkt`"},
      {claims().set("ext", R"({"a":{"b":1,"b":2}})"), "duplicate field `b`"},
      {claims().set("ext", R"({"list":[{},{"c":1,"c":1}]})"), "duplicate field `c`"},
      // The scan runs over the whole text before the undeclared-member check.
      {claims().add("x", "1").add("grants", "[]"), "duplicate field `grants`"},
  };
  for (const auto& c : cases) {
    const std::string text = c.text.text();
    const std::string message = error_of(token(other, c.text));  // a signature that fails
    EXPECT_TRUE(message.starts_with("claims malformed: " + c.message + " at line 1 column "))
        << message;
    EXPECT_EQ(error_of(token(c.text)), message);  // and one that verifies
  }
  // The exact position: just after the repeated name.
  const std::string text = claims().add("ver", "1").text();
  const std::size_t after_name = text.rfind("\"ver\"") + 5;
  EXPECT_EQ(
      error_of(token(other, claims().add("ver", "1"))),
      "claims malformed: duplicate field `ver` at line 1 column " + std::to_string(after_name));
  // The same name in different objects is no duplicate.
  EXPECT_EQ(error_of(token(claims().set("ext", R"({"jkt":{"jkt":[{"jkt":1}]}})"))), "(verified)");
}

TEST_F(Verify, UndeclaredClaimsFailBeforeTheSignatureTopLevelOnly) {
  EXPECT_EQ(error_of(token(other, claims().add("x", "1"))), "unknown field: x");
  EXPECT_EQ(error_of(token(claims().add("x", "1"))), "unknown field: x");
  // The first undeclared member in text order is named; names compare exactly.
  EXPECT_EQ(error_of(token(other, claims().add("VER", "1").add("y", "2"))), "unknown field: VER");
  // Inside cnf the pre-check does not look; the strict read after the signature does.
  EXPECT_EQ(error_of(token(other, claims().set("cnf", R"({"jkt":"t","z":1})"))),
            "signature verification failed");
  EXPECT_EQ(error_of(token(claims().set("cnf", R"({"jkt":"t","z":1})"))), "unknown field: z");
  // Inside ext any names are allowed.
  EXPECT_EQ(error_of(token(claims().set("ext", R"({"x":1})"))), "(verified)");
  // A well-formed payload with a bad signature is refused at the signature.
  EXPECT_EQ(error_of(token(other, claims())), "signature verification failed");
  // The name comes from the parsed value, not from a reader message, so a backquote stays in it.
  EXPECT_EQ(error_of(token(other, claims().add("a`b", "1"))), "unknown field: a`b");
}

TEST_F(Verify, PreCheckRefusesOnlyWhatItCanJudge) {
  // With a signature that fails, whatever the pre-check lets through is refused at the signature.
  const struct {
    std::string payload;
    std::string message;
  } cases[] = {
      // No complete value at the start: the scan refuses it.
      {"{\"ver\":", "claims malformed: EOF while parsing a value at line 1 column 7"},
      // The scan ignores what follows the first value; the generic parse then fails silently,
      // so the undeclared member is never looked for.
      {claims().add("x", "1").text() + " x", "signature verification failed"},
      // Arrays and other values pass the undeclared-member step.
      {"[{\"x\":1}]", "signature verification failed"},
      {"\"tct\"", "signature verification failed"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(error_of(test::forge(other, kTctHeader, c.payload)), c.message) << c.payload;
  // Correctly signed, a payload with trailing text is not a JSON object for the JWS check.
  EXPECT_EQ(error_of(test::forge(issuer, kTctHeader, claims().add("x", "1").text() + " x")),
            "compact JWS malformed: payload is not a JSON object");
}

TEST_F(Verify, ClaimsReadAfterTheSignature) {
  // An array payload passes the pre-check and is refused by the JWS check.
  const std::string array = "[" + json_str("zelk/0.2") + "," + json_str(kJti) + "," +
                            json_str(issuer.aid_text()) + "," + json_str(subject.aid_text()) + "," +
                            json_str(subject.aid_text()) + ",1,2,[\"g\"],[\"t\"],null]";
  EXPECT_EQ(error_of(test::forge(issuer, kTctHeader, array)),
            "compact JWS malformed: payload is not a JSON object");
  EXPECT_EQ(error_of(test::forge(issuer, kTctHeader, "{\"ver\":")),
            "claims malformed: EOF while parsing a value at line 1 column 7");
  const std::string no_cnf = claims().drop("cnf").text();
  EXPECT_EQ(
      error_of(test::forge(issuer, kTctHeader, no_cnf)),
      "claims malformed: missing field `cnf` at line 1 column " + std::to_string(no_cnf.size()));
  const std::string bad_sub = claims().set("sub", json_str("aid:pubkey:")).text();
  EXPECT_EQ(error_of(test::forge(issuer, kTctHeader, bad_sub)),
            "claims malformed: AID identifier must be exactly 43 characters; got 0 at line 1 "
            "column " +
                std::to_string(bad_sub.find("aid:pubkey:\"") + 12));
  const std::string float_iat = claims().set("iat", "1.0").text();
  EXPECT_EQ(error_of(test::forge(issuer, kTctHeader, float_iat)),
            "claims malformed: invalid type: floating point `1.0`, expected i64 at line 1 column " +
                std::to_string(float_iat.find("1.0") + 3));
  // Payload segment encodings are checked before the signature.
  std::string padded = token(claims());
  padded.insert(padded.find('.') + 1, "=");
  EXPECT_EQ(error_of(padded),
            "compact JWS malformed: payload segment: base64url padding is forbidden in ZELK");
  EXPECT_EQ(error_of("a.b"), "compact JWS malformed: expected exactly three non-empty segments");
}

TEST_F(Verify, VersionIsExact) {
  for (const char* ver : {"zelk/0.1", "zelk/0.2 ", "ZELK/0.2", ""})
    EXPECT_EQ(error_of(token(claims().set("ver", json_str(ver)))), "TCT version is not supported")
        << ver;
}

TEST_F(Verify, AudienceMustBeTheExpectedOneAndTheSubject) {
  const std::string mismatch = "TCT audience does not match";
  // aud as expected but sub another agent.
  EXPECT_EQ(error_of(token(claims().set("sub", json_str(other.aid_text())))), mismatch);
  // aud in the short and sub in the long form of one key.
  const Aid long_subject = test::long_form(subject.aid());
  EXPECT_EQ(error_of(token(claims().set("sub", json_str(long_subject.text())))), mismatch);
  // The expected audience in the other form of the same key.
  EXPECT_EQ(error_of(token(claims()), nullptr, &long_subject), mismatch);
  // aud and sub addressed to someone else.
  EXPECT_EQ(error_of(token(claims_for(other))), mismatch);
  const Aid other_aid = other.aid();
  EXPECT_EQ(error_of(token(claims_for(other)), nullptr, &other_aid), "(verified)");
}

TEST_F(Verify, BothEd25519FormsAreUsableThroughout) {
  const Aid long_issuer = test::long_form(issuer.aid());
  const Aid long_subject = test::long_form(subject.aid());
  const test::ClaimsText c = claims()
                                 .set("iss", json_str(long_issuer.text()))
                                 .set("sub", json_str(long_subject.text()))
                                 .set("aud", json_str(long_subject.text()));
  // The long form names the same key and the same EdDSA alg; cnf is the key's thumbprint.
  EXPECT_EQ(error_of(token(c), &long_issuer, &long_subject), "(verified)");
  // But iss compares as text with the issuer given.
  EXPECT_EQ(error_of(token(c), nullptr, &long_subject),
            "TCT issuer does not match the verifying key");
}

TEST_F(Verify, ValidityWindowIsInclusive) {
  const struct {
    std::int64_t iat, exp, skew;
    const char* result;
  } cases[] = {
      {kNow - 10, kNow, 0, "(verified)"},
      {kNow - 10, kNow - 1, 0, "TCT has expired or is not yet valid"},
      {kNow, kNow + 10, 0, "(verified)"},
      {kNow + 1, kNow + 10, 0, "TCT has expired or is not yet valid"},
      {kNow - 100, kNow - 30, 30, "(verified)"},
      {kNow - 100, kNow - 31, 30, "TCT has expired or is not yet valid"},
      {kNow + 30, kNow + 100, 30, "(verified)"},
      {kNow + 31, kNow + 100, 30, "TCT has expired or is not yet valid"},
      // iat is not compared with exp.
      {kNow + 5, kNow - 5, 5, "(verified)"},
      // A negative skew narrows the window.
      {kNow - 10, kNow, -1, "TCT has expired or is not yet valid"},
  };
  for (const auto& c : cases) {
    const auto text = claims().set("iat", std::to_string(c.iat)).set("exp", std::to_string(c.exp));
    EXPECT_EQ(error_of(token(text), nullptr, nullptr, kNow, c.skew), c.result)
        << c.iat << ".." << c.exp << " skew " << c.skew;
  }
}

TEST_F(Verify, SkewSaturatesAtTheLimits) {
  const struct {
    std::int64_t iat, exp, now, skew;
    const char* result;
  } cases[] = {
      {kMin, kMin, kMin + 5, 100, "(verified)"},
      {kMax, kMax, kMax - 5, 100, "(verified)"},
      {kMin, kMax, 0, kMax, "(verified)"},
      {kMin, kMax, kMin, kMax, "(verified)"},
      {kMin, kMax, kMax, kMax, "(verified)"},
      // A skew of the lowest value: now - skew clamps to the top, now + skew to the bottom
      // (or to -1 from the top), so only the widest tokens survive.
      {kMin, kMax, 0, kMin, "(verified)"},
      {kMin, kMax - 1, 0, kMin, "TCT has expired or is not yet valid"},
      {kMin + 1, kMax, 0, kMin, "TCT has expired or is not yet valid"},
      {-1, kMax, kMax, kMin, "(verified)"},
      {0, kMax, kMax, kMin, "TCT has expired or is not yet valid"},
      {kMin, kMax - 1, kMax, 0, "TCT has expired or is not yet valid"},
  };
  for (const auto& c : cases) {
    const auto text = claims().set("iat", std::to_string(c.iat)).set("exp", std::to_string(c.exp));
    EXPECT_EQ(error_of(token(text), nullptr, nullptr, c.now, c.skew), c.result)
        << c.iat << ".." << c.exp << " now " << c.now << " skew " << c.skew;
  }
}

TEST_F(Verify, ManifestBoundIsInclusive) {
  const std::string tct = token(claims());
  EXPECT_EQ(error_of(tct, nullptr, nullptr, kNow, 0, kNow + 60), "(verified)");
  EXPECT_EQ(error_of(tct, nullptr, nullptr, kNow, 0, kNow + 59),
            "TCT expires_at exceeds issuer Manifest expires_at");
  EXPECT_EQ(error_of(tct, nullptr, nullptr, kNow, 0, kMin),
            "TCT expires_at exceeds issuer Manifest expires_at");
  // The validity window is judged first.
  EXPECT_EQ(error_of(tct, nullptr, nullptr, kNow + 61, 0, kNow),
            "TCT has expired or is not yet valid");
}

TEST_F(Verify, GrantsMustBeNonEmptyButAreNotJudged) {
  EXPECT_EQ(error_of(token(claims().set("grants", "[]"))), "TCT grants must be non-empty");
  EXPECT_EQ(error_of(token(claims().set("grants", R"(["read all","","\t"])"))), "(verified)");
}

TEST_F(Verify, CnfMustBeTheSubjectsThumbprint) {
  const std::string other_jkt =
      "{\"jkt\":" + json_str(*jwk_thumbprint(other.verifying_key())) + "}";
  EXPECT_EQ(error_of(token(claims().set("cnf", other_jkt))),
            "TCT cnf.jkt does not match the subject key");
  EXPECT_EQ(error_of(token(claims().set("cnf", R"({"jkt":""})"))),
            "TCT cnf.jkt does not match the subject key");
  // The one-element array form of cnf is the same claim.
  const std::string as_array = "[" + json_str(*jwk_thumbprint(subject.verifying_key())) + "]";
  EXPECT_EQ(error_of(token(claims().set("cnf", as_array))), "(verified)");
  // A P-256 subject.
  const Aid p256_aid = p256.aid();
  EXPECT_EQ(error_of(token(claims_for(p256)), nullptr, &p256_aid), "(verified)");
  // A subject AID that names no usable key is refused at the key binding, after every claim check.
  const std::string off_curve = "aid:pubkey:p256:A" + std::string(43, '_');
  ASSERT_TRUE(parse_aid(off_curve).has_value());
  const Aid off = *parse_aid(off_curve);
  auto c = claims().set("sub", json_str(off_curve)).set("aud", json_str(off_curve));
  EXPECT_EQ(error_of(token(c), nullptr, &off), "public key parsing failed: signature error");
  EXPECT_EQ(error_of(token(c.set("grants", "[]")), nullptr, &off), "TCT grants must be non-empty");
}

TEST_F(Verify, RevocationIsConsultedLastAndOnlyOnce) {
  int calls = 0;
  Uuid seen;
  const RevocationCheck revoke_all = [&](const Uuid& jti) {
    ++calls;
    seen = jti;
    return true;
  };
  auto run = [&](const std::string& tct) {
    const TctVerifyOptions options{.issuer = issuer.aid(),
                                   .expected_audience = subject.aid(),
                                   .now = kNow,
                                   .revocation = &revoke_all};
    auto r = verify_tct_jws(tct, options);
    return r ? std::string("(verified)") : r.error().message();
  };
  EXPECT_EQ(run(token(claims())), "TCT jti is revoked");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen.to_string(), kJti);
  // Every earlier refusal wins, and the check is not called.
  const std::string other_jkt =
      "{\"jkt\":" + json_str(*jwk_thumbprint(other.verifying_key())) + "}";
  for (const std::string& bad :
       {token(claims().set("cnf", other_jkt)), token(claims().set("grants", "[]")),
        token(claims().set("exp", std::to_string(kNow - 1))), token(other, claims()),
        token(claims().add("x", "1")), token(claims().set("ver", json_str("zelk/0.3")))}) {
    EXPECT_NE(run(bad), "TCT jti is revoked");
  }
  EXPECT_EQ(calls, 1);
  // No check, or an empty function, revokes nothing.
  EXPECT_EQ(error_of(token(claims())), "(verified)");
  const RevocationCheck empty;
  auto r = verify_tct_jws(token(claims()), {.issuer = issuer.aid(),
                                            .expected_audience = subject.aid(),
                                            .now = kNow,
                                            .revocation = &empty});
  EXPECT_TRUE(r.has_value());
}

TEST_F(Verify, RevokedSetMatchesOnlyTheLowerCaseHyphenatedText) {
  // The token writes its jti in upper case; the lookup uses the canonical text.
  const std::string tct =
      token(claims().set("jti", json_str("0F8FAD5B-D9CB-469F-A165-70867728950E")));
  auto run = [&](RevokedJtiSet set) {
    const RevocationCheck check = revocation_check_from_set(std::move(set));
    auto r = verify_tct_jws(tct, {.issuer = issuer.aid(),
                                  .expected_audience = subject.aid(),
                                  .now = kNow,
                                  .revocation = &check});
    return r ? std::string("(verified)") : r.error().message();
  };
  EXPECT_EQ(run({std::string(kJti)}), "TCT jti is revoked");
  EXPECT_EQ(run({"x", std::string(kJti), "y"}), "TCT jti is revoked");
  for (const std::string& near :
       {std::string("0F8FAD5B-D9CB-469F-A165-70867728950E"),
        std::string("0f8fad5bd9cb469fa16570867728950e"), "{" + std::string(kJti) + "}",
        "urn:uuid:" + std::string(kJti), std::string(kJti) + " ", std::string("")})
    EXPECT_EQ(run({near}), "(verified)") << near;
  EXPECT_EQ(run({}), "(verified)");
}

TEST_F(Verify, GrantVoucherChecks) {
  test::ClaimsText v;
  v.set("ver", json_str("zelk/0.2"))
      .set("iss", json_str(issuer.aid_text()))
      .set("sub", json_str(subject.aid_text()))
      .set("grants", R"(["read"])")
      .set("iat", "1")
      .set("exp", "2")  // long past: times are not judged here
      .set("src_jti", json_str(kJti));
  const std::string header = test::header_text("EdDSA", "zelk-grant+jwt");
  auto run = [&](const SigningKey& signer, const test::ClaimsText& c,
                 const Aid* expected = nullptr) {
    auto r = verify_grant_voucher_jws(test::forge(signer, header, c.text()),
                                      expected ? *expected : issuer.aid());
    return r ? std::string("(verified)") : r.error().message();
  };
  auto ok = verify_grant_voucher_jws(test::forge(issuer, header, v.text()), issuer.aid());
  ASSERT_TRUE(ok.has_value()) << ok.error().message();
  EXPECT_EQ(ok->claims().exp, 2);
  EXPECT_EQ(ok->claims().src_jti.to_string(), kJti);

  EXPECT_EQ(run(issuer, test::ClaimsText(v).set("grants", "[]")), "TCT grants must be non-empty");
  EXPECT_EQ(run(issuer, test::ClaimsText(v).set("ver", json_str("zelk/0.1"))),
            "TCT version is not supported");
  EXPECT_EQ(run(issuer, test::ClaimsText(v).set("iss", json_str(other.aid_text()))),
            "TCT issuer does not match the verifying key");
  EXPECT_EQ(run(other, v), "signature verification failed");
  // Members of a TCT are undeclared here, before any signature work.
  EXPECT_EQ(run(other, test::ClaimsText(v).add("aud", json_str(subject.aid_text()))),
            "unknown field: aud");
  const std::string twice = test::ClaimsText(v).add("iat", "1").text();
  EXPECT_EQ(run(other, test::ClaimsText(v).add("iat", "1")),
            "claims malformed: duplicate field `iat` at line 1 column " +
                std::to_string(twice.rfind("\"iat\"") + 5));
  const std::string no_src = test::ClaimsText(v).drop("src_jti").text();
  EXPECT_EQ(run(issuer, test::ClaimsText(v).drop("src_jti")),
            "claims malformed: missing field `src_jti` at line 1 column " +
                std::to_string(no_src.size()));
  // The check order: version before issuer before grants.
  EXPECT_EQ(run(issuer, test::ClaimsText(v)
                            .set("ver", json_str("x"))
                            .set("iss", json_str(other.aid_text()))
                            .set("grants", "[]")),
            "TCT version is not supported");
  EXPECT_EQ(
      run(issuer, test::ClaimsText(v).set("iss", json_str(other.aid_text())).set("grants", "[]")),
      "TCT issuer does not match the verifying key");
}

TEST_F(Verify, CheckOrderAfterTheSignature) {
  // Each row breaks one more check than the next; the first broken check in order is reported.
  const std::string other_jkt =
      "{\"jkt\":" + json_str(*jwk_thumbprint(other.verifying_key())) + "}";
  test::ClaimsText c = claims();
  c.set("cnf", other_jkt);
  EXPECT_EQ(error_of(token(c)), "TCT cnf.jkt does not match the subject key");
  c.set("grants", "[]");
  EXPECT_EQ(error_of(token(c)), "TCT grants must be non-empty");
  EXPECT_EQ(error_of(token(c), nullptr, nullptr, kNow, 0, kNow),
            "TCT expires_at exceeds issuer "
            "Manifest expires_at");
  c.set("exp", std::to_string(kNow - 1));
  EXPECT_EQ(error_of(token(c)), "TCT has expired or is not yet valid");
  c.set("sub", json_str(other.aid_text()));
  EXPECT_EQ(error_of(token(c)), "TCT audience does not match");
  c.set("iss", json_str(other.aid_text()));
  EXPECT_EQ(error_of(token(c)), "TCT issuer does not match the verifying key");
  c.set("ver", json_str("zelk/9"));
  EXPECT_EQ(error_of(token(c)), "TCT version is not supported");
  c.set("jti", json_str("x"));
  EXPECT_TRUE(error_of(token(c)).starts_with("claims malformed: UUID parsing failed"));
}

}  // namespace
}  // namespace zelk
