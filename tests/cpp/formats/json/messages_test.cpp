#include <gtest/gtest.h>

#include <string>

#include "formats/json/messages.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

std::string shown(std::string_view text) {
  std::string out;
  append_quoted_for_message(text, out);
  return out;
}

TEST(Messages, StringRenderingInFoundTexts) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"plain", R"("plain")"},
      {"\"", R"("\"")"},
      {"\\", R"("\\")"},
      {"\n\r\t", R"("\n\r\t")"},
      {std::string(1, '\0'), R"("\0")"},
      {"\x01\x1b\x1f\x7f", R"("\u{1}\u{1b}\u{1f}\u{7f}")"},
      {"\b\f", R"("\u{8}\u{c}")"},
      {"\xC2\x85\xC2\x9F", R"("\u{85}\u{9f}")"},                  // C1 controls
      {"\xC2\xA0", R"("\u{a0}")"},                                // no-break space (Zs)
      {"\xC2\xAD", R"("\u{ad}")"},                                // soft hyphen (Cf)
      {"\xE2\x80\x8B\xE2\x80\x8D", R"("\u{200b}\u{200d}")"},      // Cf
      {"\xE2\x80\xA8\xE2\x80\xA9", R"("\u{2028}\u{2029}")"},      // Zl, Zp
      {"\xE3\x80\x80", R"("\u{3000}")"},                          // ideographic space
      {"\xEF\xBB\xBF", R"("\u{feff}")"},                          // byte-order mark (Cf)
      {"\xEE\x80\x80", R"("\u{e000}")"},                          // private use
      {"\xEF\xBF\xBE", R"("\u{fffe}")"},                          // noncharacter
      {"\xCD\xB8", R"("\u{378}")"},                               // unassigned
      {"e\xCC\x81", R"("e\u{301}")"},                             // combining acute
      {"\xE2\x9D\xA4\xEF\xB8\x8F", "\"\xE2\x9D\xA4\\u{fe0f}\""},  // variation selector
      {"\xF3\xA0\x80\x81", R"("\u{e0001}")"},                     // language tag (Cf)
      {"\xF4\x8F\xBF\xBF", R"("\u{10ffff}")"},
      {"' \xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD", "\"' \xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD\""},
      {"\xE4\xB8\xAD\xF0\xA0\x80\x80", "\"\xE4\xB8\xAD\xF0\xA0\x80\x80\""},  // CJK, ext. B
      {"\xE1\xBA\x9E", "\"\xE1\xBA\x9E\""},                                  // capital sharp s
      // Not UTF-8 (only a Value built in code can hold this).
      {"a\xFF", R"("a\x{ff}")"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(c.in), c.out) << c.in;
}

TEST(Messages, WorkedStringExample) {
  auto r =
      read_record<testing::Rec>(R"({"n":"a\"b\\c\nd\te\u0001f\u007f\u00a0g\u00e9h\u200bi'j"})");
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(
      r.error().full(),
      "invalid type: string \"a\\\"b\\\\c\\nd\\te\\u{1}f\\u{7f}\\u{a0}g\xC3\xA9h\\u{200b}i'j\", "
      "expected i64 at line 1 column 56");
}

TEST(Messages, FoundTexts) {
  const struct {
    Found found;
    const char* text;
  } cases[] = {
      {Found::null(), "null"},
      {Found::of_bool(true), "boolean `true`"},
      {Found::of_bool(false), "boolean `false`"},
      {Found::of_unsigned(18446744073709551615u), "integer `18446744073709551615`"},
      {Found::of_signed(INT64_MIN), "integer `-9223372036854775808`"},
      {Found::of_float(1.5), "floating point `1.5`"},
      {Found::of_float(-0.0), "floating point `-0.0`"},
      {Found::of_float(1e16), "floating point `1e+16`"},
      {Found::of_float(1e-7), "floating point `1e-7`"},
      {Found::of_float(100.0), "floating point `100.0`"},
      {Found::of_string("x"), "string \"x\""},
      {Found::sequence(), "sequence"},
      {Found::map(), "map"},
  };
  for (const auto& c : cases) {
    std::string out;
    append_found(c.found, out);
    EXPECT_EQ(out, c.text);
  }
}

TEST(Messages, NameLists) {
  constexpr std::string_view one[] = {"a"};
  constexpr std::string_view two[] = {"a", "b"};
  constexpr std::string_view three[] = {"a", "b", "c"};
  EXPECT_EQ(unknown_field_message("x", one), "unknown field `x`, expected `a`");
  EXPECT_EQ(unknown_field_message("x", two), "unknown field `x`, expected `a` or `b`");
  EXPECT_EQ(unknown_field_message("x", three), "unknown field `x`, expected one of `a`, `b`, `c`");
  EXPECT_EQ(unknown_field_message("x", {}), "unknown field `x`, there are no fields");
  EXPECT_EQ(unknown_variant_message("X", three),
            "unknown variant `X`, expected one of `a`, `b`, `c`");
  EXPECT_EQ(unknown_variant_message("X", {}), "unknown variant `X`, there are no variants");
}

TEST(Messages, PositionSuffix) {
  EXPECT_EQ((JsonError{"m", 0, 0}).full(), "m");
  EXPECT_EQ((JsonError{"m", 3, 0}).full(), "m at line 3 column 0");
  const struct {
    const char* in;
    const char* message;
    std::size_t line;
    std::size_t column;
  } cases[] = {
      {"bad at line 2 column 9", "bad", 2, 9},
      {"bad at line 2 column 9x", "bad at line 2 column 9x", 0, 0},
      {"bad at line column 9", "bad at line column 9", 0, 0},
      {"bad at line 2 column ", "bad at line 2 column ", 0, 0},
      {"a at line 1 column 1 at line 4 column 5", "a at line 1 column 1", 4, 5},
      {"x at line 99999999999999999999999 column 1", "x at line 99999999999999999999999 column 1",
       0, 0},
  };
  for (const auto& c : cases) {
    JsonError e{c.in};
    take_position_suffix(e);
    EXPECT_EQ(e.message, c.message) << c.in;
    EXPECT_EQ(e.line, c.line) << c.in;
    EXPECT_EQ(e.column, c.column) << c.in;
  }
}

TEST(Messages, PositionArithmetic) {
  std::size_t line = 0;
  std::size_t column = 0;
  position_after("ab\ncd\r\nef", 9, line, column);
  EXPECT_EQ(line, 3u);
  EXPECT_EQ(column, 2u);
  position_after("ab\n", 3, line, column);
  EXPECT_EQ(line, 2u);
  EXPECT_EQ(column, 0u);
  position_after("", 0, line, column);
  EXPECT_EQ(line, 1u);
  EXPECT_EQ(column, 0u);
}

}  // namespace
}  // namespace zelk::json
