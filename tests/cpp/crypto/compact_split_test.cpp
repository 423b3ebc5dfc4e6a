#include "crypto/compact_split.hpp"

#include <gtest/gtest.h>

#include <string>

namespace zelk {
namespace {

// How one text splits: "h|p|s" for its segments, else the failure with its segment count.
std::string outcome(std::string_view token, EmptySegments empty) {
  auto s = split_compact_token(token, empty);
  if (s)
    return std::string(s->header) + "|" + std::string(s->payload) + "|" + std::string(s->signature);
  if (s.error().kind == CompactSplitError::Kind::EmptySegment) return "empty segment";
  return "segments: " + std::to_string(s.error().segments);
}

TEST(CompactSplit, EveryShapeUnderBothPolicies) {
  const struct {
    const char* token;
    const char* refused;
    const char* allowed;
  } cases[] = {
      {"", "segments: 1", "segments: 1"},
      {"abc", "segments: 1", "segments: 1"},
      {"a.b", "segments: 2", "segments: 2"},
      {"a.b.c", "a|b|c", "a|b|c"},
      {"a.b.c.", "segments: 4", "segments: 4"},
      {"a.b.c.d.e", "segments: 5", "segments: 5"},
      {"...", "segments: 4", "segments: 4"},
      {".b.c", "empty segment", "|b|c"},
      {"a..c", "empty segment", "a||c"},
      {"a.b.", "empty segment", "a|b|"},
      {"..", "empty segment", "||"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(outcome(c.token, EmptySegments::Refused), c.refused) << c.token;
    EXPECT_EQ(outcome(c.token, EmptySegments::Allowed), c.allowed) << c.token;
  }
}

}  // namespace
}  // namespace zelk
