#include "formats/uuid.hpp"

#include <gtest/gtest.h>

namespace zelk {
namespace {

constexpr std::string_view kCanonical = "a987fb5a-8cb6-4f3f-8f6b-000000000001";

TEST(Uuid, AcceptedForms) {
  const std::string_view forms[] = {
      "a987fb5a-8cb6-4f3f-8f6b-000000000001",
      "A987FB5A-8CB6-4F3F-8F6B-000000000001",
      "a987fb5a8cb64f3f8f6b000000000001",
      "{a987fb5a-8cb6-4f3f-8f6b-000000000001}",
      "urn:uuid:a987fb5a-8cb6-4f3f-8f6b-000000000001",
  };
  for (auto f : forms) {
    auto u = parse_uuid(f);
    ASSERT_TRUE(u.has_value()) << f;
    EXPECT_EQ(u->to_string(), kCanonical) << f;
  }
  EXPECT_TRUE(parse_uuid("00000000-0000-0000-0000-000000000000").has_value());
}

TEST(Uuid, ErrorTable) {
  using namespace std::string_literals;
  const std::pair<std::string, std::string> cases[] = {
      {"", "invalid length: found 0"},
      {"nope", "invalid character: found `n` at 0"},
      {"{}", "invalid group count: expected 5, found 1"},
      {"a987fb5a8cb64f3f8f6b00000000000", "invalid length: found 31"},
      {"a987fb5a-8cb6-4f3f-8f6b-00000000001",
       "invalid group length in group 4: expected 12, found 11"},
      {"1-1-1-1-1", "invalid group length in group 0: expected 8, found 1"},
      {std::string(46, 'a'), "invalid length: found 46"},
      {"urn:uuid:a987fb5a-8cb6-4f3f-8f6b-00000000001",
       "invalid group length in group 4: expected 12, found 20"},
      {"{a987fb5a-8cb6-4f3f-8f6b-00000000001}",
       "invalid group length in group 4: expected 12, found 13"},
      {"{a987fb5a-8cb6-4f3f-8f6b-0000000000g1}", "invalid character: found `g` at 35"},
      {"urn:uuid:a987fb5a-8cb6-4f3f-8f6b-0000000000g1", "invalid character: found `g` at 43"},
      {"\xc3\xa9", "invalid character: found `\xc3\xa9` at 0"},
      {"a987fb5a-8cb6-4f3f-8f6b-00000000000\xc3\xa9", "invalid character: found `\xc3\xa9` at 35"},
      {"URN:UUID:a987fb5a-8cb6-4f3f-8f6b-000000000001", "invalid character: found `U` at 0"},
      {"urn:uuid:{a987fb5a-8cb6-4f3f-8f6b-000000000001}", "invalid character: found `{` at 9"},
      {" a987fb5a-8cb6-4f3f-8f6b-000000000001", "invalid character: found ` ` at 0"},
      {"{A987FB5A8CB64F3F8F6B000000000001}", "invalid group count: expected 5, found 1"},
      {"a987fb5a-8cb6-4f3f-8f6b-000000000001-", "invalid group count: expected 5, found 6"},
      {"----", "invalid group length in group 0: expected 8, found 0"},
      {"a987fb5a-8cb6-4f3f-8f6b0-00000000001",
       "invalid group length in group 3: expected 4, found 5"},
      // U+0130 passes the character scan (its low byte is '0'), so the form decides.
      {"a987fb5a-8cb6-4f3f-8f6b-0000000000\xc4\xb0",
       "invalid group length in group 4: expected 12, found 12"},
      {"a987fb5a-8cb6-4f3f-8f6b-00000000000\0"s, "invalid character: found `\0` at 35"s},
      {std::string(100, 'g'), "invalid character: found `g` at 0"},
  };
  for (const auto& [text, msg] : cases) {
    auto u = parse_uuid(text);
    ASSERT_FALSE(u.has_value()) << text;
    EXPECT_EQ(u.error().message(), msg) << text;
  }
}

TEST(Uuid, FormatsBytesInOrder) {
  Uuid u{{0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
          0xFF}};
  EXPECT_EQ(u.to_string(), "abcdef01-2345-6789-0001-0203040506ff");
}

TEST(Uuid, Version4Bits) {
  std::array<std::uint8_t, 16> ones;
  ones.fill(0xFF);
  EXPECT_EQ(Uuid::v4_from_random(ones).to_string(), "ffffffff-ffff-4fff-bfff-ffffffffffff");
  EXPECT_EQ(Uuid::v4_from_random({}).to_string(), "00000000-0000-4000-8000-000000000000");
}

}  // namespace
}  // namespace zelk
