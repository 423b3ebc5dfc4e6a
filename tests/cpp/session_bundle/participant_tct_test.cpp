#include <gtest/gtest.h>

#include <string>

#include "bundle_fixture.hpp"
#include "crypto/jws.hpp"
#include "formats/json/parse.hpp"

namespace zelk {
namespace {

using test::json_str;

class ParticipantTct : public test::BundleTest {
 protected:
  test::ClaimsText claims() const {
    test::ClaimsText c;
    c.set("ver", json_str("zelk/0.2"))
        .set("jti", json_str("0f8fad5b-d9cb-469f-a165-70867728950e"))
        .set("iss", json_str(coordinator.aid_text()))
        .set("sub", json_str(alice.aid_text()))
        .set("aud", json_str(alice.aid_text()))
        .set("iat", std::to_string(test::kNow))
        .set("exp", std::to_string(test::kNow + 60))
        .set("grants", R"(["read"])")
        .set("cnf", R"({"jkt":"x"})");
    return c;
  }
  // Signed by someone else: decoding never looks at the signature.
  std::string token(const std::string& payload) const {
    return test::forge(stranger, test::header_text("EdDSA", "other"), payload);
  }
  static std::string error_of(const std::string& tct) {
    auto r = decode_participant_tct(tct);
    return r ? "(decoded)" : r.error().message();
  }
};

TEST_F(ParticipantTct, DecodesWithoutCheckingAnything) {
  auto decoded = decode_participant_tct(token(claims().set("ver", json_str("v9")).text()));
  ASSERT_TRUE(decoded.has_value()) << decoded.error().message();
  EXPECT_EQ(decoded->ver, "v9");
  EXPECT_EQ(decoded->iss, coordinator.aid());
  EXPECT_EQ(decoded->exp, test::kNow + 60);
  // The array form of the claims decodes too.
  const std::string array = "[" + json_str("zelk/0.2") + "," +
                            json_str("0f8fad5b-d9cb-469f-a165-70867728950e") + "," +
                            json_str(coordinator.aid_text()) + "," + json_str(alice.aid_text()) +
                            "," + json_str(alice.aid_text()) + ",1,2,[],[\"x\"],null]";
  auto from_array = decode_participant_tct(token(array));
  ASSERT_TRUE(from_array.has_value()) << from_array.error().message();
  EXPECT_EQ(from_array->exp, 2);
}

TEST_F(ParticipantTct, Refusals) {
  const std::string repeated = claims().add("exp", "1").text();
  const std::string missing = claims().drop("exp").text();
  const std::string bad_iss = claims().set("iss", json_str("x")).text();
  struct Case {
    const char* what;
    std::string tct;
    std::string message;
  };
  const Case cases[] = {
      {"undeclared claim", token(claims().add("foo", "1").text()), "unknown field: foo"},
      {"undeclared cnf member", token(claims().set("cnf", R"({"jkt":"x","kid":1})").text()),
       "unknown field: kid"},
      {"repeated claim", token(repeated),
       "canonicalization failed: participant tct claims: " + *json::check_duplicate_keys(repeated)},
      {"missing claim", token(missing),
       "canonicalization failed: participant tct claims: " +
           read_tct_claims(missing).error().full()},
      {"bad issuer", token(bad_iss),
       "canonicalization failed: participant tct claims: " +
           read_tct_claims(bad_iss).error().full()},
      {"not JSON", token("{"),
       "canonicalization failed: participant tct claims: " + *json::check_duplicate_keys("{")},
      {"two segments", "abc.def",
       "canonicalization failed: participant tct: compact JWS malformed: expected exactly three "
       "non-empty segments"},
      {"payload not base64url", "a.b*c.d",
       "canonicalization failed: participant tct: " +
           decode_jws_payload_unverified("a.b*c.d").error().message()},
  };
  for (const Case& c : cases) EXPECT_EQ(error_of(c.tct), c.message) << c.what;
  // The wrapped messages above carry their positions.
  EXPECT_NE(error_of(token(missing)).find("missing field `exp` at line 1 column "),
            std::string::npos);
}

}  // namespace
}  // namespace zelk
