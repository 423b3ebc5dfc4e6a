#include "revocation/revocation_list.hpp"

#include <gtest/gtest.h>

#include <string>

#include "../tct/tct_test_util.hpp"
#include "revocation/signing_input.hpp"

namespace zelk {
namespace {

constexpr std::string_view kZero = "00000000-0000-0000-0000-000000000000";

class RevocationRead : public ::testing::Test {
 protected:
  std::string issuer = test::ed_key(7).aid_text();
  std::string q_issuer = test::json_str(issuer);

  // A list object around the given members text.
  std::string list(std::string_view entries = "[]", std::string_view more = "") const {
    return R"({"version":"zelk/0.2","issuer":)" + q_issuer +
           R"(,"published_at":1,"expires_at":3,"entries":)" + std::string(entries) +
           std::string(more) + "}";
  }
  std::string envelope(std::string_view list_text, std::string_view more = "") const {
    return R"({"revocation_list":)" + std::string(list_text) + R"(,"signature":"x")" +
           std::string(more) + "}";
  }
  std::string error_of(const std::string& text) const {
    auto read = decode_revocation_envelope(text);
    EXPECT_FALSE(read.has_value()) << text;
    return read ? std::string() : read.error().full();
  }
};

TEST_F(RevocationRead, ReadsTheMapForm) {
  const std::string text = envelope(
      list(R"([{"jti":"00000000-0000-0000-0000-000000000001","revoked_at":5,"reason":"lost"},)"
           R"({"jti":"00000000-0000-0000-0000-000000000002","revoked_at":-1,"reason":null}])"));
  auto read = decode_revocation_envelope(" \n" + text + "\t\r\n ");
  ASSERT_TRUE(read.has_value()) << read.error().full();
  const RevocationList& l = read->revocation_list;
  EXPECT_EQ(l.version, "zelk/0.2");
  EXPECT_EQ(l.issuer.text(), issuer);
  EXPECT_EQ(l.published_at, 1);
  EXPECT_EQ(l.expires_at, 3);
  ASSERT_EQ(l.entries.size(), 2u);
  EXPECT_EQ(l.entries[0].reason, "lost");
  EXPECT_EQ(l.entries[1].revoked_at, -1);
  EXPECT_FALSE(l.entries[1].reason.has_value());
  EXPECT_FALSE(l.extensions.has_value());
  EXPECT_EQ(read->signature, "x");
  // The written form is the input again, members in declared order.
  EXPECT_EQ(encode_revocation_envelope(*read),
            envelope(list(R"([{"jti":"00000000-0000-0000-0000-000000000001","revoked_at":5,)"
                          R"("reason":"lost"},{"jti":"00000000-0000-0000-0000-000000000002",)"
                          R"("revoked_at":-1}])")));
}

TEST_F(RevocationRead, ArrayFormsWithAndWithoutTrailingOptionals) {
  const std::string zero = test::json_str(kZero);
  const struct {
    std::string text;
    std::size_t entries;
    bool extensions;
  } cases[] = {
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[]],\"SIG\"]", 0, false},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[],null],\"SIG\"]", 0, false},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[],{}],\"SIG\"]", 0, true},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[[" + zero + ",5]]],\"SIG\"]", 1, false},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[[" + zero + ",5,\"r\"],[" + zero + ",5,null]]],\"S\"]",
       2, false},
      {R"({"signature":"S","revocation_list":["zelk/0.2",)" + q_issuer + ",1,2,[{\"jti\":" + zero +
           ",\"revoked_at\":1}]]}",
       1, false},
  };
  for (const auto& c : cases) {
    auto read = decode_revocation_envelope(c.text);
    ASSERT_TRUE(read.has_value()) << c.text << ": " << read.error().full();
    EXPECT_EQ(read->revocation_list.entries.size(), c.entries) << c.text;
    EXPECT_EQ(read->revocation_list.extensions.has_value(), c.extensions) << c.text;
  }
  auto with_reason = decode_revocation_envelope(cases[4].text);
  EXPECT_EQ(with_reason->revocation_list.entries[0].reason, "r");
  EXPECT_FALSE(with_reason->revocation_list.entries[1].reason.has_value());
}

TEST_F(RevocationRead, ReadingErrorTexts) {
  const std::string zero = test::json_str(kZero);
  const std::pair<std::string, std::string> cases[] = {
      {envelope(list(), R"(,"extra":1)"),
       "unknown field `extra`, expected `revocation_list` or `signature` at line 1 column "},
      {envelope(list(), R"(,"signature":"x")"), "duplicate field `signature` at line 1 column "},
      {R"({"revocation_list":)" + list() + "}", "missing field `signature` at line 1 column "},
      {"{}", "missing field `revocation_list` at line 1 column 2"},
      {envelope(list(), "") + "x", "trailing characters at line 1 column "},
      {envelope(R"({"version":"zelk/0.2","issuer":)" + q_issuer + R"(,"published_at":1})"),
       "missing field `expires_at` at line 1 column "},
      {envelope(list("[]", R"(,"extensions":{},"extensions":{})")),
       "duplicate field `extensions` at line 1 column "},
      {envelope(list("[]", R"(,"x":1)")),
       "unknown field `x`, expected one of `version`, `issuer`, `published_at`, `expires_at`, "
       "`entries`, `extensions` at line 1 column "},
      {envelope(list(R"([{"jti":)" + zero + R"(,"revoked_at":5,"why":1}])")),
       "unknown field `why`, expected one of `jti`, `revoked_at`, `reason` at line 1 column "},
      {envelope(list(R"([{"revoked_at":5}])")), "missing field `jti` at line 1 column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2]]",
       "invalid length 4, expected struct RevocationList with 6 elements at line 1 column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[]]]",
       "invalid length 1, expected struct RevocationListEnvelope with 2 elements at line 1 "
       "column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[[" + zero + "]]],\"S\"]",
       "invalid length 1, expected struct RevocationEntry with 3 elements at line 1 column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[],null,3],\"S\"]",
       "trailing characters at line 1 column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[[" + zero + ",5,null,1]]],\"S\"]",
       "trailing characters at line 1 column "},
      {"[[\"zelk/0.2\"," + q_issuer + ",1,2,[]],\"S\",]", "trailing comma at line 1 column "},
      {"5", "invalid type: integer `5`, expected struct RevocationListEnvelope at line 1 column "},
      {envelope("true"),
       "invalid type: boolean `true`, expected struct RevocationList at line 1 column "},
      {envelope(list("[1]")),
       "invalid type: integer `1`, expected struct RevocationEntry at line 1 column "},
      {envelope(list("{}")), "invalid type: map, expected a sequence at line 1 column "},
      {envelope(list("[]", R"(,"extensions":[])")),
       "invalid type: sequence, expected a map at line 1 column "},
      {envelope(R"({"version":1})"), "invalid type: integer `1`, expected a string at line 1 "},
      {R"({"revocation_list":)" + list() + R"(,"signature":null})",
       "invalid type: null, expected a string at line 1 column "},
      {envelope(list(R"([{"jti":)" + zero + R"(,"revoked_at":5,"reason":7}])")),
       "invalid type: integer `7`, expected a string at line 1 column "},
      {envelope(R"({"version":"zelk/0.2","issuer":"x"})"),
       "AID does not start with 'aid:' at line 1 column "},
      {envelope(list(R"([{"jti":5,"revoked_at":5}])")),
       "invalid type: integer `5`, expected a formatted UUID string at line 1 column "},
      {envelope(list(R"([{"jti":"zz","revoked_at":5}])")), "UUID parsing failed: "},
      {envelope(R"({"version":"zelk/0.2","issuer":)" + q_issuer + R"(,"published_at":1.0})"),
       "invalid type: floating point `1.0`, expected i64 at line 1 column "},
      {envelope(R"({"version":"zelk/0.2","issuer":)" + q_issuer + R"(,"published_at":"1"})"),
       "invalid type: string \"1\", expected i64 at line 1 column "},
      {envelope(R"({"version":"zelk/0.2","issuer":)" + q_issuer +
                R"(,"published_at":9223372036854775808})"),
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column "},
      {envelope(R"({"version":"zelk/0.2","issuer":)" + q_issuer +
                R"(,"published_at":-9223372036854775809})"),
       "invalid type: floating point `-9.223372036854776e+18`, expected i64 at line 1 column "},
      {"", "EOF while parsing a value at line 1 column 0"},
      {envelope(list(
           "[]", R"(,"extensions":{"a":)" + std::string(125, '[') + std::string(125, ']') + "}")),
       "recursion limit exceeded at line 1 column "},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_TRUE(error_of(text).starts_with(expected))
        << text << "\n  got: " << error_of(text) << "\n  want: " << expected;
}

TEST_F(RevocationRead, IntegerBoundsAndUuidForms) {
  auto read = decode_revocation_envelope(
      envelope(R"({"version":"v","issuer":)" + q_issuer +
               R"(,"published_at":-9223372036854775808,"expires_at":9223372036854775807,)"
               R"("entries":[{"jti":"{00000000-0000-0000-0000-0000000000AB}","revoked_at":0},)"
               R"({"jti":"urn:uuid:00000000-0000-0000-0000-0000000000ab","revoked_at":0},)"
               R"({"jti":"000000000000000000000000000000Ab","revoked_at":0}]})"));
  ASSERT_TRUE(read.has_value()) << read.error().full();
  const RevocationList& l = read->revocation_list;
  EXPECT_EQ(l.published_at, INT64_MIN);
  EXPECT_EQ(l.expires_at, INT64_MAX);
  for (const RevocationEntry& e : l.entries)
    EXPECT_EQ(e.jti.to_string(), "00000000-0000-0000-0000-0000000000ab");
}

TEST_F(RevocationRead, NestingLimitCountsTheEnvelope) {
  // Envelope, list and extensions object are three levels; 127 in all are allowed.
  auto deepest = [&](std::size_t arrays) {
    return envelope(list("[]", R"(,"extensions":{"a":)" + std::string(arrays, '[') +
                                   std::string(arrays, ']') + "}"));
  };
  EXPECT_TRUE(decode_revocation_envelope(deepest(124)).has_value());
  EXPECT_FALSE(decode_revocation_envelope(deepest(125)).has_value());
}

class RevocationCanonical : public RevocationRead {};

TEST_F(RevocationCanonical, TheDocumentedExampleAndItsTwoOrders) {
  auto read = decode_revocation_envelope(
      envelope(list(R"([{"jti":"00000000-0000-0000-0000-000000000000","revoked_at":5}])")));
  ASSERT_TRUE(read.has_value());
  auto bytes = revocation_list_jcs(read->revocation_list);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, R"({"entries":[{"jti":"00000000-0000-0000-0000-000000000000","revoked_at":5}],)"
                    R"("expires_at":3,"issuer":)" +
                        q_issuer + R"(,"published_at":1,"version":"zelk/0.2"})");
}

TEST_F(RevocationCanonical, OptionalMembersNumbersAndExtensions) {
  RevocationList l;
  l.version = "zelk/0.2";
  l.issuer = *parse_aid(issuer);
  l.published_at = INT64_MAX;
  l.expires_at = -9007199254740993;
  l.entries.push_back({*parse_uuid(kZero), 9007199254740993, std::string("a\"\x01\xc3\xa9/")});
  auto bytes = revocation_list_jcs(l);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, R"({"entries":[{"jti":"00000000-0000-0000-0000-000000000000",)"
                    R"("reason":"a\"\u0001é/","revoked_at":9007199254740992}],)"
                    R"("expires_at":-9007199254740992,"issuer":)" +
                        q_issuer + R"(,"published_at":9223372036854776000,"version":"zelk/0.2"})");

  l.entries.clear();
  l.extensions.emplace();
  EXPECT_TRUE(
      revocation_list_jcs(l)->starts_with(R"({"entries":[],"expires_at":-9007199254740992,)"));
  EXPECT_NE(revocation_list_jcs(l)->find(R"(,"extensions":{},"issuer")"), std::string::npos);

  auto nested = decode_revocation_envelope(envelope(list(
      "[]",
      R"(,"extensions":{"b":1,"a":{"d":2.50,"c":[1e2,{"z":null,"\ue000":0,"\ud83d\ude00":1}]},"a2":1,"a2":-0.0})")));
  ASSERT_TRUE(nested.has_value()) << nested.error().full();
  auto nb = revocation_list_jcs(nested->revocation_list);
  ASSERT_TRUE(nb.has_value());
  EXPECT_NE(nb->find("\"extensions\":{\"a\":{\"c\":[100,{\"z\":null,\"\xf0\x9f\x98\x80\":1,"
                     "\"\xee\x80\x80\":0}],\"d\":2.5},"
                     R"("a2":0,"b":1},"issuer")"),
            std::string::npos)
      << *nb;

  l.extensions->push_back_unchecked("bad", json::Value(std::numeric_limits<double>::quiet_NaN()));
  auto refused = revocation_list_jcs(l);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(),
            "canonicalization failed: serialization failed: invalid float value");
}

TEST_F(RevocationCanonical, UuidFormsGiveTheSameBytes) {
  auto a = decode_revocation_envelope(
      envelope(list(R"([{"jti":"{ABCDEF00-0000-0000-0000-000000000000}","revoked_at":5}])")));
  auto b = decode_revocation_envelope(envelope(
      list(R"([{"jti":"urn:uuid:abcdef00-0000-0000-0000-000000000000","revoked_at":5}])")));
  ASSERT_TRUE(a && b);
  EXPECT_EQ(*revocation_list_jcs(a->revocation_list), *revocation_list_jcs(b->revocation_list));
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

// Every prefix and every single-byte change of a full envelope either reads or fails with a
// positioned message; none may crash, hang or leak (the sanitizer build runs this).
TEST(RevocationRobustness, PrefixesAndByteChanges) {
  const std::string issuer = test::ed_key(7).aid_text();
  const std::string doc =
      R"({"revocation_list":{"version":"zelk/0.2","issuer":")" + issuer +
      R"(","published_at":1,"expires_at":-3,"entries":[{"jti":"00000000-0000-0000-0000-000000000000",)"
      R"("revoked_at":5,"reason":"a\u00e9"},["{00000000-0000-0000-0000-000000000001}",6]],)"
      R"("extensions":{"n":[1.5e3,null,true],"o":{"k":"v"}}},"signature":"s"})";
  ASSERT_TRUE(decode_revocation_envelope(doc).has_value());
  auto check = [](const std::string& text) {
    auto read = decode_revocation_envelope(text);
    if (read) {
      (void)revocation_list_jcs(read->revocation_list);
      (void)encode_revocation_envelope(*read);
    } else {
      EXPECT_TRUE(read.error().has_position()) << text << ": " << read.error().message;
    }
  };
  for (std::size_t n = 0; n < doc.size(); ++n) check(doc.substr(0, n));
  const char replacements[] = {'\0', '"', '\\', '{', '}', '[', ']', ',',    ':',
                               '-',  '0', 'e',  '.', ' ', 'u', 'x', '\x80', '\xFF'};
  for (std::size_t i = 0; i < doc.size(); ++i)
    for (char r : replacements) {
      std::string text = doc;
      text[i] = r;
      check(text);
    }
}

}  // namespace
}  // namespace zelk
