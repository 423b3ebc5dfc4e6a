#include <gtest/gtest.h>

#include <string>

#include "formats/json/parse.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

using namespace testing;

Value parsed(std::string_view text) {
  auto v = parse_value(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? *v : Value();
}

template <typename T>
std::string error_of(std::string_view text) {
  auto r = record_from_value<T>(parsed(text));
  if (r) return "(read)";
  EXPECT_FALSE(r.error().has_position()) << text;
  return r.error().full();
}

struct Case {
  const char* text;
  const char* message;
};

template <typename T>
void expect_errors(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(error_of<T>(c.text), c.message) << c.text;
}

TEST(RecordValue, SameMessagesWithoutPosition) {
  expect_errors<JwsHeader>({
      {"{}", "missing field `alg`"},
      {R"(["a"])", "invalid length 1, expected struct JwsHeader with 2 elements"},
      {R"({"x":1})", "unknown field `x`, expected `alg` or `typ`"},
      {R"({"alg":[1]})", "invalid type: sequence, expected a string"},
      {R"({"alg":{}})", "invalid type: map, expected a string"},
      {R"("x")", "invalid type: string \"x\", expected struct JwsHeader"},
      {"null", "invalid type: null, expected struct JwsHeader"},
  });
  expect_errors<Rec>({
      {R"({"n":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {R"({"n":18446744073709551616})",
       "invalid type: floating point `1.8446744073709552e+19`, expected i64"},
      {R"({"n":-0})", "invalid type: floating point `-0.0`, expected i64"},
      {R"({"n":1.0})", "invalid type: floating point `1.0`, expected i64"},
  });
  expect_errors<IdRec>({
      {R"({"id":"nope"})", "UUID parsing failed: invalid character: found `n` at 0"},
      {R"({"id":5})", "invalid type: integer `5`, expected a formatted UUID string"},
  });
  expect_errors<AudRec>({
      {R"({"aud":5,"n":1})", "data did not match any variant of untagged enum Aud"},
      {R"([["a",1],1])", "data did not match any variant of untagged enum Aud"},
  });
  expect_errors<EvenRec>({{R"({"e":"abc"})", "odd text `abc`"}});
  expect_errors<Descriptor>({
      {R"(["pinned_key"])", "invalid length 2, expected struct Desc with 4 elements"},
      {R"(["pinned_key", null])", "invalid length 2, expected struct Desc with 4 elements"},
  });
}

TEST(RecordValue, RepeatedNamesKeepTheLastValue) {
  auto r = record_from_value<JwsHeader>(parsed(R"({"alg":"a","typ":"t","alg":"b"})"));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, (JwsHeader{"b", "t"}));
}

TEST(RecordValue, LongerArraysFailAfterTheirMembers) {
  expect_errors<JwsHeader>({
      {R"(["a","b","c"])", "invalid length 3, expected fewer elements in array"},
      {R"(["a",1,"c"])", "invalid type: integer `1`, expected a string"},
  });
  expect_errors<Empty>({{"[1,2]", "invalid length 2, expected fewer elements in array"}});
  expect_errors<Descriptor>(
      {{R"(["oidc",null,"s",null,1,2,3])", "invalid length 7, expected fewer elements in array"}});
  // Lists take every element.
  auto claims = record_from_value<Claims>(parsed(R"(["v",["a","b","c"],["k"],[1,2],null,{}])"));
  ASSERT_TRUE(claims.has_value());
  EXPECT_EQ(claims->grants.size(), 3u);
  EXPECT_TRUE(claims->ext.has_value());
}

TEST(RecordValue, Enumerations) {
  expect_errors<Descriptor>({
      {R"({"type":"OIDC","subject":"s"})",
       "unknown variant `OIDC`, expected `oidc` or `pinned_key`"},
      {R"({"type":{"oidc":5},"subject":"s"})", "invalid type: integer `5`, expected unit"},
      {R"({"type":{"oidc":"x"},"subject":"s"})", "invalid type: string \"x\", expected unit"},
      {R"({"type":{"nope":5},"subject":"s"})",
       "unknown variant `nope`, expected `oidc` or `pinned_key`"},
      {R"({"type":{},"subject":"s"})", "invalid value: map, expected map with a single key"},
      {R"({"type":{"oidc":null,"x":null},"subject":"s"})",
       "invalid value: map, expected map with a single key"},
      {R"({"type":5,"subject":"s"})", "invalid type: integer `5`, expected string or map"},
      {R"({"type":null,"subject":"s"})", "invalid type: null, expected string or map"},
      {R"({"type":[],"subject":"s"})", "invalid type: sequence, expected string or map"},
  });
  auto r = record_from_value<Descriptor>(parsed(R"({"type":{"pinned_key":null},"subject":"s"})"));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->type, IdentityType::PinnedKey);
}

TEST(RecordValue, LenientRecordsSkipUndeclaredMembers) {
  auto r = record_from_value<Lenient>(parsed(R"({"x":[1],"alg":"a","kid":null,"y":{}})"));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->alg, "a");
  EXPECT_FALSE(r->kid.has_value());
}

// Reading text and reading the parsed value of that text agree, except for positions.
TEST(RecordValue, AgreesWithTextReading) {
  const char* texts[] = {
      R"({"ver":"v","grants":["a"],"cnf":{"jkt":"t"},"payload":[1,{"a":-2.5}],"ext":{"z":1,"y":2}})",
      R"(["v",[],["t"],null,"note",{}])",
      R"({"ver":"v","grants":[],"cnf":["t"],"payload":{},"note":5})",
      R"({"ver":"v","grants":[true],"cnf":["t"],"payload":{}})",
      R"({"ver":"v","grants":[],"cnf":{"jkt":"t","jkt2":1},"payload":0})",
      R"({"grants":[],"cnf":["t"],"payload":0})",
      R"(["v",[],["t"],0,null,null])",
  };
  for (const char* text : texts) {
    auto from_text = read_record<Claims>(text);
    auto from_value = record_from_value<Claims>(parsed(text));
    ASSERT_EQ(from_text.has_value(), from_value.has_value()) << text;
    if (from_text) {
      EXPECT_EQ(*from_text, *from_value) << text;
    } else {
      EXPECT_EQ(from_text.error().message, from_value.error().message) << text;
    }
  }
}

TEST(ParsedText, NotesRepeatedNamesAtAnyDepth) {
  EXPECT_FALSE(parse_text(R"({"a":{"b":1,"c":[{"b":2}]},"b":3})")->repeated_names);
  for (const char* text :
       {R"({"a":1,"a":2})", R"({"a":[{"b":1,"b":1}]})", R"([{"x":{"y":0,"y":0}}])"})
    EXPECT_TRUE(parse_text(text)->repeated_names) << text;
  EXPECT_EQ(parse_text(R"({"a":1,"a":2})")->value, *parse_value(R"({"a":2})"));
  EXPECT_EQ(parse_text("{} x").error().full(), parse_value("{} x").error().full());
}

// Reading from an already parsed text gives exactly what reading the text gives, positions
// included, also where the value alone would hide a repeated name or an extra element.
TEST(ParsedText, RecordsReadAsFromTheText) {
  const char* texts[] = {
      R"({"ver":"v","grants":["a"],"cnf":{"jkt":"t"},"payload":{"k":[1]},"ext":{"z":1}})",
      R"({"ver":"v","ver":"w","grants":[],"cnf":["t"],"payload":0})",
      R"({"ver":"v","grants":[],"cnf":{"jkt":"t","jkt":"u"},"payload":0})",
      R"({"ver":"v","grants":[],"cnf":["t"],"payload":0,"ext":{"a":1,"a":2}})",
      R"({"ver":"v","grants":[],"cnf":["t"],"payload":{"q":1,"q":2}})",
      R"(["v",[],["t"],0,null,null])",
      R"(["v",[],["t"],0,null,null,1])",
      R"({"ver":"v","grants":[],"cnf":["t"],"payload":0,"x":1})",
      R"({"grants":[],"cnf":["t"],"payload":0})",
      R"({"ver":"v","grants":[],"cnf":["t"],"payload":0} x)",
      "",
  };
  for (const char* text : texts) {
    auto parsed_text = parse_text(text);
    auto from_parsed = read_record<Claims>(text, parsed_text ? &*parsed_text : nullptr);
    auto from_text = read_record<Claims>(text);
    ASSERT_EQ(from_parsed.has_value(), from_text.has_value()) << text;
    if (from_text) {
      EXPECT_EQ(*from_parsed, *from_text) << text;
    } else {
      EXPECT_EQ(from_parsed.error(), from_text.error()) << text;
    }
  }
}

}  // namespace
}  // namespace zelk::json
