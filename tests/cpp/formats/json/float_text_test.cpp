#include "formats/json/float_text.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <string>

namespace zelk::json {
namespace {

double from_bits(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

struct Case {
  double value;
  const char* text;
};

TEST(FloatText, PositionalAndScientificForms) {
  const Case cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-1.0, "-1.0"},
      {1.5, "1.5"},
      {12.34, "12.34"},
      {100.0, "100.0"},
      {123456789.0, "123456789.0"},
      {0.1, "0.1"},
      {0.00001, "0.00001"},  // exponent -5: last positional one
      {0.000012345, "0.000012345"},
      {1e-6, "1e-6"},  // exponent -6: first scientific one
      {1e-7, "1e-7"},
      {-2.5e-10, "-2.5e-10"},
      {1e15, "1000000000000000.0"},  // exponent 15: last positional one
      {1234567890123456.7, "1234567890123456.8"},
      {9007199254740991.0, "9007199254740991.0"},  // largest integer of the direct path
      {-9007199254740991.0, "-9007199254740991.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {9007199254740994.0, "9007199254740994.0"},
      {4503599627370495.5, "4503599627370495.5"},
      {1e16, "1e+16"},  // exponent 16: first scientific one
      {1e21, "1e+21"},
      {1.2e41, "1.2e+41"},
      {1e300, "1e+300"},
      {18446744073709551616.0, "1.8446744073709552e+19"},
      {5e-324, "5e-324"},
      {-5e-324, "-5e-324"},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
      {-std::numeric_limits<double>::max(), "-1.7976931348623157e+308"},
      {std::numeric_limits<double>::min(), "2.2250738585072014e-308"},
      {0.30000000000000004, "0.30000000000000004"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(float_text(c.value), c.text) << c.text;
  }
}

TEST(FloatText, AppendsToExistingText) {
  std::string out = "x=";
  append_float_text(2.5, out);
  EXPECT_EQ(out, "x=2.5");
}

TEST(FloatText, NonFiniteValuesHaveADefinedText) {
  EXPECT_EQ(float_text(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(float_text(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(float_text(-std::numeric_limits<double>::infinity()), "-inf");
}

std::string ecmascript(double value) {
  std::string out;
  append_ecmascript_number(value, out);
  return out;
}

// The number examples of RFC 8785, given as IEEE 754 bit patterns, plus the boundaries of the
// positional range.
TEST(EcmascriptNumber, Rfc8785Examples) {
  const struct {
    std::uint64_t bits;
    const char* text;
  } cases[] = {
      {0x0000000000000000, "0"},
      {0x8000000000000000, "0"},
      {0x0000000000000001, "5e-324"},
      {0x8000000000000001, "-5e-324"},
      {0x7fefffffffffffff, "1.7976931348623157e+308"},
      {0xffefffffffffffff, "-1.7976931348623157e+308"},
      {0x4340000000000000, "9007199254740992"},
      {0xc340000000000000, "-9007199254740992"},
      {0x4430000000000000, "295147905179352830000"},
      {0x44b52d02c7e14af5, "9.999999999999997e+22"},
      {0x44b52d02c7e14af6, "1e+23"},
      {0x44b52d02c7e14af7, "1.0000000000000001e+23"},
      {0x444b1ae4d6e2ef4e, "999999999999999700000"},
      {0x444b1ae4d6e2ef4f, "999999999999999900000"},
      {0x444b1ae4d6e2ef50, "1e+21"},
      {0x3eb0c6f7a0b5ed8c, "9.999999999999997e-7"},
      {0x3eb0c6f7a0b5ed8d, "0.000001"},
      {0x41b3de4355555553, "333333333.3333332"},
      {0x41b3de4355555554, "333333333.33333325"},
      {0x41b3de4355555555, "333333333.3333333"},
      {0x41b3de4355555556, "333333333.3333334"},
      {0x41b3de4355555557, "333333333.33333343"},
      {0xbecbf647612f3696, "-0.0000033333333333333333"},
      {0x43143ff3c1cb0959, "1424953923781206.2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ecmascript(from_bits(c.bits)), c.text) << c.text;
  }
}

TEST(EcmascriptNumber, PositionalRangeBoundaries) {
  const Case cases[] = {
      {1.0, "1"},
      {-1.5, "-1.5"},
      {100.0, "100"},
      {-1767225600.0, "-1767225600"},
      {9007199254740991.0, "9007199254740991"},
      {-9007199254740991.0, "-9007199254740991"},
      {9007199254740994.0, "9007199254740994"},
      {4503599627370495.5, "4503599627370495.5"},
      {0.5, "0.5"},
      {1e-7, "1e-7"},
      {1.5e-7, "1.5e-7"},
      {0.000001, "0.000001"},
      {1e20, "100000000000000000000"},
      {1e21, "1e+21"},
      {1.5e21, "1.5e+21"},
      {9223372036854775807.0, "9223372036854776000"},
      {4.5, "4.5"},
      {2e-3, "0.002"},
      {1e30, "1e+30"},
      {1e-27, "1e-27"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ecmascript(c.value), c.text) << c.text;
  }
}

}  // namespace
}  // namespace zelk::json
