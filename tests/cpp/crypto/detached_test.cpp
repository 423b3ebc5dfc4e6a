#include "crypto/detached.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/json/parse.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

class Detached : public ::testing::Test {
 protected:
  SigningKey ed = SigningKey::ed25519_from_seed(test::hex32(test::kRfc8032Secret1));
  SigningKey p256 = std::move(*SigningKey::p256_from_scalar(test::hex32(test::kRfc6979Scalar)));
};

TEST_F(Detached, BodySigningBytesLeaveOutOnlyTheTopLevelSignature) {
  const struct {
    const char* body;
    const char* bytes;
  } cases[] = {
      {R"({"signature":"s","b":1,"a":{"signature":2}})", R"({"a":{"signature":2},"b":1})"},
      {R"({"z":[1.5e3,"é"],"a":null})", R"({"a":null,"z":[1500,"é"]})"},
      {R"({"signature":"only"})", "{}"},
      {R"([{"signature":1}])", R"([{"signature":1}])"},
  };
  for (const auto& c : cases) {
    auto bytes = body_signing_bytes(*json::parse_value(c.body));
    ASSERT_TRUE(bytes.has_value()) << c.body;
    EXPECT_EQ(*bytes, c.bytes) << c.body;
  }
  json::Object bad;
  bad.push_back_unchecked("n", json::Value(std::numeric_limits<double>::infinity()));
  bad.push_back_unchecked("signature", json::Value("x"));
  auto refused = body_signing_bytes(json::Value(std::move(bad)));
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().message(), "serialization failed: invalid float value");
}

TEST_F(Detached, SignsTheDigestOfTheInputAndVerifiesIt) {
  const std::string_view input = R"({"a":1})";
  for (const SigningKey* key : {&ed, &p256}) {
    const std::string sig = sign_detached(*key, input);
    EXPECT_EQ(sig, sign_digest_text(*key, sha256(input)));
    EXPECT_TRUE(verify_detached(key->verifying_key(), input, sig));
    EXPECT_EQ(verify_detached(key->verifying_key(), std::string_view(R"({"a":2})"), sig).error(),
              CryptoError::verification());
    // A body's old signature is not part of what the new one covers.
    auto body = body_signing_bytes(*json::parse_value(R"({"signature":"old","a":1})"));
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(sign_detached(*key, std::string_view(*body)), sig);
  }
  // Syntax is checked before any key work.
  auto padded = verify_detached(ed.verifying_key(), input, sign_detached(ed, input) + "=");
  ASSERT_FALSE(padded.has_value());
  EXPECT_EQ(padded.error().kind, CryptoError::Kind::SignatureParse);
  // A P-256 signature never verifies under the Ed25519 key and the other way round.
  EXPECT_FALSE(verify_detached(ed.verifying_key(), input, sign_detached(p256, input)));
  EXPECT_FALSE(verify_detached(p256.verifying_key(), input, sign_detached(ed, input)));
}

}  // namespace
}  // namespace zelk
