#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/json/parse.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

using namespace testing;

struct Case {
  std::string text;
  const char* message;
};

template <typename T>
std::string error_of(std::string_view text) {
  auto r = read_record<T>(text);
  return r ? std::string("(read)") : r.error().full();
}

template <typename T>
void expect_errors(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(error_of<T>(c.text), c.message) << c.text;
}

TEST(RecordText, JwsHeaderWorkedExamples) {
  expect_errors<JwsHeader>({
      {R"({"alg":"a","alg":"b"})", "duplicate field `alg` at line 1 column 16"},
      {R"({"alg":null,"alg":"b"})", "invalid type: null, expected a string at line 1 column 11"},
      {"{}", "missing field `alg` at line 1 column 2"},
      {R"({"typ":"t"})", "missing field `alg` at line 1 column 11"},
      {"{\n  \"alg\": \"a\"\n}", "missing field `typ` at line 3 column 1"},
      {R"(["a"])",
       "invalid length 1, expected struct JwsHeader with 2 elements at line 1 column 5"},
      {R"(["a" ])",
       "invalid length 1, expected struct JwsHeader with 2 elements at line 1 column 6"},
      {"[]", "invalid length 0, expected struct JwsHeader with 2 elements at line 1 column 2"},
      {"[1]", "invalid type: integer `1`, expected a string at line 1 column 2"},
      {R"(["a","b","c"])", "trailing characters at line 1 column 10"},
      {R"(["a","b",])", "trailing comma at line 1 column 10"},
      {R"(["a","b" x])", "trailing characters at line 1 column 10"},
      {R"(["a","b",)", "trailing characters at line 1 column 9"},
      {R"(["a","b")", "EOF while parsing a list at line 1 column 8"},
      {R"({"x":1})", "unknown field `x`, expected `alg` or `typ` at line 1 column 4"},
      {R"({"alg":"EdDSA","typ":"JWT","kid":"k"})",
       "unknown field `kid`, expected `alg` or `typ` at line 1 column 32"},
      {"{\n  \"alg\": \"a\",\n  \"x\": 1\n}",
       "unknown field `x`, expected `alg` or `typ` at line 3 column 5"},
      {R"({"x"})", "unknown field `x`, expected `alg` or `typ` at line 1 column 5"},
      {R"({"alg":1})", "invalid type: integer `1`, expected a string at line 1 column 8"},
      {"{\n  \"alg\": 1\n}", "invalid type: integer `1`, expected a string at line 2 column 10"},
      {R"({"alg":[1]})", "invalid type: sequence, expected a string at line 1 column 7"},
      {R"({"alg": {"a":1}})", "invalid type: map, expected a string at line 1 column 8"},
      {R"("x")", "invalid type: string \"x\", expected struct JwsHeader at line 1 column 3"},
      {"5", "invalid type: integer `5`, expected struct JwsHeader at line 1 column 1"},
      {"null", "invalid type: null, expected struct JwsHeader at line 1 column 4"},
      {"true", "invalid type: boolean `true`, expected struct JwsHeader at line 1 column 4"},
      {" -1.5 ",
       "invalid type: floating point `-1.5`, expected struct JwsHeader at line 1 column 5"},
      {"", "EOF while parsing a value at line 1 column 0"},
      {R"({"alg":"a","typ":"b"} x)", "trailing characters at line 1 column 23"},
      {R"({"alg":"a","typ":"b"}})", "trailing characters at line 1 column 22"},
      {R"({"alg":"a)", "EOF while parsing a string at line 1 column 9"},
      {R"({"alg":)", "EOF while parsing a value at line 1 column 7"},
      {R"({"alg":"a",)", "EOF while parsing a value at line 1 column 11"},
      {R"({"alg":"a","typ":"b",})", "trailing comma at line 1 column 22"},
      {R"({"alg" "a"})", "expected `:` at line 1 column 8"},
      // The first problem in text order wins: a syntax error before a missing member.
      {R"({"typ":"b" "alg":"a"})", "expected `,` or `}` at line 1 column 12"},
      {R"({"alg":nul})", "expected ident at line 1 column 11"},
  });
  auto ok = read_record<JwsHeader>("  {\"typ\" : \"JWT\",\n\"alg\":\"EdDSA\"}\n");
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(*ok, (JwsHeader{"EdDSA", "JWT"}));
  auto array = read_record<JwsHeader>(R"([ "ES256" , "t" ])");
  ASSERT_TRUE(array.has_value());
  EXPECT_EQ(*array, (JwsHeader{"ES256", "t"}));
}

TEST(RecordText, IntegerMembers) {
  expect_errors<Rec>({
      {"[1]", "invalid length 1, expected struct Rec with 2 elements at line 1 column 3"},
      {R"({"n":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64 at line 1 column 24"},
      {R"({"n":18446744073709551616})",
       "invalid type: floating point `1.8446744073709552e+19`, expected i64 at line 1 column 25"},
      {R"({"n":1.5})", "invalid type: floating point `1.5`, expected i64 at line 1 column 8"},
      {R"({"n":1.5 })", "invalid type: floating point `1.5`, expected i64 at line 1 column 8"},
      {R"({"n":-0})", "invalid type: floating point `-0.0`, expected i64 at line 1 column 7"},
      {R"({"n":1e300})", "invalid type: floating point `1e+300`, expected i64 at line 1 column 10"},
      {R"({"n":1.0})", "invalid type: floating point `1.0`, expected i64 at line 1 column 8"},
      {R"({"n":"5"})", "invalid type: string \"5\", expected i64 at line 1 column 8"},
      {R"({"n":null})", "invalid type: null, expected i64 at line 1 column 9"},
      {R"({"n":false})", "invalid type: boolean `false`, expected i64 at line 1 column 10"},
      {R"({"n":[]})", "invalid type: sequence, expected i64 at line 1 column 5"},
      {R"({"n":1e400})", "number out of range at line 1 column 10"},
      {R"({"n":01})", "invalid number at line 1 column 7"},
      {R"({"n":1})", "missing field `m` at line 1 column 7"},
  });
  auto r = read_record<Rec>(R"({"m":-9223372036854775808,"n":9223372036854775807})");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->n, INT64_MAX);
  EXPECT_EQ(r->m, INT64_MIN);

  expect_errors<Unsigned>({
      {R"({"u":-1})", "invalid value: integer `-1`, expected u64 at line 1 column 7"},
      {R"({"u":2.0})", "invalid type: floating point `2.0`, expected u64 at line 1 column 8"},
  });
  EXPECT_EQ(read_record<Unsigned>(R"({"u":18446744073709551615})")->u, UINT64_MAX);
  expect_errors<Small>({
      {R"({"i":2147483648,"b":0})",
       "invalid value: integer `2147483648`, expected i32 at line 1 column 15"},
      {R"({"i":-2147483649,"b":0})",
       "invalid value: integer `-2147483649`, expected i32 at line 1 column 16"},
      {R"({"i":0,"b":256})", "invalid value: integer `256`, expected u8 at line 1 column 14"},
      {R"({"i":0,"b":-1})", "invalid value: integer `-1`, expected u8 at line 1 column 13"},
  });
  expect_errors<Flags>({
      {R"({"on":1})", "invalid type: integer `1`, expected a boolean at line 1 column 7"},
      {R"({"on":true,"ratio":"x"})",
       "invalid type: string \"x\", expected f64 at line 1 column 22"},
  });
  auto flags = read_record<Flags>(R"({"on":true,"ratio":-3})");
  ASSERT_TRUE(flags.has_value());
  EXPECT_TRUE(flags->on);
  EXPECT_EQ(flags->ratio, -3.0);
}

TEST(RecordText, UuidMember) {
  expect_errors<IdRec>({
      {R"({"id":"nope"})",
       "UUID parsing failed: invalid character: found `n` at 0 at line 1 column 12"},
      {R"({"id":5})",
       "invalid type: integer `5`, expected a formatted UUID string at line 1 column 7"},
      {R"({"id":{}})", "invalid type: map, expected a formatted UUID string at line 1 column 6"},
  });
  auto r = read_record<IdRec>(R"({"id":"67E55044-10B1-426F-9247-BB680E5FE0C8"})");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->id.to_string(), "67e55044-10b1-426f-9247-bb680e5fe0c8");
}

TEST(RecordText, EnumMember) {
  expect_errors<Descriptor>({
      {R"({"type":"OIDC","subject":"s"})",
       "unknown variant `OIDC`, expected `oidc` or `pinned_key` at line 1 column 14"},
      {R"({"type":{"oidc":null,"x":1},"subject":"s"})", "expected value at line 1 column 20"},
      {R"({"type":{"oidc":null )", "EOF while parsing an object at line 1 column 21"},
      {R"({"type":{"OIDC":null},"subject":"s"})",
       "unknown variant `OIDC`, expected `oidc` or `pinned_key` at line 1 column 15"},
      {R"({"type":{"oidc":5},"subject":"s"})",
       "invalid type: integer `5`, expected unit at line 1 column 17"},
      {R"({"type":{"oidc":[]},"subject":"s"})",
       "invalid type: sequence, expected unit at line 1 column 16"},
      {R"({"type":{"oidc" 5}})", "expected `:` at line 1 column 17"},
      {R"({"type":{},"subject":"s"})", "expected value at line 1 column 10"},
      {R"({"type":{5:null}})",
       "invalid type: integer `5`, expected variant identifier at line 1 column 10"},
      {R"({"type":5,"subject":"s"})", "expected value at line 1 column 9"},
      {R"({"type":null,"subject":"s"})", "expected value at line 1 column 9"},
      {R"({"type": [] ,"subject":"s"})", "expected value at line 1 column 10"},
      {R"({"type":)", "EOF while parsing a value at line 1 column 8"},
  });
  auto r = read_record<Descriptor>(R"({"subject":"s","type":{ "pinned_key" : null }})");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->type, IdentityType::PinnedKey);
}

TEST(RecordText, LeftOffMembersInArrayForm) {
  expect_errors<Descriptor>({
      {R"(["pinned_key"])",
       "invalid length 2, expected struct Desc with 4 elements at line 1 column 14"},
      {R"(["pinned_key", null])",
       "invalid length 2, expected struct Desc with 4 elements at line 1 column 20"},
      {"[]", "invalid length 0, expected struct Desc with 4 elements at line 1 column 2"},
      {R"(["pinned_key", null, "s", null, 1])", "trailing characters at line 1 column 33"},
      {R"(["pinned_key", null, "s", 5])",
       "invalid type: integer `5`, expected a map at line 1 column 27"},
  });
  auto three = read_record<Descriptor>(R"(["pinned_key", null, "s"])");
  ASSERT_TRUE(three.has_value());
  EXPECT_EQ(*three, (Descriptor{IdentityType::PinnedKey, std::nullopt, "s", std::nullopt}));
  auto four = read_record<Descriptor>(R"(["oidc", "https://i", "s", {"b":1,"a":2,"b":3}])");
  ASSERT_TRUE(four.has_value());
  EXPECT_EQ(four->issuer, "https://i");
  std::string written;
  write_record(*four, written);
  EXPECT_EQ(written, R"({"type":"oidc","issuer":"https://i","subject":"s","ext":{"a":2,"b":3}})");

  // An optional member that may not be left off is still required in array form.
  expect_errors<Claims>({
      {R"(["v", [], ["k"], 1])",
       "invalid length 4, expected struct Claims with 6 elements at line 1 column 19"},
  });
  EXPECT_TRUE(read_record<Claims>(R"(["v", [], ["k"], 1, null])").has_value());

  // A left-off member before a required one: the array must reach the required one.
  expect_errors<Tail>({
      {R"(["a"])", "invalid length 2, expected struct Tail with 3 elements at line 1 column 5"},
      {R"(["a", "sig"])", "invalid type: string \"sig\", expected a map at line 1 column 11"},
  });
  EXPECT_TRUE(read_record<Tail>(R"(["a", null, "sig"])").has_value());

  expect_errors<Cnf>(
      {{"[]", "invalid length 0, expected struct Cnf with 1 element at line 1 column 2"}});
}

TEST(RecordText, UntaggedMember) {
  expect_errors<AudRec>({
      {R"({"aud":5,"n":1})",
       "data did not match any variant of untagged enum Aud at line 1 column 8"},
      {R"({"n":1,"aud":5})",
       "data did not match any variant of untagged enum Aud at line 1 column 15"},
      {R"({"n":1,"aud":5 } )",
       "data did not match any variant of untagged enum Aud at line 1 column 16"},
      {"[5, 1]", "data did not match any variant of untagged enum Aud at line 1 column 4"},
      {R"([["a", 1], 1])",
       "data did not match any variant of untagged enum Aud at line 1 column 11"},
      {R"({"aud":null,"n":1})",
       "data did not match any variant of untagged enum Aud at line 1 column 11"},
      // The value is read whole first: its syntax errors come before the mismatch.
      {R"({"aud":[1,],"n":1})", "trailing comma at line 1 column 11"},
  });
  auto one = read_record<AudRec>(R"({"aud":"x","n":1})");
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(std::get<std::string>(one->aud), "x");
  auto list = read_record<AudRec>(R"([["a","b"], 2])");
  ASSERT_TRUE(list.has_value());
  EXPECT_EQ(std::get<std::vector<std::string>>(list->aud), (std::vector<std::string>{"a", "b"}));
  std::string written;
  write_record(*list, written);
  EXPECT_EQ(written, R"({"aud":["a","b"],"n":2})");
  // At top level the mismatch has no position.
  Reader reader("5");
  Aud aud;
  EXPECT_FALSE(AudCodec::read(reader, aud));
  EXPECT_EQ(reader.error().full(), "data did not match any variant of untagged enum Aud");
}

TEST(RecordText, ConvertedStringMember) {
  expect_errors<EvenRec>({
      {R"({"e":"abc"})", "odd text `abc` at line 1 column 10"},
      {R"({"e": "abc" })", "odd text `abc` at line 1 column 11"},
      {R"({"e":"ab","f":"x"})", "odd text `x` at line 1 column 17"},
      {R"({"e":1})", "invalid type: integer `1`, expected a string at line 1 column 6"},
      {R"({"f":null})", "missing field `e` at line 1 column 10"},
  });
  auto r = read_record<EvenRec>(R"({"e":"abcd","f":null})");
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->e.value, 4);
  EXPECT_FALSE(r->f.has_value());
  std::string written;
  write_record(*r, written);
  EXPECT_EQ(written, R"({"e":"xxxx"})");
}

// A converter that passes on another reader's message gives up that message's position.
struct Relay {
  std::string text;
};
struct RelayRule {
  using type = Relay;
  static std::expected<Relay, std::string> parse(std::string) {
    return std::unexpected("inner trouble at line 7 column 3");
  }
  static std::string_view text(const Relay& r) { return r.text; }
};
struct RelayRec {
  Relay r;
};

}  // namespace

template <>
struct RecordTraits<RelayRec> {
  static constexpr std::string_view name = "RelayRec";
  static constexpr std::tuple members{
      member::required("r", &RelayRec::r, via<ConvertedString<RelayRule>>)};
};

namespace {

struct NonEmpty {
  static std::optional<std::string> check(const std::string& s) {
    if (s.empty()) return "empty text";
    return std::nullopt;
  }
};
struct CheckedRec {
  std::string x;
  std::int64_t y = 0;
};

}  // namespace

template <>
struct RecordTraits<CheckedRec> {
  static constexpr std::string_view name = "CheckedRec";
  static constexpr std::tuple members{
      member::required("x", &CheckedRec::x, via<Checked<Codec<std::string>, NonEmpty>>),
      member::required("y", &CheckedRec::y),
  };
};

namespace {

// A check of a whole value is placed like the other record-level errors.
TEST(RecordText, CheckedMembersArePlacedByTheirContainer) {
  expect_errors<CheckedRec>({
      {R"({"x":"" ,"y":1})", "empty text at line 1 column 8"},
      {R"({"y":1,"x":"" })", "empty text at line 1 column 15"},
      {R"(["" , 1])", "empty text at line 1 column 6"},
  });
  EXPECT_TRUE(read_record<CheckedRec>(R"(["a", 1])").has_value());
  auto v = parse_value(R"({"x":"","y":1})");
  EXPECT_EQ(record_from_value<CheckedRec>(*v).error().full(), "empty text");
}

TEST(RecordText, ConverterMessageWithPositionIsSplit) {
  auto r = read_record<RelayRec>(R"({"r":"x"})");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().message, "inner trouble");
  EXPECT_EQ(r.error().line, 7u);
  EXPECT_EQ(r.error().column, 3u);
}

TEST(RecordText, NestedRecordsListsMapsAndValues) {
  const std::string text =
      R"({"ver":"v","grants":["a","b"],"cnf":{"jkt":"t"},"payload":{"z":[1,{"q":null}]},)"
      R"("note":null,"ext":{"b":1,"a":{"c":true},"b":2}})";
  auto r = read_record<Claims>(text);
  ASSERT_TRUE(r.has_value()) << r.error().full();
  EXPECT_EQ(r->grants, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(r->cnf.jkt, "t");
  EXPECT_FALSE(r->note.has_value());
  ASSERT_TRUE(r->ext.has_value());
  std::string written;
  write_record(*r, written);
  EXPECT_EQ(written,
            R"({"ver":"v","grants":["a","b"],"cnf":{"jkt":"t"},"payload":{"z":[1,{"q":null}]},)"
            R"("ext":{"b":2,"a":{"c":true}}})");

  expect_errors<Claims>({
      {R"({"ver":"v","grants":"a"})",
       "invalid type: string \"a\", expected a sequence at line 1 column 23"},
      {R"({"ver":"v","grants":["a",1]})",
       "invalid type: integer `1`, expected a string at line 1 column 26"},
      {R"({"ver":"v","grants":[],"cnf":{"jkt":"t","x":1}})",
       "unknown field `x`, expected `jkt` at line 1 column 43"},
      {R"({"ver":"v","grants":[],"cnf":{}})", "missing field `jkt` at line 1 column 31"},
      {R"({"ver":"v","grants":[],"cnf":{"jkt":"t","jkt":"u"}})",
       "duplicate field `jkt` at line 1 column 45"},
      {R"({"ver":"v","grants":[],"cnf":"t"})",
       "invalid type: string \"t\", expected struct Cnf at line 1 column 32"},
      {R"({"ver":"v","grants":[],"cnf":["t"],"ext":[]})",
       "invalid type: sequence, expected a map at line 1 column 41"},
      {R"({"ver":"v","grants":[],"cnf":["t"]})", "missing field `payload` at line 1 column 35"},
      {R"({"ver":"v","grants":[],"cnf":["t"],"payload":x})", "expected value at line 1 column 46"},
      {R"({"ver":"v","grants":[],"cnf":["t"],"nope":1})",
       "unknown field `nope`, expected one of `ver`, `grants`, `cnf`, `payload`, `note`, `ext` at "
       "line 1 column 41"},
  });
}

TEST(RecordText, RecordWithoutMembers) {
  expect_errors<Empty>({
      {"[1]", "trailing characters at line 1 column 2"},
      {R"({"a":1})", "unknown field `a`, there are no fields at line 1 column 4"},
  });
  EXPECT_TRUE(read_record<Empty>("[]").has_value());
  EXPECT_TRUE(read_record<Empty>("{}").has_value());
}

TEST(RecordText, NestingLevelsCountRecords) {
  // The record uses one level, its Value member the rest.
  const std::string ok = "{\"v\":" + std::string(126, '[') + std::string(126, ']') + "}";
  EXPECT_TRUE(read_record<Holder>(ok).has_value());
  const std::string deep = "{\"v\":" + std::string(127, '[') + std::string(127, ']') + "}";
  EXPECT_EQ(error_of<Holder>(deep), "recursion limit exceeded at line 1 column 132");
  const std::string array_form = "[" + std::string(127, '[');
  EXPECT_EQ(error_of<Holder>(array_form), "recursion limit exceeded at line 1 column 128");
}

TEST(RecordText, LenientRecordsSkipUndeclaredMembers) {
  auto r = read_record<Lenient>(
      "{\"x\":{\"deep\":[1,2,{\"y\":\"\xC3\xA9\\uD83D\\uDE00\"}]},\"alg\":\"a\",\"n\":1e300,"
      "\"kid\":\"k\"}");
  ASSERT_TRUE(r.has_value()) << r.error().full();
  EXPECT_EQ(r->alg, "a");
  EXPECT_EQ(r->kid, "k");
  EXPECT_TRUE(read_record<Lenient>(R"(["a"])").has_value());

  expect_errors<Lenient>({
      {"{\"alg\":\"a\",\"x\":\"\xDC\"}", "invalid unicode code point at line 1 column 18"},
      {R"({"x":1,"alg":2})", "invalid type: integer `2`, expected a string at line 1 column 14"},
      {R"({"x":1})", "missing field `alg` at line 1 column 7"},
      {R"({"alg":"a","alg":"b"})", "duplicate field `alg` at line 1 column 16"},
      // Declared members are read strictly.
      {R"({"alg":"\uDC00"})", "lone leading surrogate in hex escape at line 1 column 14"},
      {R"(["a", null, 1])", "trailing characters at line 1 column 13"},
  });
}

// A skipped value passes exactly the checks of reading it as a value: whatever the strict reader
// refuses, the lenient one refuses with the same message.
TEST(RecordText, SkippedValuesAreCheckedLikeAnyValue) {
  const std::vector<std::string> bad = {
      "\"\xFF\"",
      "\"\\uDC00\"",
      "\"\\uD800\"",
      "\"\\uD800x\"",
      "[\"\\uD800\\u0041\"]",
      "1e999",
      "-1e400",
      "[1,]",
      "{\"q\":1,}",
      "1.",
      "-",
      "1e",
      "01",
      "\"a\tb\"",
      "\"\\q\"",
      "\"\\u12\"",
      "nul",
      "[1 2]",
      "{\"a\" 1}",
      "{\"a\":1]",
      "[",
      "{\"a\"",
      "{\"y\":[\"\xF0\x80\x80\x80\"]}",
      std::string(200, '[') + std::string(200, ']'),
  };
  for (const std::string& value : bad) {
    const std::string text = "{\"x\":" + value + ",\"alg\":\"a\"}";
    auto strict = parse_value(text);
    ASSERT_FALSE(strict.has_value()) << value;
    auto lenient = read_record<Lenient>(text);
    ASSERT_FALSE(lenient.has_value()) << value;
    EXPECT_EQ(lenient.error().full(), strict.error().full()) << value;
  }
}

TEST(RecordText, ReaderReadsOneValueAndStops) {
  Reader reader(R"( {"alg":"a","typ":"b"} , ["c","d"])");
  JwsHeader first;
  ASSERT_TRUE(read_next(reader, first));
  EXPECT_EQ(first, (JwsHeader{"a", "b"}));
  EXPECT_EQ(reader.offset(), 22u);
  EXPECT_FALSE(reader.finish());
  EXPECT_EQ(reader.error().full(), "trailing characters at line 1 column 24");
}

}  // namespace
}  // namespace zelk::json
