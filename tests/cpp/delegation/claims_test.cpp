#include "delegation/claims.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "crypto/sha256.hpp"
#include "delegation_fixture.hpp"
#include "formats/base64url.hpp"

namespace zelk {
namespace {

using test::json_str;

class DelegationClaimsTest : public ::testing::Test {
 protected:
  test::Parties p;

  std::string required_members() const {
    return json_str("zelk/0.2") + "," + json_str(p.alice.aid_text()) + "," +
           json_str(p.bob.aid_text()) + "," + json_str(p.grantor.aid_text()) +
           R"(,["read"],100,{"jkt":"t"})";
  }
  static std::string error_of(std::string_view text) {
    auto r = decode_delegation_claims(text);
    return r ? "(read)" : r.error().full();
  }
  static std::string head(const std::string& message) {
    return message.substr(0, message.find(" at line "));
  }
  std::string map_text(std::string_view drop = "", std::string_view extra = "") const {
    test::ClaimsText c;
    c.set("ver", json_str("zelk/0.2"))
        .set("iss", json_str(p.alice.aid_text()))
        .set("sub", json_str(p.bob.aid_text()))
        .set("aud", json_str(p.grantor.aid_text()))
        .set("scope", R"(["read"])")
        .set("exp", "100")
        .set("cnf", R"({"jkt":"t"})");
    if (!drop.empty()) c.drop(drop);
    std::string text = c.text();
    if (!extra.empty()) text = test::with_first_member(text, extra);
    return text;
  }
};

TEST_F(DelegationClaimsTest, StrictMapFormMessages) {
  const std::string expected_names =
      "expected one of `ver`, `iss`, `sub`, `aud`, `scope`, `exp`, `cnf`, `voucher`, `jti`, "
      "`chain`, `chain_hash`, `ext`";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {map_text("", R"("nbf":1)"), "unknown field `nbf`, " + expected_names},
      {map_text("exp"), "missing field `exp`"},
      {test::ClaimsText().set("iss", json_str(p.alice.aid_text())).text(), "missing field `ver`"},
      {map_text("", R"("voucher":null)"), "(read)"},
      {map_text("", R"("voucher":null,"voucher":"x")"), "duplicate field `voucher`"},
      {map_text("", R"("cnf":{"jkt":"t"})"), "duplicate field `cnf`"},
      {map_text("cnf", R"("cnf":{"jkt":"t","alg":"x"})"), "unknown field `alg`, expected `jkt`"},
      {map_text("iss", R"("iss":"pubkey:x")"), "AID does not start with 'aid:'"},
      {map_text("", R"("jti":"nope")"), "UUID parsing failed: "},
      {"[1]", "invalid type: integer `1`, expected a string"},
      {"7", "invalid type: integer `7`, expected struct DelegationClaims"},
      {map_text() + " x", "trailing characters"},
  };
  for (const auto& c : cases) {
    const std::string got = error_of(c.text);
    if (c.message == "(read)") {
      EXPECT_EQ(got, "(read)") << c.text;
    } else {
      EXPECT_TRUE(got.starts_with(c.message)) << c.text << "\n  got: " << got;
      EXPECT_NE(got.find(" at line 1 column "), std::string::npos) << got;
    }
  }
}

TEST_F(DelegationClaimsTest, ArrayFormLeavesTrailingOptionalMembersOff) {
  auto seven = decode_delegation_claims("[" + required_members() + "]");
  ASSERT_TRUE(seven.has_value()) << seven.error().full();
  EXPECT_FALSE(seven->voucher || seven->jti || seven->chain || seven->chain_hash || seven->ext);
  EXPECT_EQ(seven->cnf.jkt, "t");

  auto nine = decode_delegation_claims("[" + required_members() + R"(,"v",")" +
                                       std::string(test::kSrcJti) + "\"]");
  ASSERT_TRUE(nine.has_value()) << nine.error().full();
  EXPECT_EQ(nine->voucher, "v");
  EXPECT_EQ(nine->jti, test::uuid(test::kSrcJti));

  const std::string six = "[" + required_members().substr(0, required_members().rfind(',')) + "]";
  EXPECT_EQ(head(error_of(six)),
            "invalid length 6, expected struct DelegationClaims with 12 elements");
  EXPECT_EQ(head(error_of("[" + required_members() + ",null,null,null,null,null,1]")),
            "trailing characters");

  auto cnf_array = decode_delegation_claims(map_text("cnf", R"("cnf":["k"])"));
  ASSERT_TRUE(cnf_array.has_value());
  EXPECT_EQ(cnf_array->cnf.jkt, "k");
  EXPECT_EQ(head(error_of(map_text("cnf", R"("cnf":[])"))),
            "invalid length 0, expected struct Cnf with 1 element");
}

TEST_F(DelegationClaimsTest, NullVoucherIsAbsentAndLeftOutOfTheCanonicalForm) {
  auto read = decode_delegation_claims(map_text("", R"("voucher":null)"));
  ASSERT_TRUE(read.has_value());
  EXPECT_FALSE(read->voucher);
  EXPECT_EQ(test::canonical_payload(*read).find("voucher"), std::string::npos);
}

TEST_F(DelegationClaimsTest, BuiltTokenIsHeaderCanonicalPayloadAndSignature) {
  DelegationClaims c = p.first_hop();
  c.exp = std::numeric_limits<std::int64_t>::max();
  const std::string token = test::Parties::sign(p.alice, c);
  const auto dot = token.find('.');
  const auto dot2 = token.find('.', dot + 1);
  EXPECT_EQ(as_text(*b64url_decode(token.substr(0, dot))),
            R"({"alg":"EdDSA","typ":"zelk-delegation+jwt"})");
  const std::string payload(as_text(*b64url_decode(token.substr(dot + 1, dot2 - dot - 1))));
  const std::string expected = R"({"aud":")" + p.grantor.aid_text() + R"(","cnf":{"jkt":")" +
                               c.cnf.jkt + R"("},"exp":9223372036854776000,"iss":")" +
                               p.alice.aid_text() + R"(","scope":["read"],"sub":")" +
                               p.bob.aid_text() + R"(","ver":"zelk/0.2","voucher":")" + *c.voucher +
                               "\"}";
  EXPECT_EQ(payload, expected);
  EXPECT_EQ(token.size() - dot2 - 1, 86u);
  EXPECT_TRUE(verify_signature_bytes(p.alice.verifying_key(), as_bytes(token.substr(0, dot2)),
                                     *b64url_decode(token.substr(dot2 + 1)))
                  .has_value());
  // Deterministic for both suites.
  EXPECT_EQ(test::Parties::sign(p.alice, c), token);
  const std::string es = test::Parties::sign(p.p256, c);
  EXPECT_EQ(as_text(*b64url_decode(es.substr(0, es.find('.')))),
            R"({"alg":"ES256","typ":"zelk-delegation+jwt"})");
  EXPECT_EQ(test::Parties::sign(p.p256, c), es);
}

TEST_F(DelegationClaimsTest, CanonicalFormOrdersEveryPresentMember) {
  DelegationClaims c = p.first_hop();
  c.jti = test::uuid(test::kSrcJti);
  c.chain = std::vector<std::string>{"a.b.c"};
  c.chain_hash = "h";
  c.ext = json::Object{};
  const std::string text = test::canonical_payload(c);
  std::vector<std::string> order;
  for (std::string_view name : {"aud", "chain", "chain_hash", "cnf", "exp", "ext", "iss", "jti",
                                "scope", "sub", "ver", "voucher"})
    order.push_back("\"" + std::string(name) + "\":");
  std::size_t at = 0;
  for (const std::string& name : order) {
    const std::size_t found = text.find(name, at);
    ASSERT_NE(found, std::string::npos) << name << " in " << text;
    at = found;
  }
  EXPECT_NE(text.find(R"("ext":{})"), std::string::npos);
  EXPECT_NE(text.find(R"("jti":"0f8fad5b-d9cb-469f-a165-70867728950e")"), std::string::npos);
}

std::string b64_sha(std::string_view text) {
  return b64url_encode(sha256(text));
}

TEST(ChainHash, CanonicalArrayOfTokenDigests) {
  EXPECT_EQ(*compute_chain_hash({}), b64_sha("[]"));
  const std::vector<std::string> one{"x.y.z"};
  const std::string inner = "[\"" + b64_sha("x.y.z") + "\"]";
  ASSERT_EQ(inner.size(), 47u);
  EXPECT_EQ(*compute_chain_hash(one), b64_sha(inner));
  EXPECT_EQ(compute_chain_hash(one)->size(), 43u);

  const std::vector<std::string> ab{"a.a.a", "b.b.b"};
  const std::vector<std::string> ba{"b.b.b", "a.a.a"};
  EXPECT_EQ(*compute_chain_hash(ab),
            b64_sha("[\"" + b64_sha("a.a.a") + "\",\"" + b64_sha("b.b.b") + "\"]"));
  EXPECT_NE(*compute_chain_hash(ab), *compute_chain_hash(ba));
}

}  // namespace
}  // namespace zelk
