#include "formats/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace zelk {
namespace {

// What one policy makes of the bytes: {valid, code point, length}.
struct Step {
  bool valid;
  char32_t cp;
  unsigned length;
};

struct Case {
  std::string_view bytes;
  Step strict;
  Step lax;
};

using namespace std::string_view_literals;

constexpr char32_t kBad = U'\uFFFD';

// Each class of input: ASCII, the shortest and longest forms of every length, overlong forms,
// surrogates, values past U+10FFFF, truncated sequences, lone continuation bytes and bytes that
// never start a sequence. An ill-formed length is the prefix one U+FFFD replaces.
constexpr Case kCases[] = {
    {"\x00"sv, {true, 0x00, 1}, {true, 0x00, 1}},
    {"A"sv, {true, 'A', 1}, {true, 'A', 1}},
    {"\x7F"sv, {true, 0x7F, 1}, {true, 0x7F, 1}},
    {"\xC2\x80"sv, {true, 0x80, 2}, {true, 0x80, 2}},
    {"\xDF\xBF"sv, {true, 0x7FF, 2}, {true, 0x7FF, 2}},
    {"\xE0\xA0\x80"sv, {true, 0x800, 3}, {true, 0x800, 3}},
    {"\xE2\x82\xAC"sv, {true, 0x20AC, 3}, {true, 0x20AC, 3}},
    {"\xED\x9F\xBF"sv, {true, 0xD7FF, 3}, {true, 0xD7FF, 3}},
    {"\xEE\x80\x80"sv, {true, 0xE000, 3}, {true, 0xE000, 3}},
    {"\xEF\xBF\xBF"sv, {true, 0xFFFF, 3}, {true, 0xFFFF, 3}},
    {"\xF0\x90\x80\x80"sv, {true, 0x10000, 4}, {true, 0x10000, 4}},
    {"\xF0\x9F\x99\x82"sv, {true, 0x1F642, 4}, {true, 0x1F642, 4}},
    {"\xF4\x8F\xBF\xBF"sv, {true, 0x10FFFF, 4}, {true, 0x10FFFF, 4}},
    // Only the first sequence is read.
    {"\xC3\xA9\xC3\xA9"sv, {true, 0xE9, 2}, {true, 0xE9, 2}},
    // Overlong forms.
    {"\xC0\x80"sv, {false, kBad, 1}, {true, 0x00, 2}},
    {"\xC1\xBF"sv, {false, kBad, 1}, {true, 0x7F, 2}},
    {"\xE0\x80\x80"sv, {false, kBad, 1}, {true, 0x00, 3}},
    {"\xE0\x9F\xBF"sv, {false, kBad, 1}, {true, 0x7FF, 3}},
    {"\xF0\x80\x80\x80"sv, {false, kBad, 1}, {true, 0x00, 4}},
    {"\xF0\x8F\xBF\xBF"sv, {false, kBad, 1}, {true, 0xFFFF, 4}},
    // Surrogates.
    {"\xED\xA0\x80"sv, {false, kBad, 1}, {true, 0xD800, 3}},
    {"\xED\xBF\xBF"sv, {false, kBad, 1}, {true, 0xDFFF, 3}},
    // Past U+10FFFF.
    {"\xF4\x90\x80\x80"sv, {false, kBad, 1}, {true, 0x110000, 4}},
    {"\xF5\x80\x80\x80"sv, {false, kBad, 1}, {true, 0x140000, 4}},
    {"\xF7\xBF\xBF\xBF"sv, {false, kBad, 1}, {true, 0x1FFFFF, 4}},
    {"\xF8\x88\x80\x80\x80"sv, {false, kBad, 1}, {false, kBad, 1}},
    // Truncated at the end of the text.
    {"\xC3"sv, {false, kBad, 1}, {false, kBad, 1}},
    {"\xE2\x82"sv, {false, kBad, 2}, {false, kBad, 2}},
    {"\xF0\x9F\x99"sv, {false, kBad, 3}, {false, kBad, 3}},
    // Cut short by a byte that is no continuation, which is read again.
    {"\xC3("sv, {false, kBad, 1}, {false, kBad, 1}},
    {"\xE2\x82("sv, {false, kBad, 2}, {false, kBad, 2}},
    {"\xF0\x9F\x99\xC3\xA9"sv, {false, kBad, 3}, {false, kBad, 3}},
    {"\xE0\x80\xC3"sv, {false, kBad, 1}, {false, kBad, 2}},
    // Lone continuation bytes and bytes that start nothing.
    {"\x80"sv, {false, kBad, 1}, {false, kBad, 1}},
    {"\xBF\xBF"sv, {false, kBad, 1}, {false, kBad, 1}},
    {"\xFE"sv, {false, kBad, 1}, {false, kBad, 1}},
    {"\xFF\xBF"sv, {false, kBad, 1}, {false, kBad, 1}},
};

void expect_step(const Utf8Sequence& got, const Step& want, std::string_view bytes,
                 const char* policy) {
  EXPECT_EQ(got.valid, want.valid) << policy << ' ' << testing::PrintToString(bytes);
  EXPECT_EQ(static_cast<std::uint32_t>(got.cp), static_cast<std::uint32_t>(want.cp))
      << policy << ' ' << testing::PrintToString(bytes);
  EXPECT_EQ(got.length, want.length) << policy << ' ' << testing::PrintToString(bytes);
}

TEST(Utf8, DecodesEachClassOfInputUnderBothPolicies) {
  for (const Case& c : kCases) {
    // Read at an offset, as callers do, with the bytes at the end of the text.
    const std::string text = "ab" + std::string(c.bytes);
    expect_step(decode_utf8(text, 2), c.strict, c.bytes, "strict");
    expect_step(decode_utf8<Utf8Policy::Lax>(text, 2), c.lax, c.bytes, "lax");
  }
}

TEST(Utf8, EveryScalarValueRoundTripsAndEverySurrogateIsStrictlyRefused) {
  for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    std::string text;
    append_utf8(cp, text);
    const Utf8Sequence strict = decode_utf8(text, 0);
    const Utf8Sequence lax = decode_utf8<Utf8Policy::Lax>(text, 0);
    const bool surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    ASSERT_EQ(strict.valid, !surrogate) << cp;
    ASSERT_EQ(strict.length, surrogate ? 1u : text.size()) << cp;
    ASSERT_TRUE(lax.valid) << cp;
    ASSERT_EQ(lax.length, text.size()) << cp;
    ASSERT_EQ(static_cast<std::uint32_t>(lax.cp), cp);
    ASSERT_EQ(static_cast<std::uint32_t>(strict.cp), surrogate ? std::uint32_t{kBad} : cp);
  }
}

}  // namespace
}  // namespace zelk
