#include "tct/renew.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "crypto/detached.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/base64url.hpp"
#include "tct/verify.hpp"
#include "tct_fixture.hpp"
#include "tct_test_util.hpp"

namespace zelk {
namespace {

using test::json_str;
using test::kJti;
using test::kNow;
const std::array<std::uint8_t, 16> kNonce = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// The presented tokens are written by hand, so that each step of the renewal sees exactly what a
// holder could send; the subject of the claims is the holder.
class Renew : public test::HandWrittenTcts {
 protected:
  Renew() : HandWrittenTcts(R"(["read","write"])") {}

  const SigningKey& holder = subject;
  const SigningKey& p256_holder = p256;

  TctRenewalPayload request(std::string tct, const SigningKey* prover = nullptr) const {
    return build_renewal_payload(std::move(tct), kNonce, prover ? *prover : holder);
  }
  std::string error_of(const TctRenewalPayload& p, std::int64_t manifest = kNow + 7200,
                       std::int64_t now = kNow, std::int64_t ttl = 3600) const {
    auto r = renew_tct(p, issuer, manifest, now, ttl);
    return r ? "(renewed)" : r.error().message();
  }
};

TEST_F(Renew, NewTokenForTheSameHolderAudienceAndGrants) {
  for (const SigningKey* who : {&holder, &p256_holder}) {
    const std::string current = token(claims_for(*who));
    auto renewed = renew_tct(request(current, who), issuer, kNow + 7200, kNow, 3600);
    ASSERT_TRUE(renewed.has_value()) << renewed.error().message();
    const TctClaims& c = renewed->claims;
    EXPECT_EQ(c.sub, who->aid());
    EXPECT_EQ(c.aud, who->aid());
    EXPECT_EQ(c.iss, issuer.aid());
    EXPECT_EQ(c.grants, (std::vector<std::string>{"read", "write"}));
    EXPECT_NE(c.jti.to_string(), kJti);
    EXPECT_EQ(c.iat, kNow);
    EXPECT_EQ(c.exp, kNow + 3600);
    EXPECT_EQ(c.cnf.jkt, *jwk_thumbprint(who->verifying_key()));
    EXPECT_FALSE(c.ext.has_value());
    // The new pair verifies, and the voucher names the new token.
    auto verified = verify_tct_jws(
        renewed->tct, {.issuer = issuer.aid(), .expected_audience = who->aid(), .now = kNow});
    ASSERT_TRUE(verified.has_value()) << verified.error().message();
    ASSERT_TRUE(renewed->grant_voucher.has_value());
    auto voucher = verify_grant_voucher_jws(*renewed->grant_voucher, issuer.aid());
    ASSERT_TRUE(voucher.has_value());
    EXPECT_EQ(voucher->claims().src_jti, c.jti);
    // The same request renews again, with another identifier.
    auto again = renew_tct(request(current, who), issuer, kNow + 7200, kNow, 3600);
    ASSERT_TRUE(again.has_value());
    EXPECT_NE(again->claims.jti, c.jti);
  }
}

TEST_F(Renew, LifetimeIsCappedByTheManifestAndMustBePositive) {
  const TctRenewalPayload p = request(token(claims()));
  auto exp_of = [&](std::int64_t manifest, std::int64_t ttl) {
    auto r = renew_tct(p, issuer, manifest, kNow, ttl);
    return r ? r->claims.exp : -1;
  };
  EXPECT_EQ(exp_of(kNow + 100, 3600), kNow + 100);
  EXPECT_EQ(exp_of(kNow + 7200, 3600), kNow + 3600);
  EXPECT_EQ(exp_of(kNow + 1, 3600), kNow + 1);
  EXPECT_EQ(exp_of(std::numeric_limits<std::int64_t>::max(), 5), kNow + 5);
  const std::string expired = "TCT has expired or is not yet valid";
  EXPECT_EQ(error_of(p, kNow), expired);
  EXPECT_EQ(error_of(p, kNow - 1), expired);
  EXPECT_EQ(error_of(p, kNow + 7200, kNow, 0), expired);
  EXPECT_EQ(error_of(p, kNow + 7200, kNow, -5), expired);
  // A Manifest far in the past of a clock near the lower bound does not overflow.
  EXPECT_EQ(error_of(p, std::numeric_limits<std::int64_t>::min(), kNow), expired);
}

TEST_F(Renew, CurrentTokenMustBeValidNowAndIssuedHere) {
  EXPECT_EQ(error_of(request(token(claims().set("exp", std::to_string(kNow))))), "(renewed)");
  EXPECT_EQ(error_of(request(token(claims().set("exp", std::to_string(kNow - 1))))),
            "TCT has expired or is not yet valid");
  EXPECT_EQ(error_of(request(token(claims().set("iat", std::to_string(kNow + 1))))),
            "TCT has expired or is not yet valid");
  // Another issuer's token, signed by it or naming it.
  EXPECT_EQ(error_of(request(token(other, claims()))), "signature verification failed");
  EXPECT_EQ(error_of(request(token(claims().set("iss", json_str(other.aid_text()))))),
            "TCT issuer does not match the verifying key");
  EXPECT_EQ(error_of(request(token(claims().set("aud", json_str(other.aid_text()))))),
            "TCT audience does not match");
  EXPECT_EQ(error_of(request(token(claims().set("grants", "[]")))), "TCT grants must be non-empty");
  EXPECT_EQ(error_of(request(token(claims().set("cnf", R"({"jkt":"x"})")))),
            "TCT cnf.jkt does not match the subject key");
  EXPECT_EQ(error_of(request(token(claims().set("ver", json_str("zelk/0.1"))))),
            "TCT version is not supported");
}

TEST_F(Renew, ClaimsAreReadBeforeAnySignatureWork) {
  // Signed by another key, so that only a failure before the signature check shows here.
  const SigningKey& forger = other;
  EXPECT_EQ(error_of(request(token(forger, claims().add("jti", json_str(kJti))))),
            "claims malformed: duplicate field `jti` at line 1 column 377");
  // At any depth, and whatever the header's type.
  for (std::string_view typ : {"zelk-tct+jwt", "JWT"})
    EXPECT_TRUE(
        error_of(request(token(forger, claims().set("cnf", R"({"jkt":"a","jkt":"b"})"), typ)))
            .starts_with("claims malformed: duplicate field `jkt` at line 1 column "))
        << typ;
  EXPECT_EQ(error_of(request(token(forger, claims().add("foo", "1")))), "unknown field: foo");
  EXPECT_EQ(error_of(request(token(forger, claims().set("cnf", R"({"jkt":"a","x":1})")))),
            "unknown field: x");
  EXPECT_EQ(error_of(request(token(forger, claims().set("iat", "\"1\"")))),
            "claims malformed: invalid type: string \"1\", expected i64");
  // The duplicate scan runs whatever the type says; the undeclared check only for a TCT type.
  EXPECT_TRUE(error_of(request(token(forger, claims().add("jti", json_str(kJti)), "JWT")))
                  .starts_with("claims malformed: duplicate field `jti`"));
  EXPECT_EQ(error_of(request(token(forger, claims().add("foo", "1"), "JWT"))),
            "unknown field: foo");
  EXPECT_EQ(error_of(request(token(issuer, claims(), "JWT"))),
            "JWS typ header mismatch: expected zelk-tct+jwt, got JWT");

  const std::string header = b64url_encode(as_bytes(test::header_text("EdDSA", "zelk-tct+jwt")));
  auto raw = [&](std::string_view payload_text) {
    return header + "." + b64url_encode(as_bytes(payload_text)) + ".c2ln";
  };
  EXPECT_EQ(error_of(request(raw("{} x"))),
            "claims malformed: trailing characters at line 1 column 4");
  const std::string h = json_str(holder.aid_text());
  const std::string as_array = "[\"zelk/0.2\"," + json_str(kJti) + "," +
                               json_str(issuer.aid_text()) + "," + h + "," + h +
                               ",1,2,[\"read\"],{\"jkt\":\"x\"},null,5]";
  EXPECT_EQ(error_of(request(raw(as_array))),
            "claims malformed: invalid length 11, expected fewer elements in array");
  EXPECT_EQ(error_of(request("a.b")),
            "compact JWS malformed: expected exactly three non-empty segments");
  EXPECT_TRUE(error_of(request(header + ".!!.c2ln")).starts_with("compact JWS malformed: payload"));
}

TEST_F(Renew, ProofOfPossessionOverTheNonceBytes) {
  const std::string current = token(claims());
  TctRenewalPayload p = request(current);
  EXPECT_EQ(error_of(p), "(renewed)");

  TctRenewalPayload over_text = p;
  over_text.pop_signature = sign_detached(holder, std::string_view(p.pop_nonce));
  TctRenewalPayload other_key = request(current, &other);
  TctRenewalPayload other_kind = p;
  other_kind.pop_signature = "p256." + p.pop_signature;
  TctRenewalPayload malformed = p;
  malformed.pop_signature = "x";
  TctRenewalPayload other_nonce = p;
  other_nonce.pop_nonce = b64url_encode(std::array<std::uint8_t, 3>{1, 2, 3});
  for (const TctRenewalPayload* bad :
       {&over_text, &other_key, &other_kind, &malformed, &other_nonce})
    EXPECT_EQ(error_of(*bad), "TCT signature is invalid");

  TctRenewalPayload padded = p;
  padded.pop_nonce += "=";
  EXPECT_EQ(error_of(padded),
            "claims malformed: pop_nonce: base64url padding is forbidden in ZELK");
  // Any nonce that decodes is accepted, the empty one included.
  EXPECT_EQ(error_of(build_renewal_payload(current, {}, holder)), "(renewed)");
  // Nonce checks come after the token's own.
  padded.current_tct = token(other, claims());
  EXPECT_EQ(error_of(padded), "signature verification failed");
}

TEST_F(Renew, PayloadReadingAndWriting) {
  const TctRenewalPayload p{"a.b.c", "bm9uY2U", "sig\"\\"};
  const std::string text = write_renewal_payload(p);
  EXPECT_EQ(text, R"({"current_tct":"a.b.c","pop_nonce":"bm9uY2U","pop_signature":"sig\"\\"})");
  EXPECT_EQ(*read_renewal_payload(text), p);
  EXPECT_EQ(*read_renewal_payload(R"( ["a.b.c","bm9uY2U","sig\"\\"] )"), p);
  const std::pair<std::string_view, std::string_view> refused[] = {
      {R"({"current_tct":"a","pop_nonce":"b","pop_signature":"c","x":"d"})",
       "unknown field `x`, expected one of `current_tct`, `pop_nonce`, `pop_signature` at line 1 "
       "column 58"},
      {R"({"current_tct":"a","current_tct":"a"})",
       "duplicate field `current_tct` at line 1 column 32"},
      {R"({"pop_signature":"c"})", "missing field `current_tct` at line 1 column 21"},
      {R"({"current_tct":"a","pop_signature":"c"})",
       "missing field `pop_nonce` at line 1 column 39"},
      {R"(["a","b"])",
       "invalid length 2, expected struct TctRenewalPayload with 3 elements at line 1 "
       "column 9"},
      {R"(["a","b","c","d"])", "trailing characters at line 1 column 14"},
      {R"({"current_tct":1})", "invalid type: integer `1`, expected a string at line 1 column 16"},
      {"\"x\"", "invalid type: string \"x\", expected struct TctRenewalPayload at line 1 column 3"},
      {R"(["a","b","c"] x)", "trailing characters at line 1 column 15"},
  };
  for (const auto& [input, message] : refused) {
    auto r = read_renewal_payload(input);
    ASSERT_FALSE(r.has_value()) << input;
    EXPECT_EQ(r.error().full(), message) << input;
  }
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

TEST(RenewalPayloadRobustness, PrefixesAndByteChanges) {
  const std::string doc = R"({"current_tct":"a.b.c","pop_nonce":"bm9u\u0041","pop_signature":"x"})";
  for (std::size_t n = 0; n < doc.size(); ++n) {
    auto read = read_renewal_payload(doc.substr(0, n));
    EXPECT_FALSE(read.has_value());
  }
  for (std::size_t i = 0; i < doc.size(); ++i)
    for (char r : {'\0', '"', '\\', '{', '}', '[', ']', ',', ':', 'u', '\xC3'}) {
      std::string text = doc;
      text[i] = r;
      auto read = read_renewal_payload(text);
      if (!read) {
        EXPECT_TRUE(read.error().has_position()) << text;
      }
    }
}

}  // namespace
}  // namespace zelk
