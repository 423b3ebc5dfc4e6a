// Damaged tokens, headers and claims through the whole OIDC check: every one is refused with an
// identity error (never a crash, a leak or an exception), and only the intact token passes.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/json/parse.hpp"
#include "handshake/oidc_verify.hpp"
#include "handshake/payloads.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

using test::json_str;
const std::string kIssuer(test::kIssuer);
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";

class FixedKeys : public JwksResolver {
 public:
  std::vector<Jwk> keys;
  std::expected<std::vector<Jwk>, JwksResolverError> resolve(const url::Url&) const override {
    return keys;
  }
};

class OidcRobustness : public ::testing::Test {
 protected:
  SigningKey verifier = test::ed_key(1);
  SigningKey peer = test::ed_key(2);
  SigningKey idp = test::ed_key(9);
  std::vector<std::string> anchors{kIssuer};
  FixedKeys resolver;

  void SetUp() override { resolver.keys = {test::public_jwk(idp, "k")}; }

  std::string header() const { return R"({"alg":"EdDSA","kid":"k"})"; }
  std::string claims() const {
    test::ClaimsText c;
    c.set("iss", json_str(kIssuer))
        .set("sub", json_str("alice"))
        .set("aud", "[" + json_str(verifier.aid_text()) + "]")
        .set("iat", std::to_string(test::kNow))
        .set("exp", std::to_string(test::kNow + 600))
        .set("nonce", json_str(kNonce))
        .set("cnf", "{\"jkt\":" + json_str(*jwk_thumbprint(peer.verifying_key())) + "}");
    return c.text();
  }
  std::string sign(std::string_view h, std::string_view c) const { return test::forge(idp, h, c); }

  // True when the token verifies; any refusal must be an identity error.
  bool verifies(std::string token) {
    const IdentityDescriptor d{IdentityType::Oidc, kIssuer,      "alice",
                               std::move(token),   std::nullopt, std::nullopt};
    const OidcVerifyContext context{.expected_audience = verifier.aid_text(),
                                    .expected_nonce = kNonce,
                                    .trust_anchors = anchors,
                                    .resolver = resolver,
                                    .subject_aid = peer.aid(),
                                    .now = test::kNow};
    auto r = verify_oidc_identity(d, context);
    if (!r) {
      EXPECT_EQ(r.error().kind, HandshakeError::Kind::IdentityVerification);
    }
    return r.has_value();
  }
};

TEST_F(OidcRobustness, TruncatedJsonNeverVerifies) {
  const std::string h = header();
  const std::string c = claims();
  ASSERT_TRUE(verifies(sign(h, c)));
  for (std::size_t n = 0; n < c.size(); ++n) EXPECT_FALSE(verifies(sign(h, c.substr(0, n)))) << n;
  for (std::size_t n = 0; n < h.size(); ++n) EXPECT_FALSE(verifies(sign(h.substr(0, n), c))) << n;
}

TEST_F(OidcRobustness, MutatedJsonAndTokens) {
  const std::string h = header();
  const std::string c = claims();
  const std::string token = sign(h, c);
  std::mt19937 rng(12);
  const std::string alphabet = "{}[]\":,\\ 0-1e.Eeu\x7f\xc3\xa9nt";
  auto mutate = [&](std::string text) {
    const int edits = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < edits && !text.empty(); ++i) {
      const std::size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0:
          text[at] = alphabet[rng() % alphabet.size()];
          break;
        case 1:
          text.erase(at, 1);
          break;
        default:
          text.insert(at, 1, alphabet[rng() % alphabet.size()]);
      }
    }
    return text;
  };
  for (int i = 0; i < 400; ++i) {
    (void)verifies(sign(h, mutate(c)));
    (void)verifies(sign(mutate(h), c));
    (void)verifies(mutate(token));
  }
}

TEST_F(OidcRobustness, PayloadReadersTakeAnyJson) {
  std::mt19937 rng(7);
  const std::string seeds[] = {
      R"({"type":"oidc","issuer":null,"subject":"s","proof":"p","extensions":{"a":[1,{}]}})",
      R"(["pinned_key",null,"s","p",null,{}])",
      R"({"tct":"t","grant_voucher":null,"pop_signature":"s","pop_nonce_echo":"n"})",
  };
  const std::string alphabet = "{}[]\":,n0 ul";
  for (const std::string& seed : seeds) {
    for (int i = 0; i < 300; ++i) {
      std::string text = seed;
      text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
      auto value = json::parse_value(text);
      if (!value) continue;
      (void)identity_descriptor_from_value(*value);
      (void)mutual_commit_from_value(*value);
      (void)mutual_hello_from_value(*value);
      (void)mutual_hello_ack_from_value(*value);
    }
  }
}

}  // namespace
}  // namespace zelk
