#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "crypto/random.hpp"
#include "crypto/sha256.hpp"

namespace zelk {
namespace {

TEST(Random, FillsLargeAndEmptyBuffers) {
  std::vector<std::uint8_t> big(1 << 20, 0);
  ASSERT_TRUE(random_bytes(big));
  // A megabyte of zeros from a working source is beyond chance.
  EXPECT_GT(std::count(big.begin(), big.end(), 0), 0);
  EXPECT_LT(std::count(big.begin(), big.end(), 0), 8192);
  std::span<std::uint8_t> none;
  EXPECT_TRUE(random_bytes(none));
}

TEST(Random, ErrorTexts) {
  EXPECT_EQ((RandomError{RandomError::Source::GetRandom, 5}).message(),
            "getrandom failed: Input/output error (os error 5)");
  EXPECT_EQ((RandomError{RandomError::Source::DevUrandom, 0}).message(),
            "/dev/urandom failed: unexpected end of file");
}

TEST(Random, UuidV4) {
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    auto id = new_uuid_v4();
    ASSERT_TRUE(id.has_value());
    const std::string text = id->to_string();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 64u);
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(lower_hex(sha256(std::string_view(""))),
            "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(lower_hex(sha256(std::string_view("abc"))),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace zelk
