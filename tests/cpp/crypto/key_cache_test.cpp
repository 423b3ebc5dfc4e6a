#include <gtest/gtest.h>

#include <vector>

#include "crypto/keys.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"

namespace zelk {
namespace {

// Keys derived again from the same AID text, whether remembered or evicted, behave the same: they
// verify their own signatures, and a text that yields no key is refused every time.
TEST(VerifyingKeyCache, RepeatedAndEvictedAidsGiveTheSameKeys) {
  std::vector<SigningKey> keys;
  for (int i = 0; i < 300; ++i)  // more than the cache holds, so the first ones are evicted
    keys.push_back(i % 2 ? *generate_p256_key() : *generate_ed25519_key());
  const auto digest = sha256(std::string_view("cached"));
  for (int round = 0; round < 2; ++round) {
    for (const SigningKey& key : keys) {
      auto vk = verifying_key_from_aid(key.aid());
      ASSERT_TRUE(vk.has_value());
      EXPECT_EQ(*vk, key.verifying_key());
      EXPECT_TRUE(verify_digest_text(*vk, digest, sign_digest_text(key, digest)).has_value());
    }
  }
  // The long Ed25519 form is its own text but the same key.
  const SigningKey& ed = keys[0];
  auto long_form = parse_aid("aid:pubkey:ed25519:" + ed.aid_text().substr(11));
  ASSERT_TRUE(long_form.has_value());
  EXPECT_EQ(*verifying_key_from_aid(*long_form), ed.verifying_key());
  // y = 2 is no curve point: refused on every call, never remembered.
  auto bad = parse_aid("aid:pubkey:AgAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  ASSERT_TRUE(bad.has_value());
  for (int i = 0; i < 2; ++i) {
    auto vk = verifying_key_from_aid(*bad);
    ASSERT_FALSE(vk.has_value());
    EXPECT_EQ(vk.error().message(),
              "AID does not yield a valid Ed25519 public key: signature error");
  }
}

}  // namespace
}  // namespace zelk
