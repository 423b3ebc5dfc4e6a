#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "url_outcome.hpp"

namespace zelk::url::testing {
namespace {

using namespace std::string_view_literals;

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

TEST(UrlRobustness, NulBytes) {
  const Case cases[] = {
      {"ht\0tp://x"sv, "ERR relative URL without a base"},
      {"\0http://h/\0"sv, "OK http://h/"},
      {"http://h/a\0b?c\0d"sv, "OK http://h/a%00b?c%00d"},
      {"http://u\0:p\0@h/"sv, "OK http://u%00:p%00@h/"},
      {"foo:a\0b"sv, "OK foo:a%00b"},
      {"http://h:8\0/"sv, "ERR invalid port number"},
  };
  expect_outcomes(cases);
}

TEST(UrlRobustness, IllFormedUtf8BecomesReplacementCharacter) {
  const Case cases[] = {
      {"http://h/\xFF", "OK http://h/%EF%BF%BD"},
      {"http://h/\xC3", "OK http://h/%EF%BF%BD"},
      {"http://h/\xE2\x82x", "OK http://h/%EF%BF%BDx"},
      // A tab inside a broken sequence must not join its halves.
      {"http://h/\xC3\t\xA4", "OK http://h/%EF%BF%BD%EF%BF%BD"},
      // Encoded surrogate and over-long forms: one replacement per offending byte.
      {"http://h/\xED\xA0\x80", "OK http://h/%EF%BF%BD%EF%BF%BD%EF%BF%BD"},
      {"http://h/\xC0\xAF", "OK http://h/%EF%BF%BD%EF%BF%BD"},
      {"http://h/\xF4\x90\x80\x80", "OK http://h/%EF%BF%BD%EF%BF%BD%EF%BF%BD%EF%BF%BD"},
      {"http://h/\xF0\x9F\x99", "OK http://h/%EF%BF%BD"},
      {"http://\xFF/", "ERR invalid international domain name"},
      {"foo://\xFF/", "OK foo://%EF%BF%BD/"},
      {"\xFFhttp://h/", "ERR relative URL without a base"},
  };
  expect_outcomes(cases);
}

TEST(UrlRobustness, VeryLongHosts) {
  const std::string ascii = repeat("a", 100000);
  EXPECT_EQ(outcome("http://" + ascii + "/"), "OK http://" + ascii + "/");

  const std::string labels = repeat("A.", 50000);
  EXPECT_EQ(outcome("http://" + labels + "/"), "OK http://" + repeat("a.", 50000) + "/");

  const std::string idn_labels = repeat("\u00FC.", 20000);
  EXPECT_EQ(outcome("http://" + idn_labels + "/"), "OK http://" + repeat("xn--tda.", 20000) + "/");

  // One huge non-ASCII label, or a huge ACE label, is refused without quadratic work.
  EXPECT_EQ(outcome("http://" + repeat("\u00FC", 100000) + "/"),
            "ERR invalid international domain name");
  EXPECT_EQ(outcome("http://xn--" + repeat("a", 100000) + "/"),
            "ERR invalid international domain name");
  EXPECT_EQ(outcome("foo://" + ascii + "/"), "OK foo://" + ascii + "/");
  EXPECT_EQ(outcome("http://[" + repeat("1:", 50000) + "]/"), "ERR invalid IPv6 address");
}

TEST(UrlRobustness, UnicodeLabelLengthLimit) {
  // Labels are limited to 1000 code points in their Unicode form.
  const auto at_limit = parse_url("http://" + repeat("\u00FC", 1000) + ".de/");
  ASSERT_TRUE(at_limit.has_value());
  EXPECT_TRUE(at_limit->host().starts_with("xn--"));
  EXPECT_TRUE(at_limit->host().ends_with(".de"));
  EXPECT_EQ(outcome("http://" + repeat("\u00FC", 1001) + ".de/"),
            "ERR invalid international domain name");
}

// Consecutive CJK ideographs from U+4E00, three UTF-8 bytes each.
std::string ideographs(std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    const auto cp = static_cast<unsigned>(0x4E00 + i);
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

TEST(UrlRobustness, AcceptedPunycodeLabelsParseAgain) {
  // 960 distinct ideographs encode to a 1998-character payload; 961 need 2001, more than an
  // input label may carry, so that host is refused although its Unicode form is short enough.
  const auto longest = parse_url("http://" + ideographs(960) + "/");
  ASSERT_TRUE(longest.has_value());
  EXPECT_EQ(longest->host().size(), 4u + 1998u);
  const auto again = parse_url(longest->href());
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->href(), longest->href());
  EXPECT_EQ(outcome("http://" + ideographs(961) + "/"), "ERR invalid international domain name");
}

TEST(UrlRobustness, LongNumbersSaturate) {
  EXPECT_EQ(outcome("http://" + repeat("0", 100000) + "1/"), "OK http://0.0.0.1/");
  EXPECT_EQ(outcome("http://0x" + repeat("0", 100000) + "/"), "OK http://0.0.0.0/");
  EXPECT_EQ(outcome("http://" + repeat("9", 100000) + "/"), "ERR invalid IPv4 address");
  EXPECT_EQ(outcome("http://h:" + repeat("0", 100000) + "80/"), "OK http://h/");
  EXPECT_EQ(outcome("http://h:" + repeat("9", 100000) + "/"), "ERR invalid port number");
}

TEST(UrlRobustness, ManyDotSegmentsAndPercents) {
  EXPECT_EQ(outcome("http://h/" + repeat("../", 100000) + "x"), "OK http://h/x");
  EXPECT_EQ(outcome("http://h/" + repeat("a/", 50000) + repeat("%2E%2e/", 50000) + "x"),
            "OK http://h/x");
  EXPECT_EQ(outcome("file:///C:/" + repeat("../", 1000)), "OK file:///C:/");
  const std::string percents = repeat("%", 100000);
  EXPECT_EQ(outcome("http://h/" + percents + "?" + percents + "#" + percents),
            "OK http://h/" + percents + "?" + percents + "#" + percents);
  EXPECT_EQ(outcome("http://" + repeat("%25", 30000) + "/"),
            "ERR invalid international domain name");
  EXPECT_EQ(outcome("http://" + percents + "/"), "ERR invalid international domain name");
  EXPECT_EQ(outcome("http://" + repeat("@", 100000) + "h/"),
            "OK http://" + repeat("%40", 99999) + "@h/");
  EXPECT_EQ(outcome(repeat("a", 100000) + ":"), "OK " + repeat("a", 100000) + ":");
}

// Rebuilds the serialisation from the accessors; they must describe exactly href().
std::string reassemble(const Url& u) {
  std::string s(u.scheme());
  s += ':';
  if (u.has_host()) {
    s += "//";
    if (!u.username().empty() || !u.password().empty()) {
      s += u.username();
      if (!u.password().empty()) s += ":" + std::string(u.password());
      s += '@';
    }
    s += u.host();
    if (u.port()) s += ":" + std::to_string(*u.port());
  } else if (!u.has_opaque_path() && u.path().starts_with("//")) {
    s += "/.";
  }
  s += u.path();
  if (u.query()) s += "?" + std::string(*u.query());
  if (u.fragment()) s += "#" + std::string(*u.fragment());
  return s;
}

// Random inputs built from the characters that steer the parser: every accepted URL must
// reparse to itself and its accessors must agree with its serialisation.
TEST(UrlRobustness, RandomInputsReparseToThemselves) {
  static constexpr std::string_view kPieces[] = {
      "http:", "https:", "foo:", "file:",  "ws:",    "/",      "\\",         "//",        "?",
      "#",     "@",      ":",    "[",      "]",      ".",      "..",         "%",         "%2e",
      "%41",   "%zz",    "xn--", "\u00FC", "\xFF",   "\0"sv,   "\t",         " ",         "a",
      "B",     "1",      "0x",   "::",     "\u00DF", "\u200D", "\u05D0",     "localhost", "C:",
      "|",     "'",      "\x7f", "255",    "1.2",    "\u3002", "\U0001F642", "\u00AD",    "<",
  };
  constexpr std::size_t kCount = sizeof kPieces / sizeof kPieces[0];
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  int accepted = 0;
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::string input(kPieces[next() % 5]);  // mostly start with a scheme
    const std::size_t len = next() % 16;
    for (std::size_t k = 0; k < len; ++k) input += kPieces[next() % kCount];
    const auto first = parse_url(input);
    if (!first) continue;
    ++accepted;
    const auto second = parse_url(first->href());
    ASSERT_TRUE(second.has_value()) << ::testing::PrintToString(input) << " -> " << first->href();
    ASSERT_EQ(second->href(), first->href()) << ::testing::PrintToString(input);
    ASSERT_EQ(reassemble(*first), first->href()) << ::testing::PrintToString(input);
  }
  EXPECT_GT(accepted, 1000);
}

}  // namespace
}  // namespace zelk::url::testing
