#include "formats/json/canonical.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "formats/json/writer.hpp"
#include "formats/utf8.hpp"

namespace zelk::json {
namespace {

std::string canonical(const Value& v) {
  auto r = canonical_json(v);
  EXPECT_TRUE(r.has_value());
  return r.value_or("<error>");
}

Object object_of(std::vector<std::pair<std::string, Value>> members) {
  Object o;
  for (auto& [name, value] : members) o.push_back_unchecked(std::move(name), std::move(value));
  return o;
}

std::string utf8(char32_t cp) {
  std::string s;
  append_utf8(cp, s);
  return s;
}

// The sorting example of RFC 8785 section 3.2.3.
TEST(CanonicalJson, SortsNamesByUtf16CodeUnits) {
  Value v(object_of({
      {utf8(0x20AC), Value("Euro Sign")},
      {"\r", Value("Carriage Return")},
      {utf8(0xFB33), Value("Hebrew Letter Dalet With Dagesh")},
      {"1", Value("One")},
      {utf8(0x1F600), Value("Emoji: Grinning Face")},
      {utf8(0x80), Value("Control")},
      {utf8(0xF6), Value("Latin Small Letter O With Diaeresis")},
  }));
  EXPECT_EQ(canonical(v),
            "{\"\\r\":\"Carriage Return\",\"1\":\"One\",\"" + utf8(0x80) + "\":\"Control\",\"" +
                utf8(0xF6) + "\":\"Latin Small Letter O With Diaeresis\",\"" + utf8(0x20AC) +
                "\":\"Euro Sign\",\"" + utf8(0x1F600) + "\":\"Emoji: Grinning Face\",\"" +
                utf8(0xFB33) + "\":\"Hebrew Letter Dalet With Dagesh\"}");
}

// The example of RFC 8785 section 3.2.2, built as the value its input text reads as.
TEST(CanonicalJson, Rfc8785Example) {
  Value v(object_of({
      {"numbers", Value(Array{Value(333333333.33333329), Value(1e30), Value(4.50), Value(2e-3),
                              Value(0.000000000000000000000000001)})},
      {"string", Value(utf8(0x20AC) + "$\x0f\nA'B\"\\\\\"/")},
      {"literals", Value(Array{Value(), Value(true), Value(false)})},
  }));
  EXPECT_EQ(canonical(v),
            "{\"literals\":[null,true,false],\"numbers\":[333333333.3333333,1e+30,"
            "4.5,0.002,1e-27],\"string\":\"" +
                utf8(0x20AC) + "$\\u000f\\nA'B\\\"\\\\\\\\\\\"/\"}");
}

TEST(CanonicalJson, CaseOrdersUpperBeforeLower) {
  Value v(object_of({{"b", Value(1)}, {"a", Value(2)}, {"A", Value(3)}}));
  EXPECT_EQ(canonical(v), R"({"A":3,"a":2,"b":1})");
}

TEST(CanonicalJson, NumbersGoThroughTheNearestDouble) {
  const struct {
    Value value;
    const char* text;
  } cases[] = {
      {Value(0), "0"},
      {Value(1700000000), "1700000000"},
      {Value(std::int64_t{-42}), "-42"},
      {Value(std::uint64_t{9007199254740992}), "9007199254740992"},
      {Value(std::uint64_t{9007199254740993}), "9007199254740992"},
      {Value(std::numeric_limits<std::int64_t>::max()), "9223372036854776000"},
      {Value(std::numeric_limits<std::int64_t>::min()), "-9223372036854776000"},
      {Value(std::numeric_limits<std::uint64_t>::max()), "18446744073709552000"},
      {Value(1.0), "1"},
      {Value(-0.0), "0"},
      {Value(-1.5), "-1.5"},
      {Value(1e21), "1e+21"},
      {Value(1e-7), "1e-7"},
      {Value(0.000001), "0.000001"},
      {Value(5e-324), "5e-324"},
      {Value(std::numeric_limits<double>::max()), "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(canonical(c.value), c.text) << c.text;
  }
}

TEST(CanonicalJson, RefusesNonFiniteNumbers) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()};
  for (double d : bad) {
    auto top = canonical_json(Value(d));
    ASSERT_FALSE(top.has_value());
    EXPECT_EQ(top.error(), CanonicalJsonError{"invalid float value"});
    EXPECT_EQ(top.error().message(), "serialization failed: invalid float value");

    // Deep inside a value, and without leaving half-written text behind.
    Value nested(object_of({{"a", Value(1)}, {"z", Value(Array{Value("x"), Value(d)})}}));
    std::string out = "keep";
    auto r = append_canonical(nested, out);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().message(), "serialization failed: invalid float value");
    EXPECT_EQ(out, "keep");
  }
}

TEST(CanonicalJson, StringsUseOnlyTheRfc8785Escapes) {
  Value v(std::string("\"\\\b\f\n\r\t") + std::string(1, '\0') + "\x1f\x7f/" + utf8(0x2028) +
          utf8(0xE9));
  EXPECT_EQ(canonical(v),
            "\"\\\"\\\\\\b\\f\\n\\r\\t\\u0000\\u001f\x7f/" + utf8(0x2028) + utf8(0xE9) + "\"");
}

TEST(CanonicalJson, SortsEveryObjectAtEveryDepthAndKeepsArrayOrder) {
  Value v(object_of({
      {"z",
       Value(Array{Value(object_of({{"y", Value(1)}, {"x", Value(2)}})),
                   Value(object_of({{"d", Value(3)},
                                    {"c", Value(object_of({{"f", Value()}, {"e", Value()}}))}})),
                   Value(3), Value(1)})},
      {"ext", Value(Object{})},
      {"a", Value(object_of({{"b", Value(Array{})}, {"", Value(true)}}))},
  }));
  EXPECT_EQ(
      canonical(v),
      R"({"a":{"":true,"b":[]},"ext":{},"z":[{"x":2,"y":1},{"c":{"e":null,"f":null},"d":3},3,1]})");
}

TEST(CanonicalJson, SupplementaryCharactersSortBeforeTheEndOfTheBasicPlane) {
  // Byte order would put U+E000 and U+FFFF before U+10000; UTF-16 order puts them after.
  Value v(object_of({
      {utf8(0xFFFF), Value(1)},
      {utf8(0x10000), Value(2)},
      {utf8(0xE000), Value(3)},
      {utf8(0xD7FF), Value(4)},
      {utf8(0x10FFFF), Value(5)},
      {"ab" + utf8(0xE000), Value(6)},
      {"ab" + utf8(0x1F600), Value(7)},
      {"ab", Value(8)},
  }));
  EXPECT_EQ(canonical(v), "{\"ab\":8,\"ab" + utf8(0x1F600) + "\":7,\"ab" + utf8(0xE000) +
                              "\":6,\"" + utf8(0xD7FF) + "\":4,\"" + utf8(0x10000) + "\":2,\"" +
                              utf8(0x10FFFF) + "\":5,\"" + utf8(0xE000) + "\":3,\"" + utf8(0xFFFF) +
                              "\":1}");
}

// Many objects with many mixed-script names, checked against a plain UTF-16 sort. The sizes
// spill the writer's inline buffers.
TEST(CanonicalJson, OrderMatchesUtf16SortOnRandomNames) {
  std::mt19937 rng(8785);
  const char32_t alphabet[] = {0x41,   0x61,   0x7A,   0x7F,   0x80,   0xFF,    0x7FF,   0x800,
                               0xD7FF, 0xE000, 0xFB33, 0xFFFD, 0xFFFF, 0x10000, 0x1F600, 0x10FFFF};
  auto random_name = [&](std::u16string& units) {
    std::string name;
    units.clear();
    const int length = static_cast<int>(rng() % 5);
    for (int i = 0; i < length; ++i) {
      const char32_t cp = alphabet[rng() % std::size(alphabet)];
      name += utf8(cp);
      if (cp >= 0x10000) {
        units += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      } else {
        units += static_cast<char16_t>(cp);
      }
    }
    return name;
  };

  for (int round = 0; round < 20; ++round) {
    Array objects;
    std::string expected = "[";
    for (int k = 0; k < 5; ++k) {
      Object o;
      std::vector<std::pair<std::u16string, std::string>> sorted;
      const int members = 1 + static_cast<int>(rng() % 80);
      std::u16string units;
      for (int m = 0; m < members; ++m) {
        std::string name = random_name(units);
        if (o.find(name) != nullptr) continue;
        o.push_back_unchecked(name, Value(m));
        sorted.emplace_back(units, R"(")" + name + R"(":)" + std::to_string(m));
      }
      std::sort(sorted.begin(), sorted.end());
      expected += k == 0 ? "{" : ",{";
      for (std::size_t i = 0; i < sorted.size(); ++i) {
        if (i > 0) expected += ",";
        expected += sorted[i].second;
      }
      expected += "}";
      objects.push_back(Value(std::move(o)));
    }
    expected += "]";
    ASSERT_EQ(canonical(Value(std::move(objects))), expected) << "round " << round;
  }
}

TEST(CanonicalJson, NamesThatAreNotUtf8StillSortDeterministically) {
  // Each stray byte stands for itself: "a" (0x61) < "\xc3" < "\xed\xa0\x80" (an encoded
  // surrogate, read as 0xED ...) < "\xff".
  Value v(object_of(
      {{"\xff", Value(1)}, {"\xed\xa0\x80", Value(2)}, {"\xc3", Value(3)}, {"a", Value(4)}}));
  EXPECT_EQ(canonical(v), "{\"a\":4,\"\xc3\":3,\"\xed\xa0\x80\":2,\"\xff\":1}");
}

TEST(CanonicalJson, DeepNesting) {
  constexpr int kDepth = 1000;
  Value v(Object{});
  for (int i = 0; i < kDepth; ++i) {
    // Built by moves: an initializer list would copy the whole subtree at each level.
    Object o;
    o.push_back_unchecked("z", Value(i));
    o.push_back_unchecked("a", std::move(v));
    v = Value(std::move(o));
  }
  std::string expected = "{}";
  for (int i = 0; i < kDepth; ++i)
    expected = "{\"a\":" + expected + ",\"z\":" + std::to_string(i) + "}";
  EXPECT_EQ(canonical(v), expected);
}

TEST(CanonicalJson, AppendsAfterExistingText) {
  std::string out = "sig:";
  ASSERT_TRUE(append_canonical(Value(object_of({{"b", Value(2)}, {"a", Value(1)}})), out));
  EXPECT_EQ(out, R"(sig:{"a":1,"b":2})");
}

}  // namespace
}  // namespace zelk::json
