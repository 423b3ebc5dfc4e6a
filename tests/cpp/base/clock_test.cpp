#include "base/clock.hpp"

#include <gtest/gtest.h>

namespace zelk {
namespace {

TEST(Clock, ReadsWholeSecondsAfter2020) {
  auto now = unix_now_secs();
  ASSERT_TRUE(now.has_value());
  EXPECT_GT(*now, 1577836800);
  EXPECT_EQ(ClockError{}.message(), "system clock reads a time before the unix epoch");
  EXPECT_EQ(ClockError{22}.message(), "system clock unreadable (os error 22)");
}

TEST(Clock, GivenTimeWinsOverTheClock) {
  EXPECT_EQ(now_or_invariant(std::int64_t{-5}), -5);
  EXPECT_GT(now_or_invariant(std::nullopt), 1577836800);
}

}  // namespace
}  // namespace zelk
