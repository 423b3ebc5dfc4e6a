#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/keys.hpp"
#include "tct_test_util.hpp"

namespace zelk::test {

inline constexpr std::string_view kJti = "0f8fad5b-d9cb-469f-a165-70867728950e";

// Tokens written by hand: the claims text, the header's type and the signer are chosen by each
// test, so that the code under test sees exactly what a foreign issuer or a holder could send.
class HandWrittenTcts : public ::testing::Test {
 protected:
  // `grants`: the raw JSON of the grants the claims carry unless a test changes them.
  explicit HandWrittenTcts(std::string_view grants = R"(["read"])") : grants_(grants) {}

  SigningKey issuer = ed_key(1);
  SigningKey subject = ed_key(2);
  SigningKey other = ed_key(3);
  SigningKey p256 = p256_key(5);

  // Claims from `issuer` to `who` (also their audience), valid from a minute before kNow to a
  // minute after it.
  ClaimsText claims_for(const SigningKey& who) const {
    return tct_claims_text({.issuer = issuer.aid_text(),
                            .subject = who.aid_text(),
                            .jti = kJti,
                            .iat = kNow - 60,
                            .exp = kNow + 60,
                            .grants = grants_,
                            .jkt = *jwk_thumbprint(who.verifying_key())});
  }
  ClaimsText claims() const { return claims_for(subject); }

  std::string token(const ClaimsText& c) const { return token(issuer, c); }
  std::string token(const SigningKey& signer, const ClaimsText& c,
                    std::string_view typ = "zelk-tct+jwt") const {
    return forge_typed(signer, typ, c.text());
  }

 private:
  std::string_view grants_;
};

}  // namespace zelk::test
