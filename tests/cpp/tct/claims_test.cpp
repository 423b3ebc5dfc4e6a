#include "tct/claims.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "crypto/jws.hpp"
#include "formats/base64url.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "tct_test_util.hpp"

namespace zelk {
namespace {

using test::json_str;

constexpr std::string_view kJti = "0f8fad5b-d9cb-469f-a165-70867728950e";

class Claims : public ::testing::Test {
 protected:
  SigningKey issuer = test::ed_key(1);
  SigningKey subject = test::ed_key(2);
  SigningKey p256 = test::p256_key(7);

  test::ClaimsText tct_text() const {
    return test::tct_claims_text({.issuer = issuer.aid_text(),
                                  .subject = subject.aid_text(),
                                  .jti = kJti,
                                  .iat = 100,
                                  .exp = 200,
                                  .grants = R"(["read","write"])",
                                  .jkt = "t"});
  }
  test::ClaimsText voucher_text() const {
    test::ClaimsText c;
    c.set("ver", json_str("zelk/0.2"))
        .set("iss", json_str(issuer.aid_text()))
        .set("sub", json_str(subject.aid_text()))
        .set("grants", R"(["read"])")
        .set("iat", "100")
        .set("exp", "200")
        .set("src_jti", json_str(kJti));
    return c;
  }
  std::string tct_error(const std::string& text) {
    auto r = read_tct_claims(text);
    return r ? "(read)" : r.error().full();
  }
  std::string voucher_error(const std::string& text) {
    auto r = read_grant_voucher_claims(text);
    return r ? "(read)" : r.error().full();
  }
  // The message without its position suffix.
  static std::string head(const std::string& message) {
    return message.substr(0, message.find(" at line "));
  }
};

TEST_F(Claims, ReadsMapFormAndWritesCanonicalOrder) {
  auto claims = read_tct_claims(tct_text().text());
  ASSERT_TRUE(claims.has_value()) << claims.error().full();
  EXPECT_EQ(claims->iss, issuer.aid());
  EXPECT_EQ(claims->grants, (std::vector<std::string>{"read", "write"}));
  EXPECT_FALSE(claims->ext.has_value());
  const std::string expected = R"({"aud":")" + subject.aid_text() +
                               R"(","cnf":{"jkt":"t"},"exp":200,"grants":["read","write"],)" +
                               R"("iat":100,"iss":")" + issuer.aid_text() + R"(","jti":")" +
                               std::string(kJti) + R"(","sub":")" + subject.aid_text() +
                               R"(","ver":"zelk/0.2"})";
  EXPECT_EQ(*canonical_tct_claims(*claims), expected);

  // An empty ext is written between exp and grants; a null ext is the same as none.
  auto with_ext = read_tct_claims(tct_text().set("ext", "{}").text());
  ASSERT_TRUE(with_ext.has_value());
  EXPECT_NE(canonical_tct_claims(*with_ext)->find(R"("exp":200,"ext":{},"grants")"),
            std::string::npos);
  auto null_ext = read_tct_claims(tct_text().set("ext", "null").text());
  ASSERT_TRUE(null_ext.has_value());
  EXPECT_EQ(*canonical_tct_claims(*null_ext), expected);

  // ext holds any members, written canonically.
  auto rich = read_tct_claims(tct_text().set("ext", R"({"z":[1,{"b":2,"a":1}],"a":null})").text());
  ASSERT_TRUE(rich.has_value());
  EXPECT_NE(canonical_tct_claims(*rich)->find(R"("ext":{"a":null,"z":[1,{"a":1,"b":2}]})"),
            std::string::npos);
}

TEST_F(Claims, JtiInAnyUuidFormIsWrittenLowerCaseHyphenated) {
  for (const std::string form :
       {"0F8FAD5BD9CB469FA16570867728950E", "{0f8fad5b-d9cb-469f-a165-70867728950e}",
        "urn:uuid:0F8FAD5B-D9CB-469F-A165-70867728950E"}) {
    auto claims = read_tct_claims(tct_text().set("jti", json_str(form)).text());
    ASSERT_TRUE(claims.has_value()) << form;
    EXPECT_EQ(claims->jti.to_string(), kJti);
    EXPECT_NE(canonical_tct_claims(*claims)->find(R"("jti":")" + std::string(kJti) + "\""),
              std::string::npos);
  }
  EXPECT_EQ(tct_error(R"({"jti":"nope")"),
            "UUID parsing failed: invalid character: found `n` at 0 at line 1 column 13");
  EXPECT_EQ(tct_error(R"({"jti":5})"),
            "invalid type: integer `5`, expected a formatted UUID string at line 1 column 8");
}

TEST_F(Claims, ArrayFormNeedsAllTenMembers) {
  const std::string nine = "[" + json_str("zelk/0.2") + "," + json_str(kJti) + "," +
                           json_str(issuer.aid_text()) + "," + json_str(subject.aid_text()) + "," +
                           json_str(subject.aid_text()) + R"(,1,2,["g"],["t"])";
  EXPECT_EQ(tct_error(nine + "]"),
            "invalid length 9, expected struct TctClaims with 10 elements "
            "at line 1 column " +
                std::to_string(nine.size() + 1));
  auto ten = read_tct_claims(nine + ",null]");
  ASSERT_TRUE(ten.has_value()) << ten.error().full();
  EXPECT_FALSE(ten->ext.has_value());
  EXPECT_EQ(ten->cnf.jkt, "t");
  EXPECT_EQ(head(tct_error(nine + ",null,1]")), "trailing characters");
}

TEST_F(Claims, StrictMembersWithTheirMessages) {
  const std::string expected_ten =
      "expected one of `ver`, `jti`, `iss`, `sub`, `aud`, `iat`, `exp`, `grants`, `cnf`, `ext`";
  const std::string unknown = tct_error(R"({"ver":"zelk/0.2","x":1})");
  EXPECT_EQ(unknown, "unknown field `x`, " + expected_ten + " at line 1 column 21");
  EXPECT_EQ(json::unknown_field_name(read_tct_claims(R"({"x":1})").error()), "x");
  EXPECT_EQ(tct_error(R"({"ver":"a","ver":"b"})"), "duplicate field `ver` at line 1 column 16");
  // Required members are looked for in declared order.
  EXPECT_EQ(head(tct_error(tct_text().drop("cnf").drop("jti").text())), "missing field `jti`");
  EXPECT_EQ(head(tct_error(tct_text().drop("grants").text())), "missing field `grants`");
  EXPECT_EQ(tct_error(R"("tct")"),
            "invalid type: string \"tct\", expected struct TctClaims at line 1 column 5");
  EXPECT_EQ(tct_error(tct_text().text() + " x"),
            "trailing characters at line 1 column " + std::to_string(tct_text().text().size() + 2));
  // Fractions and numbers outside i64 are refused.
  EXPECT_EQ(tct_error(R"({"iat":1.5})"),
            "invalid type: floating point `1.5`, expected i64 at line 1 column 10");
  EXPECT_EQ(tct_error(R"({"exp":9223372036854775808})"),
            "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 26");
}

TEST_F(Claims, AidMembersMustParse) {
  const std::string text = tct_text().set("iss", json_str("aid:web:example")).text();
  const std::string error = tct_error(text);
  EXPECT_EQ(error.substr(0, error.find(" at line")),
            "AID method 'web' is not supported in v0.1; expected 'pubkey'");
  const std::size_t end = text.find("aid:web:example") + 16;  // after the closing quote
  EXPECT_EQ(error.substr(error.find(" at line")), " at line 1 column " + std::to_string(end));
  EXPECT_EQ(head(tct_error(tct_text().set("aud", json_str("AID:x")).text())),
            "AID does not start with 'aid:'");
  // Both Ed25519 forms read, and stay as written.
  const Aid long_sub = test::long_form(subject.aid());
  auto claims = read_tct_claims(tct_text().set("sub", json_str(long_sub.text())).text());
  ASSERT_TRUE(claims.has_value());
  EXPECT_EQ(claims->sub, long_sub);
  EXPECT_NE(claims->sub, claims->aud);
}

TEST_F(Claims, CnfIsAStrictOneMemberRecord) {
  auto from_array = read_tct_claims(tct_text().set("cnf", R"(["abc"])").text());
  ASSERT_TRUE(from_array.has_value());
  EXPECT_EQ(from_array->cnf.jkt, "abc");
  const std::string with_x = tct_text().set("cnf", R"({"jkt":"t","x":1})").text();
  auto r = read_tct_claims(with_x);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "unknown field `x`, expected `jkt`");
  EXPECT_EQ(json::unknown_field_name(r.error()), "x");
  EXPECT_EQ(head(tct_error(tct_text().set("cnf", "[]").text())),
            "invalid length 0, expected struct Cnf with 1 element");
  EXPECT_EQ(head(tct_error(tct_text().set("cnf", "{}").text())), "missing field `jkt`");
  EXPECT_EQ(head(tct_error(tct_text().set("cnf", R"({"jkt":"a","jkt":"b"})").text())),
            "duplicate field `jkt`");
  EXPECT_EQ(head(tct_error(tct_text().set("cnf", "7").text())),
            "invalid type: integer `7`, expected struct Cnf");
}

TEST_F(Claims, GrantsAreNotJudgedWhenRead) {
  for (const char* grants : {"[]", R"(["read all",""])"}) {
    auto claims = read_tct_claims(tct_text().set("grants", grants).text());
    EXPECT_TRUE(claims.has_value()) << grants;
  }
  EXPECT_EQ(head(tct_error(tct_text().set("grants", R"(["a",1])").text())),
            "invalid type: integer `1`, expected a string");
  EXPECT_EQ(head(tct_error(tct_text().set("grants", R"("read")").text())),
            "invalid type: string \"read\", expected a sequence");
}

TEST_F(Claims, LargestTimeIsWrittenRoundedAndDoesNotReadBack) {
  TctClaims claims = *read_tct_claims(tct_text().text());
  claims.exp = std::numeric_limits<std::int64_t>::max();
  const std::string payload = *canonical_tct_claims(claims);
  EXPECT_NE(payload.find(R"("exp":9223372036854776000,)"), std::string::npos);
  EXPECT_FALSE(read_tct_claims(payload).has_value());
}

TEST_F(Claims, ReadsFromAParsedValueWithoutPositions) {
  auto value = json::parse_value(tct_text().add("x", "1").text());
  ASSERT_TRUE(value.has_value());
  auto r = tct_claims_from_value(*value);
  ASSERT_FALSE(r.has_value());
  EXPECT_FALSE(r.error().has_position());
  EXPECT_EQ(tct_claims_read_error(r.error()), TctError::unknown_field("x"));
  auto ok = tct_claims_from_value(*json::parse_value(tct_text().text()));
  EXPECT_EQ(ok, read_tct_claims(tct_text().text()));
}

TEST_F(Claims, ReadErrorsBecomeUnknownFieldOrClaimsMalformed) {
  auto unknown = read_tct_claims(tct_text().set("cnf", R"({"jkt":"t","y":1})").text());
  EXPECT_EQ(tct_claims_read_error(unknown.error()).message(), "unknown field: y");
  auto missing = read_tct_claims(R"({})");
  EXPECT_EQ(tct_claims_read_error(missing.error()).message(),
            "claims malformed: missing field `ver` at line 1 column 2");
}

TEST_F(Claims, VoucherReading) {
  auto voucher = read_grant_voucher_claims(voucher_text().text());
  ASSERT_TRUE(voucher.has_value()) << voucher.error().full();
  EXPECT_EQ(voucher->src_jti.to_string(), kJti);
  EXPECT_EQ(*canonical_grant_voucher_claims(*voucher),
            R"({"exp":200,"grants":["read"],"iat":100,"iss":")" + issuer.aid_text() +
                R"(","src_jti":")" + std::string(kJti) + R"(","sub":")" + subject.aid_text() +
                R"(","ver":"zelk/0.2"})");
  EXPECT_EQ(voucher_error(R"({"aud":1})"),
            "unknown field `aud`, expected one of `ver`, `iss`, `sub`, `grants`, `iat`, `exp`, "
            "`src_jti`, `ext` at line 1 column 6");
  EXPECT_EQ(head(voucher_error(voucher_text().drop("src_jti").drop("iat").text())),
            "missing field `iat`");
  EXPECT_EQ(voucher_error("[1]"),
            "invalid type: integer `1`, expected a string at line 1 column 2");
  EXPECT_EQ(voucher_error(R"(["zelk/0.2"])"),
            "invalid length 1, expected struct GrantVoucherClaims with 8 elements at line 1 column "
            "12");
  // ext may not be left off the array form either.
  const std::string seven = "[" + json_str("zelk/0.2") + "," + json_str(issuer.aid_text()) + "," +
                            json_str(subject.aid_text()) + R"(,["read"],100,200,)" + json_str(kJti);
  EXPECT_EQ(voucher_error(seven + "]"),
            "invalid length 7, expected struct GrantVoucherClaims with 8 elements at line 1 "
            "column " +
                std::to_string(seven.size() + 1));
  EXPECT_EQ(read_grant_voucher_claims(seven + ",null]"), voucher);
  EXPECT_EQ(voucher_error("true"),
            "invalid type: boolean `true`, expected struct GrantVoucherClaims at line 1 column 4");
  EXPECT_EQ(head(voucher_error(voucher_text().set("src_jti", json_str("x")).text())),
            "UUID parsing failed: invalid character: found `x` at 0");
}

TEST_F(Claims, EncodingIsDeterministicWithTheSuitesHeader) {
  const TctClaims claims = *read_tct_claims(tct_text().text());
  const GrantVoucherClaims voucher = *read_grant_voucher_claims(voucher_text().text());
  for (const SigningKey* key : {&issuer, &p256}) {
    const std::string token = *encode_tct_jws(*key, claims);
    EXPECT_EQ(*encode_tct_jws(*key, claims), token);
    auto segments = split_compact_jws(token);
    ASSERT_TRUE(segments.has_value());
    EXPECT_EQ(segments->header.size(), 48u);
    EXPECT_EQ(as_text(*b64url_decode(segments->header)),
              test::header_text(key == &p256 ? "ES256" : "EdDSA", "zelk-tct+jwt"));
    EXPECT_EQ(as_text(*decode_jws_payload_unverified(token)), *canonical_tct_claims(claims));
    EXPECT_TRUE(verify_compact_jws(token, key->aid(), kTctTyp).has_value());

    const std::string v = *encode_grant_voucher_jws(*key, voucher);
    EXPECT_EQ(split_compact_jws(v)->header.size(), 51u);
    EXPECT_EQ(as_text(*decode_jws_payload_unverified(v)), *canonical_grant_voucher_claims(voucher));
    EXPECT_TRUE(verify_compact_jws(v, key->aid(), kGrantVoucherTyp).has_value());
  }
}

TEST_F(Claims, DeclaredNamesForTheUndeclaredMemberCheck) {
  EXPECT_EQ(kTctClaimsName, "TctClaims");
  EXPECT_EQ(kGrantVoucherClaimsName, "GrantVoucherClaims");
  EXPECT_EQ(std::vector<std::string_view>(kTctClaimNames.begin(), kTctClaimNames.end()),
            (std::vector<std::string_view>{"ver", "jti", "iss", "sub", "aud", "iat", "exp",
                                           "grants", "cnf", "ext"}));
  EXPECT_EQ(
      std::vector<std::string_view>(kGrantVoucherClaimNames.begin(), kGrantVoucherClaimNames.end()),
      (std::vector<std::string_view>{"ver", "iss", "sub", "grants", "iat", "exp", "src_jti",
                                     "ext"}));
}

}  // namespace
}  // namespace zelk
