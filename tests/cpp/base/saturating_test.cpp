#include "base/saturating.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace zelk {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(Saturating, ClampsAtBothEnds) {
  struct Case {
    std::int64_t a, b, sum, difference;
  };
  const Case cases[] = {
      {1, 2, 3, -1},          {kMax, 1, kMax, kMax - 1},
      {kMax, kMax, kMax, 0},  {kMin, -1, kMin, kMin + 1},
      {kMin, kMin, kMin, 0},  {kMin, 1, kMin + 1, kMin},
      {-1, kMin, kMin, kMax}, {0, kMin, kMin, kMax},
      {kMax, kMin, -1, kMax},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(saturating_add(c.a, c.b), c.sum) << c.a << " + " << c.b;
    EXPECT_EQ(saturating_sub(c.a, c.b), c.difference) << c.a << " - " << c.b;
  }
}

}  // namespace
}  // namespace zelk
