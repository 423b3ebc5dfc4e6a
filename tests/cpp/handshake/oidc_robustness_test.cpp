// Damaged tokens, headers and claims through the whole OIDC check: every one is refused with an
// identity error (never a crash, a leak or an exception), and only the intact token passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "../formats/json/reader_messages.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/json/parse.hpp"
#include "handshake/oidc_claims.hpp"
#include "handshake/oidc_verify.hpp"
#include "handshake/payloads.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

using test::json_str;
const std::string kIssuer(test::kIssuer);
constexpr std::string_view kNonce = "AAECAwQFBgcICQoLDA0ODw";
constexpr std::string_view kVerified = "(verified)";

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

  // "(verified)", or the text of the refusal, which must be an identity error.
  std::string outcome(std::string token) {
    const IdentityDescriptor d{IdentityType::Oidc, kIssuer,      "alice",
                               std::move(token),   std::nullopt, std::nullopt};
    const OidcVerifyContext context{.expected_audience = verifier.aid_text(),
                                    .expected_nonce = kNonce,
                                    .trust_anchors = anchors,
                                    .resolver = resolver,
                                    .subject_aid = peer.aid(),
                                    .now = test::kNow};
    auto r = verify_oidc_identity(d, context);
    if (r) return std::string(kVerified);
    EXPECT_EQ(r.error().kind, HandshakeError::Kind::IdentityVerification);
    return r.error().message();
  }
  bool verifies(std::string token) { return outcome(std::move(token)) == kVerified; }
};

constexpr std::string_view kRefused = "identity verification failed: ";

// The checks of the claims that come after their reading, in the order they run.
constexpr std::string_view kClaimChecks[] = {
    "iss mismatch",        "aud mismatch",          "sub mismatch",
    "jwt exp in the past", "iat outside tolerance", "missing nonce claim",
    "nonce mismatch",      "missing cnf claim",     "cnf.jkt mismatch",
};

// Whether `result` is a token's verification or a refusal for one of `checks` (whole texts) or
// of `openings` (texts that go on with what the failed step says).
bool is_one_of(std::string_view result, std::span<const std::string_view> checks,
               std::span<const std::string_view> openings = {}) {
  if (result == kVerified) return true;
  if (!result.starts_with(kRefused)) return false;
  result.remove_prefix(kRefused.size());
  return std::ranges::find(checks, result) != checks.end() ||
         std::ranges::any_of(openings, [&](std::string_view o) { return result.starts_with(o); });
}

constexpr std::string_view kKeyChoice[] = {"no matching JWK"};
constexpr std::string_view kSignatureCheck[] = {"jwt signature invalid: "};

// Every refusal a token with this descriptor and these keys can meet, from its shape on.
bool is_token_outcome(std::string_view result) {
  static constexpr std::string_view kOpenings[] = {
      "malformed JWT: expected 3 dot-separated segments, got ",
      "malformed JWT header b64: ",
      "malformed JWT header json: ",
      "malformed JWT signature b64: ",
      "jwt signature invalid: ",
      "malformed JWT payload b64: ",
      "malformed JWT claims: ",
  };
  return is_one_of(result, kClaimChecks, kOpenings) || is_one_of(result, kKeyChoice);
}

// A header or claims text edited, then signed: what its reader refuses is refused with the
// reader's message in full after `opening`; what it reads must pass or fail a later step.
template <typename Read>
void check_signed_again(const std::string& result, const Read& read, std::string_view opening,
                        bool later_step) {
  if (!read) {
    EXPECT_EQ(result, std::string(kRefused) + std::string(opening) + read.error().full());
  } else {
    EXPECT_TRUE(later_step) << result;
  }
}

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
    // Signed again: the claims, then the header, whose reading is followed by the key's choice
    // and the signature.
    const std::string claims_text = mutate(c);
    const std::string claims_result = outcome(sign(h, claims_text));
    check_signed_again(claims_result, decode_oidc_claims(claims_text),
                       "malformed JWT claims: ", is_one_of(claims_result, kClaimChecks));
    const std::string header_text = mutate(h);
    const std::string header_result = outcome(sign(header_text, c));
    check_signed_again(header_result, decode_jwt_header(header_text), "malformed JWT header json: ",
                       is_one_of(header_result, kKeyChoice, kSignatureCheck));
    // A token changed after signing is refused, unless the edits undid each other.
    const std::string changed = mutate(token);
    const std::string changed_result = outcome(changed);
    EXPECT_TRUE(is_token_outcome(changed_result)) << changed_result;
    EXPECT_EQ(changed_result == kVerified, changed == token) << changed;
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
  // Each reader refuses with one of the JSON reader's messages, without a position (the value
  // has none), or reads a payload that, written back as a value, reads the same.
  std::string text;
  auto round_trip = [&](const json::Value& value, auto read, auto write) {
    const auto payload = read(value);
    if (!payload) {
      EXPECT_FALSE(payload.error().has_position()) << text;
      EXPECT_TRUE(json::testing::is_reader_message(payload.error().message))
          << payload.error().message;
      return;
    }
    const auto again = read(write(*payload));
    EXPECT_TRUE(again.has_value() && *again == *payload) << text;
  };
  for (const std::string& seed : seeds) {
    for (int i = 0; i < 300; ++i) {
      text = seed;
      text[rng() % text.size()] = alphabet[rng() % alphabet.size()];
      auto value = json::parse_value(text);
      if (!value) continue;
      round_trip(*value, identity_descriptor_from_value, json::record_to_value<IdentityDescriptor>);
      round_trip(*value, mutual_commit_from_value, mutual_commit_to_value);
      round_trip(*value, mutual_hello_from_value, mutual_hello_to_value);
      round_trip(*value, mutual_hello_ack_from_value, mutual_hello_ack_to_value);
    }
  }
}

}  // namespace
}  // namespace zelk
