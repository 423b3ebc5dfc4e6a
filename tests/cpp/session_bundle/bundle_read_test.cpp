#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "bundle_fixture.hpp"
#include "session_bundle/bundle.hpp"

namespace zelk {
namespace {

using test::json_str;

const std::string kAlice = test::ed_key(2).aid_text();
const std::string kCoordinator = test::ed_key(1).aid_text();
const std::string kSignature(86, 'A');

// The members of a bundle as raw JSON texts, in declared order.
struct Members {
  std::string version = json_str("zelk/0.2");
  std::string session_id = json_str(test::kSessionId);
  std::string coordinator = json_str(kCoordinator);
  std::string issued_at = "1700000000";
  std::string expires_at = "1700003540";
  std::string participants = R"([{"aid":")" + kAlice + R"(","tct":"a.b.c"}])";
  std::string extensions;  // left out when empty
  std::string signature = json_str(kSignature);

  std::string object() const {
    std::string out = R"({"version":)" + version + R"(,"session_id":)" + session_id +
                      R"(,"coordinator":)" + coordinator + R"(,"issued_at":)" + issued_at +
                      R"(,"expires_at":)" + expires_at + R"(,"participants":)" + participants;
    if (!extensions.empty()) out += R"(,"extensions":)" + extensions;
    return out + R"(,"signature":)" + signature + "}";
  }
  std::string envelope() const { return R"({"session_bundle":)" + object() + "}"; }
};

std::string error_of(std::string_view text) {
  auto r = decode_session_bundle_envelope(text);
  return r ? "(read)" : r.error().full();
}

TEST(BundleRead, ObjectFormReadsEveryMember) {
  Members m;
  m.extensions = R"({"b":1,"a":true,"b":2})";
  auto bundle = decode_session_bundle_envelope(m.envelope());
  ASSERT_TRUE(bundle.has_value()) << bundle.error().full();
  EXPECT_EQ(bundle->version, "zelk/0.2");
  EXPECT_EQ(bundle->session_id.to_string(), test::kSessionId);
  EXPECT_EQ(bundle->coordinator.text(), kCoordinator);
  EXPECT_EQ(bundle->issued_at, 1'700'000'000);
  EXPECT_EQ(bundle->expires_at, 1'700'003'540);
  ASSERT_EQ(bundle->participants.size(), 1u);
  EXPECT_EQ(bundle->participants[0].aid.text(), kAlice);
  EXPECT_EQ(bundle->participants[0].tct, "a.b.c");
  EXPECT_EQ(bundle->signature, kSignature);
  // A repeated extension name keeps its first place and its last value.
  ASSERT_TRUE(bundle->extensions.has_value());
  EXPECT_EQ(json::to_json_string(*bundle->extensions), R"({"b":2,"a":true})");
}

TEST(BundleRead, ExtensionsAbsentOrNullAreAbsent) {
  Members m;
  EXPECT_FALSE(decode_session_bundle_envelope(m.envelope())->extensions.has_value());
  m.extensions = "null";
  EXPECT_FALSE(decode_session_bundle_envelope(m.envelope())->extensions.has_value());
}

TEST(BundleRead, ArrayFormsReadLikeTheObjectForm) {
  Members m;
  m.extensions = R"({"x":1})";
  const std::string array = "[" + m.version + "," + m.session_id + "," + m.coordinator + "," +
                            m.issued_at + "," + m.expires_at + R"(,[[")" + kAlice +
                            R"(","a.b.c"]],)" + m.extensions + "," + m.signature + "]";
  auto from_array = decode_session_bundle_envelope("[" + array + "]");
  ASSERT_TRUE(from_array.has_value()) << from_array.error().full();
  EXPECT_EQ(*from_array, *decode_session_bundle_envelope(m.envelope()));
  EXPECT_EQ(*decode_session_bundle_envelope(R"({"session_bundle":)" + array + "}"), *from_array);
}

TEST(BundleRead, SessionIdFormsReadAsOneUuid) {
  for (std::string_view form :
       {"6BA7B810-9DAD-41D1-80B4-00C04FD430C8", "6ba7b8109dad41d180b400c04fd430c8",
        "{6ba7b810-9dad-41d1-80b4-00c04fd430c8}",
        "urn:uuid:6ba7b810-9dad-41d1-80b4-00c04fd430c8"}) {
    Members m;
    m.session_id = json_str(form);
    auto bundle = decode_session_bundle_envelope(m.envelope());
    ASSERT_TRUE(bundle.has_value()) << form;
    EXPECT_EQ(bundle->session_id.to_string(), test::kSessionId);
  }
}

TEST(BundleRead, EmptyParticipantsRead) {
  Members m;
  m.participants = "[]";
  EXPECT_TRUE(decode_session_bundle_envelope(m.envelope())->participants.empty());
}

struct BadMember {
  const char* what;
  std::string Members::*member;
  std::string raw;
  std::string message;  // without the position suffix
};

TEST(BundleRead, MemberRefusals) {
  const std::string bundle_names =
      "`version`, `session_id`, `coordinator`, `issued_at`, `expires_at`, `participants`, "
      "`extensions`, `signature`";
  const BadMember cases[] = {
      {"session id text", &Members::session_id, json_str("6ba7b810"),
       "UUID parsing failed: invalid length: found 8"},
      {"session id number", &Members::session_id, "5",
       "invalid type: integer `5`, expected a formatted UUID string"},
      {"coordinator", &Members::coordinator, json_str("did:web:x"),
       parse_aid("did:web:x").error().message()},
      {"participant aid", &Members::participants, R"([{"aid":"aid:pubkey:AAAA","tct":"t"}])",
       parse_aid("aid:pubkey:AAAA").error().message()},
      {"issued_at float", &Members::issued_at, "1.5",
       "invalid type: floating point `1.5`, expected i64"},
      {"expires_at range", &Members::expires_at, "9223372036854775808",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"participants object", &Members::participants, "{}",
       "invalid type: map, expected a sequence"},
      {"participant string", &Members::participants, R"(["x"])",
       R"(invalid type: string "x", expected struct ParticipantEntry)"},
      {"participant short array", &Members::participants, "[[\"" + kAlice + "\"]]",
       "invalid length 1, expected struct ParticipantEntry with 2 elements"},
      {"participant extra member", &Members::participants,
       R"([{"aid":")" + kAlice + R"(","tct":"t","x":1}])",
       "unknown field `x`, expected `aid` or `tct`"},
      {"extensions array", &Members::extensions, "[]", "invalid type: sequence, expected a map"},
      {"version number", &Members::version, "2", "invalid type: integer `2`, expected a string"},
  };
  for (const BadMember& c : cases) {
    Members m;
    m.*c.member = c.raw;
    const std::string got = error_of(m.envelope());
    EXPECT_TRUE(got.starts_with(c.message + " at line 1 column ")) << c.what << ": " << got;
  }
  Members m;
  std::string text = m.envelope();
  text.insert(text.find(R"("signature")"), R"("foo":1,)");
  EXPECT_TRUE(error_of(text).starts_with("unknown field `foo`, expected one of " + bundle_names +
                                         " at line 1 column "))
      << error_of(text);
}

TEST(BundleRead, EnvelopeShapeRefusals) {
  Members m;
  const std::string inner = m.object();
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {R"({"session_bundle":)" + inner + R"(,"x":1})",
       "unknown field `x`, expected `session_bundle`"},
      {R"({"session_bundle":)" + inner + R"(,"session_bundle":)" + inner + "}",
       "duplicate field `session_bundle`"},
      {"{}", "missing field `session_bundle`"},
      {"[]", "invalid length 0, expected struct SessionBundleEnvelope with 1 element"},
      {"3", "invalid type: integer `3`, expected struct SessionBundleEnvelope"},
      {R"({"session_bundle":[]})",
       "invalid length 0, expected struct SessionTrustBundle with 8 elements"},
      {R"({"session_bundle":"x"})",
       R"(invalid type: string "x", expected struct SessionTrustBundle)"},
      {m.envelope() + " x", "trailing characters"},
  };
  for (const Case& c : cases) {
    const std::string got = error_of(c.text);
    EXPECT_TRUE(got.starts_with(c.message + " at line ")) << c.text << "\n" << got;
  }
}

TEST(BundleRead, RepeatedAndMissingBundleMembers) {
  Members m;
  std::string twice = m.envelope();
  twice.insert(twice.find(R"("signature")"), R"("issued_at":1,)");
  EXPECT_TRUE(error_of(twice).starts_with("duplicate field `issued_at` at line 1 column "));
  std::string without = m.envelope();
  without.erase(without.find(R"(,"expires_at")"),
                std::string(R"(,"expires_at":1700003540)").size());
  EXPECT_TRUE(error_of(without).starts_with("missing field `expires_at` at line 1 column "))
      << error_of(without);
}

// The figure of a short array is the position of the first missing required member.
TEST(BundleRead, ShortAndLongArrays) {
  Members m;
  const std::string head =
      m.version + "," + m.session_id + "," + m.coordinator + "," + m.issued_at + "," + m.expires_at;
  const std::string expected = ", expected struct SessionTrustBundle with 8 elements at line 1 ";
  const std::string five = "[" + head + "]";
  const std::string six = "[" + head + "," + m.participants + "]";
  const std::string seven = "[" + head + "," + m.participants + ",null]";
  EXPECT_TRUE(error_of("[" + five + "]").starts_with("invalid length 5" + expected));
  EXPECT_TRUE(error_of("[" + six + "]").starts_with("invalid length 7" + expected));
  EXPECT_TRUE(error_of("[" + seven + "]").starts_with("invalid length 7" + expected));
  // Seven elements without extensions: the signature text is read as the extensions object.
  const std::string no_extensions = "[" + head + "," + m.participants + "," + m.signature + "]";
  EXPECT_TRUE(error_of("[" + no_extensions + "]")
                  .starts_with(R"(invalid type: string ")" + kSignature + R"(", expected a map)"));
  const std::string nine = "[" + head + "," + m.participants + ",null," + m.signature + ",1]";
  EXPECT_TRUE(error_of("[" + nine + "]").starts_with("trailing characters at line 1 column "));
}

TEST(BundleRead, PositionSuffixCountsLinesAndColumns) {
  Members m;
  m.coordinator = json_str("nope");
  const std::string text = "{\n  \"session_bundle\": " + m.object() + "\n}";
  const std::string got = error_of(text);
  const std::string head = parse_aid("nope").error().message() + " at line 2 column ";
  ASSERT_TRUE(got.starts_with(head)) << got;
  const std::size_t after = text.find("\"nope\"") + 6 - text.find('\n') - 1;
  EXPECT_EQ(got, head + std::to_string(after));
}

}  // namespace
}  // namespace zelk
