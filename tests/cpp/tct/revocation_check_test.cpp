#include "tct/revocation_check.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

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

TEST(RevokedSet, BorrowedAndLookedUpSetsMatchTheSameText) {
  const Uuid id = *parse_uuid("A987FB5A-8CB6-4F3F-8F6B-0000000000FF");
  const std::string text = "a987fb5a-8cb6-4f3f-8f6b-0000000000ff";
  const std::string others[] = {"A987FB5A-8CB6-4F3F-8F6B-0000000000FF", "", "x", text + " "};
  std::vector<std::string_view> views(std::begin(others), std::end(others));
  EXPECT_FALSE(jti_in_revoked_set(RevokedJtiSet::borrowing(views), id));
  views.push_back(text);
  EXPECT_TRUE(jti_in_revoked_set(RevokedJtiSet::borrowing(views), id));
  EXPECT_TRUE(RevokedJtiSet::borrowing({}).empty());

  // The lookup is asked exactly the canonical text.
  struct Asked {
    std::vector<std::string> texts;
    bool answer = false;
  } asked;
  const RevokedJtiSet::Lookup lookup = [](const void* context, std::string_view t) noexcept {
    auto* a = const_cast<Asked*>(static_cast<const Asked*>(context));
    a->texts.emplace_back(t);
    return a->answer;
  };
  RevokedJtiSet looked_up = RevokedJtiSet::looked_up(lookup, &asked);
  EXPECT_FALSE(looked_up.empty());
  EXPECT_FALSE(jti_in_revoked_set(looked_up, id));
  asked.answer = true;
  EXPECT_TRUE(jti_in_revoked_set(looked_up, id));
  EXPECT_EQ(asked.texts, (std::vector<std::string>{text, text}));
  looked_up.clear();
  EXPECT_TRUE(looked_up.empty());
  EXPECT_FALSE(jti_in_revoked_set(looked_up, id));
  EXPECT_EQ(asked.texts.size(), 2u);
}

}  // namespace
}  // namespace zelk
