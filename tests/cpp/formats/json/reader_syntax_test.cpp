#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "formats/json/float_text.hpp"
#include "formats/json/parse.hpp"

namespace zelk::json {
namespace {

struct Case {
  std::string text;
  const char* message;
};

std::string parse_error(std::string_view text) {
  auto v = parse_value(text);
  return v ? std::string("(parsed)") : v.error().full();
}

std::string scan_error(std::string_view text) {
  return check_duplicate_keys(text).value_or("(passed)");
}

// Malformed text gives the same message and position to the generic reader and to the scan.
TEST(ReaderSyntax, MessagesAndPositions) {
  const Case cases[] = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"\n", "EOF while parsing a value at line 2 column 0"},
      {"  \t\r", "EOF while parsing a value at line 1 column 4"},
      {"{\"a\":1", "EOF while parsing an object at line 1 column 6"},
      {"{", "EOF while parsing an object at line 1 column 1"},
      {"{\"a\"", "EOF while parsing an object at line 1 column 4"},
      {"{\"a\":", "EOF while parsing a value at line 1 column 5"},
      {"{\"a\":1,", "EOF while parsing a value at line 1 column 7"},
      {"[1,2", "EOF while parsing a list at line 1 column 4"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[1,", "EOF while parsing a value at line 1 column 3"},
      {"{\"a\":\"x", "EOF while parsing a string at line 1 column 7"},
      {"\"ab\\", "EOF while parsing a string at line 1 column 4"},
      {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
      {"{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
      {"{1:2}", "key must be a string at line 1 column 2"},
      {"{,}", "key must be a string at line 1 column 2"},
      {"{\"a\":1,2}", "key must be a string at line 1 column 8"},
      {"[1,]", "trailing comma at line 1 column 4"},
      {"{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"[1] x", "trailing characters at line 1 column 5"},
      {"1 2", "trailing characters at line 1 column 3"},
      {"nax", "expected ident at line 1 column 2"},
      {"trve", "expected ident at line 1 column 3"},
      {"fals", "EOF while parsing a value at line 1 column 4"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
      {"tru", "EOF while parsing a value at line 1 column 3"},
      {"01", "invalid number at line 1 column 2"},
      {"-01", "invalid number at line 1 column 3"},
      {"-x", "invalid number at line 1 column 2"},
      {"-", "EOF while parsing a value at line 1 column 1"},
      {"1.x", "invalid number at line 1 column 3"},
      {"1.", "EOF while parsing a value at line 1 column 2"},
      {"1e", "EOF while parsing a value at line 1 column 2"},
      {"1e+", "EOF while parsing a value at line 1 column 3"},
      {"1ex", "invalid number at line 1 column 3"},
      {"1e-x", "invalid number at line 1 column 4"},
      {"1e400", "number out of range at line 1 column 5"},
      {"2e308", "number out of range at line 1 column 5"},
      {"-1e400", "number out of range at line 1 column 6"},
      {"[1e2147483648]", "number out of range at line 1 column 13"},
      {"1e99999999999", "number out of range at line 1 column 12"},
      {"\"a\\q\"", "invalid escape at line 1 column 4"},
      {"\"a\\u12x4\"", "invalid escape at line 1 column 8"},
      {"\"a\nb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"\"a\tb\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"a\\uDC00\"", "lone leading surrogate in hex escape at line 1 column 8"},
      {"\"a\\uD800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 14"},
      {"\"a\\uD800\\uD800\"", "lone leading surrogate in hex escape at line 1 column 14"},
      {"\"a\\uD800\"", "unexpected end of hex escape at line 1 column 9"},
      {"\"a\\uD800\\n\"", "unexpected end of hex escape at line 1 column 10"},
      {"\"a\\uD800", "EOF while parsing a string at line 1 column 8"},
      {"\"a\\uD800\\", "EOF while parsing a string at line 1 column 9"},
      {"{\"a\":\"x\xFF\"}", "invalid unicode code point at line 1 column 9"},
      {"{\"x\xC3\":1}", "invalid unicode code point at line 1 column 5"},
      {"\"\xC0\x80\"", "invalid unicode code point at line 1 column 4"},
      {"\"\xED\xA0\x80\"", "invalid unicode code point at line 1 column 5"},
      {"\"\xF4\x90\x80\x80\"", "invalid unicode code point at line 1 column 6"},
      {"\"\xE2\x82\"", "invalid unicode code point at line 1 column 4"},
      // Inside a string, control characters and escapes are checked before UTF-8.
      {"\"\xFF\x01\"",
       "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"\"\xFF\\q\"", "invalid escape at line 1 column 4"},
      {"\"\xFF", "EOF while parsing a string at line 1 column 2"},
      {"x", "expected value at line 1 column 1"},
      {"[}", "expected value at line 1 column 2"},
      {"{\"a\":}", "expected value at line 1 column 6"},
      {"'a'", "expected value at line 1 column 1"},
      {"\xEF\xBB\xBF{}", "expected value at line 1 column 1"},
      {"\f1", "expected value at line 1 column 1"},
      {"[\n  1,\n  x\n]", "expected value at line 3 column 3"},
      // CR does not start a line; columns count bytes.
      {"\r\r[x", "expected value at line 1 column 4"},
      {"[\"\xC3\xA9\", x]", "expected value at line 1 column 8"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_error(c.text), c.message) << c.text;
    if (std::string_view(c.message).starts_with("trailing characters")) continue;
    EXPECT_EQ(scan_error(c.text), c.message) << c.text;
  }
}

TEST(ReaderSyntax, RecursionLimit) {
  const std::string ok = std::string(127, '[') + std::string(127, ']');
  EXPECT_TRUE(parse_value(ok).has_value());
  EXPECT_EQ(scan_error(ok), "(passed)");
  const std::string deep(128, '[');
  EXPECT_EQ(parse_error(deep), "recursion limit exceeded at line 1 column 128");
  EXPECT_EQ(scan_error(deep), "recursion limit exceeded at line 1 column 128");
  std::string objects;
  for (int i = 0; i < 128; ++i) objects += "{\"a\":";
  EXPECT_EQ(parse_error(objects), "recursion limit exceeded at line 1 column 636");
  // Levels are given back when a container closes.
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += "[[]],";
  EXPECT_TRUE(parse_value("[" + wide + "1]").has_value());
}

TEST(ReaderSyntax, NumberKinds) {
  const struct {
    const char* text;
    Value::Kind kind;
  } cases[] = {
      {"0", Value::Kind::PosInt},
      {"18446744073709551615", Value::Kind::PosInt},
      {"18446744073709551616", Value::Kind::Float},
      {"-1", Value::Kind::NegInt},
      {"-9223372036854775808", Value::Kind::NegInt},
      {"-9223372036854775809", Value::Kind::Float},
      {"-0", Value::Kind::Float},
      {"1.0", Value::Kind::Float},
      {"1e2", Value::Kind::Float},
      {"0.0", Value::Kind::Float},
      {"1E2", Value::Kind::Float},
  };
  for (const auto& c : cases) {
    auto v = parse_value(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_EQ(v->kind(), c.kind) << c.text;
  }
  EXPECT_EQ(parse_value("-9223372036854775808")->as_neg_int(), INT64_MIN);
  EXPECT_TRUE(std::signbit(parse_value("-0")->as_float()));
  EXPECT_EQ(parse_value("18446744073709551615")->as_pos_int(), UINT64_MAX);
}

// Every float reads as the correctly rounded double of its text (ties to even); underflow gives
// zero of the text's sign.
TEST(ReaderSyntax, FloatValues) {
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"9007199254740993.0", 9007199254740992.0},
      {"9007199254740995.0", 9007199254740996.0},
      {"123456789012345680000", 1.2345678901234568e20},
      {"333333333.3333333", 333333333.3333333},
      {"1.0000000000000001e+23", 1.0000000000000001e23},
      {"2.2250738585072011e-308", 2.225073858507201e-308},
      {"2.4703282292062328e-324", 5e-324},
      {"2.4703282292062327e-324", 0.0},
      {"1.7976931348623158e308", 1.7976931348623157e308},
      {"0.12345678901234567890123", 0.12345678901234568},
      {"1" + std::string(400, '0') + "e-400", 1.0},
      {"18446744073709551616", 1.8446744073709552e19},
      {"333333333.3333333", 333333333.3333333},
      {"1.5", 1.5},
      {"-2.5e-10", -2.5e-10},
      {"1e23", 1e23},
      {"8.41e21", 8.41e21},
      {"1e308", 1e308},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"2.4703282292062328e-324", 5e-324},
      {"2.4703282292062327e-324", 0.0},
      {"1e-400", 0.0},
      {"123e-400", 0.0},
      {"0.000000000000000000000000000000001e-300", 0.0},
      {"0e99999999999", 0.0},
      {"1e-99999999999", 0.0},
      {"0.1", 0.1},
      {"5e-324", 5e-324},
      {"0.12345678901234567890123", 0.12345678901234567890123},
  };
  for (const auto& c : cases) {
    auto v = parse_value(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    ASSERT_EQ(v->kind(), Value::Kind::Float) << c.text;
    EXPECT_EQ(v->as_float(), c.value) << c.text;
  }
  EXPECT_TRUE(std::signbit(parse_value("-1e-400")->as_float()));
  EXPECT_TRUE(std::signbit(parse_value("-2.4703282292062327e-324")->as_float()));
  // Beyond the largest double, also once rounded, is refused; the halfway point rounds up.
  for (const char* text : {"1.7976931348623159e308", "1e309", "-1e309", "1e99999999999"}) {
    auto v = parse_value(text);
    ASSERT_FALSE(v.has_value()) << text;
    EXPECT_TRUE(v.error().message == "number out of range") << text << ": " << v.error().message;
  }
}

TEST(ReaderSyntax, Strings) {
  const struct {
    const char* text;
    std::string value;
  } cases[] = {
      {R"("")", ""},
      {R"("a\"b\\c\/d\b\f\n\r\t")", "a\"b\\c/d\b\f\n\r\t"},
      {R"("\u0041\u00e9\u00E9")", "A\xC3\xA9\xC3\xA9"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {"\"\xF0\x9F\x98\x80 \x7F\"", "\xF0\x9F\x98\x80 \x7F"},
      {R"("\u0000")", std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    auto v = parse_value(c.text);
    ASSERT_TRUE(v.has_value()) << c.text;
    EXPECT_EQ(v->as_string(), c.value) << c.text;
  }
}

TEST(ReaderSyntax, ObjectsKeepFirstPositionAndLastValue) {
  auto v = parse_value(R"({"b":1,"a":2,"b":3})");
  ASSERT_TRUE(v.has_value());
  const Object& o = v->as_object();
  ASSERT_EQ(o.size(), 2u);
  EXPECT_EQ(o.begin()[0].name, "b");
  EXPECT_EQ(o.begin()[0].value, Value(3));
  EXPECT_EQ(o.begin()[1].name, "a");
}

TEST(DuplicateScan, WorkedExamples) {
  const Case cases[] = {
      {R"({"a":1,"a":2})", "duplicate field `a` at line 1 column 10"},
      {R"({"a":1,"a" :2})", "duplicate field `a` at line 1 column 11"},
      {R"({"a":1,"\u0061":2})", "duplicate field `a` at line 1 column 15"},
      {"{\n  \"a\": 1,\n  \"a\": 2\n}", "duplicate field `a` at line 3 column 5"},
      {R"([{"a":1},{"b":{"c":1,"c":2}}])", "duplicate field `c` at line 1 column 24"},
      {"{\"\xC3\xA9\":1,\"\xC3\xA9\":2}", "duplicate field `\xC3\xA9` at line 1 column 12"},
      {R"({"a":1,"a"})", "duplicate field `a` at line 1 column 11"},
      {R"({"a":1,"a"  })", "duplicate field `a` at line 1 column 13"},
      // A repeated name fails before its value is read.
      {R"({"a":1,"a":x})", "duplicate field `a` at line 1 column 10"},
  };
  for (const Case& c : cases) EXPECT_EQ(scan_error(c.text), c.message) << c.text;
}

TEST(DuplicateScan, PassesWhatIsNotARepeatInOneObject) {
  const char* passing[] = {
      R"({"a":1,"b":{"a":2}})",
      R"({"a":[{"a":1},{"a":2}]})",
      R"([{"a":1},{"a":1}])",
      R"({"a":1} trailing garbage)",
      R"({"a":1}{"a":1,"a":2})",
      R"({"A":1,"a":2})",
      R"("plain")",
      "  [1, 2.5, -3, true, false, null, \"x\"]",
  };
  for (const char* text : passing) EXPECT_EQ(scan_error(text), "(passed)") << text;
}

TEST(DuplicateScan, LargeObjects) {
  std::string text = "{";
  for (int i = 0; i < 100000; ++i)
    text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  std::string with_repeat = text + "\"k77777\":0}";
  text += "\"end\":0}";
  EXPECT_EQ(scan_error(text), "(passed)");
  const std::string msg = scan_error(with_repeat);
  EXPECT_TRUE(msg.starts_with("duplicate field `k77777` at line 1 column ")) << msg;
  // Names of finished inner objects do not leak into the outer one.
  EXPECT_EQ(scan_error(R"({"x":{"k":1,"j":2},"k":3,"j":4})"), "(passed)");
}

TEST(DuplicateScan, ReaderIsLeftAfterTheValue) {
  Reader reader(R"(  {"a":[1]}  tail)");
  ASSERT_TRUE(scan_json_for_duplicate_keys(reader).has_value());
  EXPECT_EQ(reader.offset(), 11u);
}

}  // namespace
}  // namespace zelk::json
