#include "tct/revocation_check.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelk {
namespace {

TEST(RevokedSet, ExactLowerCaseHyphenatedText) {
  const Uuid id = *parse_uuid("A987FB5A-8CB6-4F3F-8F6B-0000000000FF");
  const RevokedJtiSet set = {"a987fb5a-8cb6-4f3f-8f6b-0000000000ff", "not a uuid"};
  EXPECT_TRUE(jti_in_revoked_set(set, id));
  EXPECT_FALSE(jti_in_revoked_set(set, *parse_uuid("a987fb5a-8cb6-4f3f-8f6b-0000000000fe")));
  EXPECT_FALSE(jti_in_revoked_set({}, id));
  for (const char* form :
       {"A987FB5A-8CB6-4F3F-8F6B-0000000000FF", "a987fb5a8cb64f3f8f6b0000000000ff",
        "{a987fb5a-8cb6-4f3f-8f6b-0000000000ff}", "urn:uuid:a987fb5a-8cb6-4f3f-8f6b-0000000000ff"})
    EXPECT_FALSE(jti_in_revoked_set({form}, id)) << form;
  // Every byte value is written with both hex digits.
  const Uuid zero{};
  EXPECT_TRUE(jti_in_revoked_set({"00000000-0000-0000-0000-000000000000"}, zero));
}

TEST(RevokedSet, CheckOwnsItsCopy) {
  const Uuid id = *parse_uuid("6ba7b810-9dad-41d1-80b4-00c04fd430c8");
  RevokedJtiSet set = {id.to_string()};
  RevocationCheck check = revocation_check_from_set(set);
  set.clear();
  const RevocationCheck copy = check;
  check = nullptr;
  EXPECT_TRUE(copy(id));
  EXPECT_TRUE(copy(id));  // any number of times
  EXPECT_FALSE(copy(Uuid{}));
  EXPECT_FALSE(revocation_check_from_set({})(id));
}

}  // namespace
}  // namespace zelk
