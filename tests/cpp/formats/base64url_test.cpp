#include "formats/base64url.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace zelk {
namespace {

struct DecodeCase {
  std::string_view text;
  std::optional<Bytes> bytes;  // nullopt: the error message below
  std::string_view error = "";
};

constexpr std::string_view kPadding = "base64url padding is forbidden in ZELK";
constexpr std::string_view kBadChar = "invalid base64url character";

TEST(Base64Url, DecodeTable) {
  const DecodeCase cases[] = {
      {"", Bytes{}},
      {"AA", Bytes{0}},
      {"-_8", Bytes{0xFB, 0xFF}},
      {"AAAA", Bytes{0, 0, 0}},
      {"Zm9vYmFy", Bytes{'f', 'o', 'o', 'b', 'a', 'r'}},
      {"AA==", std::nullopt, kPadding},
      {"A=A", std::nullopt, kPadding},
      {"=", std::nullopt, kPadding},
      {"!!=", std::nullopt, kPadding},  // padding is reported before bad characters
      {"AB", std::nullopt, kBadChar},   // non-zero bits beyond the last byte
      {"AAB", std::nullopt, kBadChar},
      {"A", std::nullopt, kBadChar},
      {"AAAAA", std::nullopt, kBadChar},
      {"+/8", std::nullopt, kBadChar},
      {"AA AA", std::nullopt, kBadChar},
      {"AA\nA", std::nullopt, kBadChar},
      {std::string_view("A\0", 2), std::nullopt, kBadChar},
      {"\xc3\xa9\xc3\xa9", std::nullopt, kBadChar},
  };
  for (const auto& c : cases) {
    auto got = b64url_decode(c.text);
    if (c.bytes) {
      ASSERT_TRUE(got.has_value()) << c.text;
      EXPECT_EQ(*got, *c.bytes) << c.text;
    } else {
      ASSERT_FALSE(got.has_value()) << c.text;
      EXPECT_EQ(got.error().message(), c.error) << c.text;
    }
  }
}

TEST(Base64Url, EncodeLengthsAndRoundTrip) {
  const std::pair<std::size_t, std::size_t> lengths[] = {{16, 22}, {32, 43}, {33, 44}, {64, 86}};
  for (auto [n, chars] : lengths) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11);
    std::string text = b64url_encode(b);
    EXPECT_EQ(text.size(), chars);
    EXPECT_EQ(text.find_first_of("=+/"), std::string::npos);
    EXPECT_EQ(b64url_decode(text), b);
  }
  // Every byte value survives the round trip.
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(b64url_decode(b64url_encode(all)), all);
}

// Each character of a whole group and of both tails, against the alphabet: a text decodes exactly
// when every character is in the alphabet and the tail carries no bits beyond its last byte, and
// then it is the encoding of what it decodes to.
TEST(Base64Url, EveryCharacterInEveryPosition) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  for (const std::string base : {"QUJDQUJD", "QUJDQQ", "QUJDQUI"}) {
    for (std::size_t pos = 4; pos < base.size(); ++pos) {
      for (int c = 0; c < 256; ++c) {
        std::string text = base;
        text[pos] = static_cast<char>(c);
        auto got = b64url_decode(text);
        if (c == '=') {
          EXPECT_EQ(got.error().message(), kPadding);
        } else if (alphabet.find(static_cast<char>(c)) == std::string::npos) {
          EXPECT_EQ(got.error().message(), kBadChar) << text;
        } else if (got) {
          EXPECT_EQ(b64url_encode(*got), text);
        } else {
          // Only the last character of a tail can be refused, for its spare bits.
          EXPECT_EQ(pos, base.size() - 1) << text;
          EXPECT_NE(base.size() % 4, 0u) << text;
        }
      }
    }
  }
}

// A text decodes exactly when it is the encoding of some bytes: every text of two or three
// characters over the alphabet and a few others, alone and after four whole characters.
TEST(Base64Url, DecodesExactlyTheCanonicalTexts) {
  std::set<std::string> canonical;
  for (int x = 0; x < 256; ++x) {
    canonical.insert(b64url_encode(Bytes{static_cast<std::uint8_t>(x)}));
    for (int y = 0; y < 256; ++y)
      canonical.insert(
          b64url_encode(Bytes{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)}));
  }
  const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_+/.";
  for (const std::string lead : {"", "Zm9v"}) {
    for (char a : chars)
      for (char b : chars)
        for (int c = -1; c < static_cast<int>(chars.size()); ++c) {
          std::string tail{a, b};
          if (c >= 0) tail += chars[static_cast<std::size_t>(c)];
          auto got = b64url_decode(lead + tail);
          ASSERT_EQ(got.has_value(), canonical.contains(tail)) << lead + tail;
          if (got) {
            EXPECT_EQ(b64url_encode(*got), lead + tail);
          } else {
            EXPECT_EQ(got.error().message(), kBadChar) << lead + tail;
          }
        }
  }
}

TEST(Base64Url, BadCharacterAnywhereIsFound) {
  // In a whole group of four and in either tail.
  for (std::string_view base : {"Zm9vYmFy", "Zm9vYmE", "Zm9vYg"}) {
    ASSERT_TRUE(b64url_decode(base).has_value()) << base;
    for (std::size_t i = 0; i < base.size(); ++i) {
      for (char bad : {'!', '+', '/', '.', '\xff'}) {
        std::string text(base);
        text[i] = bad;
        auto got = b64url_decode(text);
        ASSERT_FALSE(got.has_value()) << text;
        EXPECT_EQ(got.error().message(), kBadChar) << text;
      }
    }
  }
}

}  // namespace
}  // namespace zelk
