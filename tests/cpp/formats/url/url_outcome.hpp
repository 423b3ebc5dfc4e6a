#pragma once

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>

#include "formats/url/url.hpp"

namespace zelk::url::testing {

// "OK <href>" or "ERR <message>", so a table row states the whole expected outcome.
inline std::string outcome(std::string_view input) {
  const auto r = parse_url(input);
  if (r) return "OK " + r->href();
  return "ERR " + std::string(r.error().message());
}

struct Case {
  std::string_view input;
  std::string_view expected;
};

inline void expect_outcomes(std::span<const Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(c.input), c.expected) << "input: " << ::testing::PrintToString(c.input);
  }
}

}  // namespace zelk::url::testing
