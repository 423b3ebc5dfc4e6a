#include "crypto/area_error.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace zelk {
namespace {

enum class SampleKind : std::uint8_t { Own, MissingField, Canonicalization, Rng, Crypto };
struct SampleError : AreaError<SampleError, SampleKind, SampleKind::Rng> {
  std::string message() const { return kind == Kind::Own ? "own: " + detail : shared_message(); }
};

// An area without any of the shared kinds gets none of their factories.
enum class BareKind : std::uint8_t { Only };
struct BareError : AreaError<BareError, BareKind> {};

template <typename E>
concept Wraps = requires(CryptoError error) {
  E::wrap(error);
};
template <typename E>
concept NamesMissingField = requires(std::string text) {
  E::missing_field(text);
};
static_assert(Wraps<SampleError> && NamesMissingField<SampleError>);
static_assert(!Wraps<BareError> && !NamesMissingField<BareError>);

TEST(AreaError, SharedKindsShowOneTextInEveryArea) {
  const struct {
    SampleError error;
    SampleKind kind;
    const char* message;
  } cases[] = {
      {SampleError::of(SampleKind::Own, "x"), SampleKind::Own, "own: x"},
      {SampleError::missing_field("aud"), SampleKind::MissingField, "missing required field: aud"},
      {SampleError::canonicalization("why"), SampleKind::Canonicalization,
       "canonicalization failed: why"},
      {SampleError::rng("getrandom failed"), SampleKind::Rng, "rng failure: getrandom failed"},
      {SampleError::wrap(CryptoError::malformed("payload is not a JSON object")),
       SampleKind::Crypto, "compact JWS malformed: payload is not a JSON object"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.kind, c.kind) << c.message;
    EXPECT_EQ(c.error.message(), c.message);
  }
}

TEST(AreaError, DefaultKindAndEquality) {
  EXPECT_EQ(SampleError{}.kind, SampleKind::Rng);
  EXPECT_EQ(BareError{}.kind, BareKind::Only);
  EXPECT_EQ(SampleError::wrap(CryptoError::verification()),
            SampleError::wrap(CryptoError::verification()));
  EXPECT_NE(SampleError::wrap(CryptoError::verification()),
            SampleError::wrap(CryptoError::malformed("x")));
  EXPECT_NE(SampleError::missing_field("a"), SampleError::canonicalization("a"));
}

}  // namespace
}  // namespace zelk
