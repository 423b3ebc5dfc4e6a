#include "formats/json/writer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

namespace zelk::json {
namespace {

std::string as_literal(std::string_view text) {
  std::string out;
  write_json_string(text, out);
  return out;
}

TEST(WriteJsonString, EscapesOnlyQuoteBackslashAndControls) {
  const struct {
    std::string in;
    const char* out;
  } cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"\"", R"("\"")"},
      {"\\", R"("\\")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {std::string(1, '\0'), R"("\u0000")"},
      {"\x01", R"("\u0001")"},
      {"\x0b", R"("\u000b")"},
      {"\x1b", R"("\u001b")"},
      {"\x1f", R"("\u001f")"},
      {" ", R"(" ")"},
      {"\x7f", "\"\x7f\""},  // DEL is written raw
      {"/", R"("/")"},       // solidus is never escaped
      {"'", R"("'")"},
      {"\xc3\xa9", "\"\xc3\xa9\""},                                  // é
      {"\xe2\x80\xa8\xe2\x80\xa9", "\"\xe2\x80\xa8\xe2\x80\xa9\""},  // U+2028, U+2029
      {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},                  // U+1F600
      {"a\"b\\c\nd\x01"
       "e",
       R"("a\"b\\c\nd\u0001e")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(as_literal(c.in), c.out) << c.out;
  }
}

// Every byte value at every offset of strings up to 20 bytes long (the word-at-a-time scan reads
// 8 bytes at once), against a byte-by-byte rendering of the escaping rules.
TEST(WriteJsonString, EveryByteAtEveryOffset) {
  auto reference = [](const std::string& s) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string r = "\"";
    for (char ch : s) {
      const auto c = static_cast<unsigned char>(ch);
      switch (c) {
        case '"':
          r += "\\\"";
          break;
        case '\\':
          r += "\\\\";
          break;
        case '\b':
          r += "\\b";
          break;
        case '\f':
          r += "\\f";
          break;
        case '\n':
          r += "\\n";
          break;
        case '\r':
          r += "\\r";
          break;
        case '\t':
          r += "\\t";
          break;
        default:
          if (c < 0x20) {
            r += "\\u00";
            r += kHex[c >> 4];
            r += kHex[c & 0xF];
          } else {
            r += ch;
          }
      }
    }
    return r + "\"";
  };
  for (std::size_t length = 1; length <= 20; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        // Filler bytes with the high bit set must not hide or fake an escape.
        std::string s(length, '\xa2');
        s[at] = static_cast<char>(byte);
        ASSERT_EQ(as_literal(s), reference(s))
            << "length " << length << " at " << at << " byte " << byte;
      }
    }
  }
}

TEST(WriteJsonMemberName, AddsTheColon) {
  std::string out;
  write_json_member_name("a", out);
  write_json_member_name("b\n", out);
  EXPECT_EQ(out, R"("a":"b\n":)");
}

TEST(WriteJsonString, AppendsToExistingText) {
  std::string out = "x";
  write_json_string("a\tb", out);
  EXPECT_EQ(out, "x\"a\\tb\"");
}

TEST(WriteCompact, Scalars) {
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {Value(), "null"},
      {Value(true), "true"},
      {Value(false), "false"},
      {Value(0), "0"},
      {Value(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Value(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {Value(std::int64_t{-1}), "-1"},
      {Value(1.0), "1.0"},
      {Value(-0.0), "-0.0"},
      {Value(0.1), "0.1"},
      {Value(1e300), "1e+300"},
      {Value(1e-7), "1e-7"},
      {Value(std::numeric_limits<double>::quiet_NaN()), "null"},
      {Value(std::numeric_limits<double>::infinity()), "null"},
      {Value(-std::numeric_limits<double>::infinity()), "null"},
      {Value("x\ny"), R"("x\ny")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_compact_string(c.value), c.text) << c.text;
  }
}

TEST(WriteCompact, ContainersKeepStoredOrderWithoutWhitespace) {
  Object inner;
  inner.push_back_unchecked("z", Value(1));
  inner.push_back_unchecked("a", Value(Array{}));
  inner.push_back_unchecked("m", Value(Object{}));
  Object top;
  top.push_back_unchecked("b", Value(Array{Value(1), Value("two"), Value(), Value(2.5)}));
  top.push_back_unchecked("a\"", Value(std::move(inner)));
  top.push_back_unchecked("", Value(Array{Value(Array{}), Value(Array{Value(false)})}));
  EXPECT_EQ(to_compact_string(Value(std::move(top))),
            R"({"b":[1,"two",null,2.5],"a\"":{"z":1,"a":[],"m":{}},"":[[],[false]]})");
  EXPECT_EQ(to_compact_string(Value(Array{})), "[]");
  EXPECT_EQ(to_compact_string(Value(Object{})), "{}");
}

TEST(WriteCompact, AppendsAfterExistingText) {
  std::string out = "prefix:";
  write_compact(Value(Array{Value(1), Value(2)}), out);
  EXPECT_EQ(out, "prefix:[1,2]");
}

// Deep enough to spill the writer's inline work stack several times over.
TEST(WriteCompact, DeepNesting) {
  constexpr int kDepth = 1000;
  Value v(7);
  for (int i = 0; i < kDepth; ++i) {
    if (i % 2 == 0) {
      // Built by moves: an initializer list would copy the whole subtree at each level.
      Array a;
      a.push_back(Value(i));
      a.push_back(std::move(v));
      v = Value(std::move(a));
    } else {
      Object o;
      o.push_back_unchecked("k", std::move(v));
      v = Value(std::move(o));
    }
  }
  std::string expected = "7";
  for (int i = 0; i < kDepth; ++i) {
    if (i % 2 == 0)
      expected = "[" + std::to_string(i) + "," + expected + "]";
    else
      expected = "{\"k\":" + expected + "}";
  }
  EXPECT_EQ(to_compact_string(v), expected);
}

}  // namespace
}  // namespace zelk::json
