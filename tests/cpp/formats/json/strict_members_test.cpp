#include <gtest/gtest.h>

#include <string>

#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "test_records.hpp"

namespace zelk::json {
namespace {

JsonError read_error(std::string_view text) {
  auto r = read_record<testing::JwsHeader>(text);
  EXPECT_FALSE(r.has_value()) << text;
  return r ? JsonError{} : r.error();
}

TEST(UnknownFieldName, TakesTheNameOfAnUnknownMember) {
  const JsonError e = read_error(R"({"alg":"a","foo":1})");
  EXPECT_EQ(e.full(), "unknown field `foo`, expected `alg` or `typ` at line 1 column 16");
  EXPECT_EQ(unknown_field_name(e), "foo");
  // Inside a nested record too.
  auto claims = read_record<testing::Claims>(R"({"cnf":{"jkt":"t","x":1}})");
  ASSERT_FALSE(claims.has_value());
  EXPECT_EQ(unknown_field_name(claims.error()), "x");
}

TEST(UnknownFieldName, AbsentForOtherErrors) {
  EXPECT_EQ(unknown_field_name(read_error("{}")), std::nullopt);
  EXPECT_EQ(unknown_field_name(read_error(R"({"alg":"a","alg":"b"})")), std::nullopt);
  EXPECT_EQ(unknown_field_name(read_error("[")), std::nullopt);
  EXPECT_EQ(unknown_field_name(JsonError{"unknown field `open"}), std::nullopt);
  EXPECT_EQ(unknown_field_name(JsonError{"Unknown field `x`"}), std::nullopt);
}

TEST(UnknownFieldName, CutsAtABackquoteInTheName) {
  const JsonError e = read_error(R"({"a`b":1})");
  EXPECT_EQ(e.message, "unknown field `a`b`, expected `alg` or `typ`");
  EXPECT_EQ(unknown_field_name(e), "a");
  EXPECT_EQ(unknown_field_name(JsonError{"unknown field ``"}), "");
}

TEST(FindUndeclaredMember, FirstUndeclaredInTextOrder) {
  constexpr std::string_view declared[] = {"ver", "iss"};
  auto value = [](std::string_view text) { return *parse_value(text); };
  EXPECT_EQ(find_undeclared_member("TctClaims", value(R"({"ver":1,"x":2,"y":3})"), declared),
            (UndeclaredMember{"x", "TctClaims"}));
  EXPECT_EQ(find_undeclared_member("TctClaims", value(R"({"VER":1})"), declared),
            (UndeclaredMember{"VER", "TctClaims"}));
  EXPECT_EQ(find_undeclared_member("TctClaims", value(R"({"iss":1,"ver":2})"), declared),
            std::nullopt);
  EXPECT_EQ(find_undeclared_member("R", value(R"({"ver":{"deep":1}})"), declared), std::nullopt);
  for (const char* other : {"[1]", R"("ver")", "{}", "null", "5"})
    EXPECT_EQ(find_undeclared_member("R", value(other), declared), std::nullopt) << other;
  // Repeated declared names count once; names compare after unescaping.
  constexpr std::string_view repeated[] = {"a", "a", "b"};
  EXPECT_EQ(find_undeclared_member("R", value(R"({"b":1,"\u0061":2,"c":3})"), repeated),
            (UndeclaredMember{"c", "R"}));
  EXPECT_EQ(find_undeclared_member("R", value(R"({"a":1})"), {}), (UndeclaredMember{"a", "R"}));
}

}  // namespace
}  // namespace zelk::json
