#include "handshake/oidc_verify.hpp"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "../crypto/rsa_test_util.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "handshake_fixture.hpp"

namespace zelk {
namespace {

using test::json_str;
constexpr std::int64_t kNow = test::kNow;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
const std::string kIssuer(test::kIssuer);
constexpr std::string_view kNonce = "bm9uY2Utb25lLXR3bw";

std::string b64(std::string_view text) {
  return b64url_encode(as_bytes(text));
}

// A key list handed out by a table; counts its calls and remembers what it was asked.
class TableResolver : public JwksResolver {
 public:
  std::expected<std::vector<Jwk>, JwksResolverError> result = std::vector<Jwk>{};
  mutable int calls = 0;
  mutable std::string asked;

  std::expected<std::vector<Jwk>, JwksResolverError> resolve(
      const url::Url& issuer) const override {
    ++calls;
    asked = issuer.href();
    return result;
  }
};

// Signs a signing input the way one identity provider key would.
struct IdpKey {
  std::string alg;
  Jwk jwk;
  std::function<Bytes(std::string_view)> sign;
};

IdpKey curve_idp(const SigningKey& key, std::optional<std::string> kid) {
  auto sign = [&key](std::string_view input) {
    const Signature64 s = sign_bytes(key, as_bytes(input));
    return Bytes(s.begin(), s.end());
  };
  return {key.suite() == KeySuite::Ed25519 ? "EdDSA" : "ES256",
          test::public_jwk(key, std::move(kid)), sign};
}

IdpKey rsa_idp(const test::RsaTestKey& key, std::optional<std::string> kid) {
  return {"RS256", Jwk::rsa(std::move(kid), key.n, key.e),
          [&key](std::string_view input) { return test::rsa_sign(key, input); }};
}

class OidcVerify : public ::testing::Test {
 protected:
  SigningKey verifier = test::ed_key(1);
  SigningKey peer = test::ed_key(2);
  SigningKey idp_ed = test::ed_key(9);
  SigningKey idp_ec = test::p256_key(9);
  SigningKey stranger = test::ed_key(10);
  std::vector<std::string> anchors{kIssuer};
  TableResolver resolver;
  std::int64_t now = kNow;
  std::string expected_nonce{kNonce};

  void SetUp() override { resolver.result = std::vector<Jwk>{curve_idp(idp_ed, "k1").jwk}; }

  std::string thumbprint_of(const SigningKey& key) const {
    return *jwk_thumbprint(key.verifying_key());
  }

  test::ClaimsText claims() const {
    test::ClaimsText c;
    c.set("iss", json_str(kIssuer))
        .set("sub", json_str("alice"))
        .set("aud", json_str(verifier.aid_text()))
        .set("iat", std::to_string(kNow))
        .set("exp", std::to_string(kNow + 600))
        .set("nonce", json_str(kNonce))
        .set("cnf", "{\"jkt\":" + json_str(thumbprint_of(peer)) + "}");
    return c;
  }
  static std::string header(std::string_view alg, std::optional<std::string_view> kid = "k1") {
    std::string h = "{\"alg\":" + json_str(alg);
    if (kid) h += ",\"kid\":" + json_str(*kid);
    return h + ",\"typ\":\"JWT\"}";
  }

  static std::string token(const IdpKey& key, std::string_view header_text,
                           std::string_view claims_text) {
    const std::string input = b64(header_text) + "." + b64(claims_text);
    return input + "." + b64url_encode(key.sign(input));
  }
  std::string token(std::string_view claims_text) const {
    return token(curve_idp(idp_ed, "k1"), header("EdDSA"), claims_text);
  }
  std::string token() const { return token(claims().text()); }

  IdentityDescriptor descriptor(std::string proof) const {
    return {IdentityType::Oidc, kIssuer, "alice", std::move(proof), std::nullopt, std::nullopt};
  }

  std::string error_of(const IdentityDescriptor& d, const Aid* subject = nullptr) {
    const OidcVerifyContext context{.expected_audience = verifier.aid_text(),
                                    .expected_nonce = expected_nonce,
                                    .trust_anchors = anchors,
                                    .resolver = resolver,
                                    .subject_aid = subject ? *subject : peer.aid(),
                                    .now = now};
    ERR_clear_error();
    auto r = verify_oidc_identity(d, context);
    // Whatever the outcome, nothing is left in the thread's OpenSSL error queue.
    EXPECT_EQ(ERR_peek_error(), 0u);
    return r ? "(verified)" : r.error().message();
  }
  std::string error_of(std::string proof) { return error_of(descriptor(std::move(proof))); }
};

const std::string kIdentity = "identity verification failed: ";

TEST_F(OidcVerify, EachAlgorithmVerifiesWithOneResolve) {
  const IdpKey keys[] = {curve_idp(idp_ed, "k1"), curve_idp(idp_ec, "k1"),
                         rsa_idp(test::rsa_key_2048(), "k1"), rsa_idp(test::rsa_key_4096(), "k1")};
  for (const IdpKey& key : keys) {
    resolver.calls = 0;
    resolver.result = std::vector<Jwk>{key.jwk};
    EXPECT_EQ(error_of(token(key, header(key.alg), claims().text())), "(verified)") << key.alg;
    EXPECT_EQ(resolver.calls, 1);
    EXPECT_EQ(resolver.asked, kIssuer);
  }
}

TEST_F(OidcVerify, RefusedRsaKeysFailAsSignatures) {
  const test::RsaTestKey& small = test::rsa_key_1024();
  resolver.result = std::vector<Jwk>{rsa_idp(small, "k1").jwk};
  EXPECT_EQ(error_of(token(rsa_idp(small, "k1"), header("RS256"), claims().text())),
            kIdentity + "jwt signature invalid: signature verification failed");
  const test::RsaTestKey& good = test::rsa_key_2048();
  resolver.result = std::vector<Jwk>{Jwk::rsa("k1", good.n, {0x01})};
  EXPECT_EQ(error_of(token(rsa_idp(good, "k1"), header("RS256"), claims().text())),
            kIdentity + "jwt signature invalid: signature verification failed");
}

// Each step in its order: a case fails at its step, and the resolver is consulted only from
// step 8 on.
TEST_F(OidcVerify, StepsBeforeTheSignature) {
  const std::string good = token();
  const std::string claims_b64 = b64(claims().text());
  const std::string sig_b64 = good.substr(good.rfind('.') + 1);
  auto with_header = [&](std::string_view h) { return b64(h) + "." + claims_b64 + "." + sig_b64; };

  IdentityDescriptor keyed = descriptor(good);
  keyed.public_key = "k";
  keyed.issuer.reset();
  IdentityDescriptor no_issuer = descriptor("no dots at all");
  no_issuer.issuer.reset();

  struct Case {
    const char* what;
    IdentityDescriptor d;
    std::string error;
    int calls;
  };
  const std::vector<Case> cases = {
      {"public_key before issuer", keyed, kIdentity + "oidc descriptor must not carry public_key",
       0},
      {"no issuer", no_issuer, kIdentity + "oidc descriptor missing issuer", 0},
      {"two segments", descriptor("a.b"),
       kIdentity + "malformed JWT: expected 3 dot-separated segments, got 2", 0},
      {"four segments", descriptor("a..b.c"),
       kIdentity + "malformed JWT: expected 3 dot-separated segments, got 4", 0},
      {"one segment", descriptor("abc"),
       kIdentity + "malformed JWT: expected 3 dot-separated segments, got 1", 0},
      {"empty header segment", descriptor(".x.y"),
       kIdentity + "malformed JWT header json: EOF while parsing a value at line 1 column 0", 0},
      {"padded header", descriptor("eyJ9=.x.y"),
       kIdentity + "malformed JWT header b64: base64url padding is forbidden in ZELK", 0},
      {"header without alg", descriptor(with_header(R"({"kid":"k1","typ":"JWT"})")),
       kIdentity + "malformed JWT header json: missing field `alg` at line 1 column 24", 0},
      {"kid of another type", descriptor(with_header(R"({"alg":"EdDSA","kid":5})")),
       kIdentity +
           "malformed JWT header json: invalid type: integer `5`, expected a string at line 1 "
           "column 22",
       0},
      {"alg twice", descriptor(with_header(R"({"alg":"EdDSA","alg":"EdDSA"})")),
       kIdentity + "malformed JWT header json: duplicate field `alg` at line 1 column 20", 0},
      {"header not an object", descriptor(with_header(R"("EdDSA")")),
       kIdentity +
           "malformed JWT header json: invalid type: string \"EdDSA\", expected struct JwtHeader "
           "at line 1 column 7",
       0},
      {"header trailing text", descriptor(with_header(R"({"alg":"EdDSA"} x)")),
       kIdentity + "malformed JWT header json: trailing characters at line 1 column 17", 0},
      // Without a kid, the only key of the list is taken whatever its kid.
      {"header of one element", descriptor(with_header(R"(["EdDSA"])")),
       kIdentity + "jwt signature invalid: signature verification failed", 1},
      {"empty header array", descriptor(with_header("[]")),
       kIdentity + "malformed JWT header json: invalid length 0, expected struct JwtHeader with 2 "
                   "elements at line 1 column 2",
       0},
      {"no key with the kid", descriptor(with_header(R"({"alg":"EdDSA","kid":"k2"})")),
       kIdentity + "no matching JWK", 1},
      {"bad signature segment", descriptor(good.substr(0, good.rfind('.')) + ".a+b"),
       kIdentity + "malformed JWT signature b64: invalid base64url character", 1},
      {"extra header members", descriptor(with_header(R"({"alg":"EdDSA","kid":"k1","x":[1]})")),
       kIdentity + "jwt signature invalid: signature verification failed", 1},
  };
  for (const Case& c : cases) {
    resolver.calls = 0;
    EXPECT_EQ(error_of(c.d), c.error) << c.what;
    EXPECT_EQ(resolver.calls, c.calls) << c.what;
  }
}

TEST_F(OidcVerify, TrustAnchorsAreComparedBeforeTheTokenIsRead) {
  anchors.clear();
  EXPECT_EQ(error_of("no dots"), "incompatible trust anchors");
  anchors = {"https://idp.example", "https://IDP.example/"};
  EXPECT_EQ(error_of(token()), "incompatible trust anchors");
  EXPECT_EQ(resolver.calls, 0);
  anchors = {"https://other.example/", kIssuer};
  EXPECT_EQ(error_of(token()), "(verified)");
}

TEST_F(OidcVerify, IssuerUrlAndResolverFailures) {
  IdentityDescriptor d = descriptor(token());
  d.issuer = "not a url";
  anchors = {"not a url"};
  EXPECT_EQ(error_of(d), kIdentity + "issuer not a URL: " +
                             std::string(url::parse_url("not a url").error().message()));
  EXPECT_EQ(resolver.calls, 0);

  // The resolver is given the parsed URL; the error names the descriptor's own text.
  d.issuer = "HTTPS://idp.example";
  anchors = {"HTTPS://idp.example"};
  resolver.result = std::unexpected(JwksResolverError::not_trusted(test::url_of(kIssuer)));
  EXPECT_EQ(error_of(d),
            "issuer key resolution failed for HTTPS://idp.example: issuer not "
            "trusted: https://idp.example/");
  EXPECT_EQ(resolver.asked, kIssuer);

  anchors = {kIssuer};
  resolver.result = std::unexpected(JwksResolverError::unavailable(
      "no JWKS resolver configured for this session (pinned-key only)"));
  EXPECT_EQ(error_of(token()),
            "issuer key resolution failed for https://idp.example/: could not resolve issuer "
            "keys: no JWKS resolver configured for this session (pinned-key only)");
  EXPECT_EQ(error_of("a.b"), kIdentity + "malformed JWT: expected 3 dot-separated segments, got 2");

  resolver.result = std::vector<Jwk>{};
  EXPECT_EQ(error_of(token()),
            "issuer key resolution failed for https://idp.example/: issuer resolved zero "
            "candidate keys");
}

TEST_F(OidcVerify, KeySelectionTriesOnlyTheSelectedKey) {
  const IdpKey right = curve_idp(idp_ed, std::nullopt);
  auto key = [&](std::optional<std::string> kid, bool signs) {
    return curve_idp(signs ? idp_ed : stranger, std::move(kid)).jwk;
  };
  const std::string ok = "(verified)";
  const std::string none = kIdentity + "no matching JWK";
  const std::string bad = kIdentity + "jwt signature invalid: signature verification failed";
  struct Case {
    std::optional<std::string_view> header_kid;
    std::vector<Jwk> keys;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"B", {key("A", false), key("B", true), key("B", false)}, ok},
      {"B", {key("A", false), key("B", false), key("B", true)}, bad},
      {"B", {key("A", true)}, none},
      {"B", {key(std::nullopt, true)}, none},
      {std::nullopt, {key("A", true)}, ok},
      {std::nullopt, {key("A", false), key(std::nullopt, true)}, ok},
      {std::nullopt, {key("A", true), key(std::nullopt, false)}, bad},
      {std::nullopt, {key("A", true), key("B", true)}, none},
      {"", {key(std::nullopt, true)}, none},
      {"", {key("", true)}, ok},
  };
  for (const Case& c : cases) {
    resolver.result = c.keys;
    EXPECT_EQ(error_of(token(right, header("EdDSA", c.header_kid), claims().text())), c.error)
        << (c.header_kid ? *c.header_kid : "(no kid)") << " over " << c.keys.size() << " keys";
  }
}

TEST_F(OidcVerify, SignatureBeforePayload) {
  const std::string good = token();
  const std::size_t first = good.find('.');
  const std::size_t last = good.rfind('.');
  const IdpKey key = curve_idp(idp_ed, "k1");
  // A payload segment that is not base64url, signed as it stands.
  const std::string input = b64(header("EdDSA")) + ".e30=";
  const std::string signed_bad_payload = input + "." + b64url_encode(key.sign(input));
  EXPECT_EQ(error_of(signed_bad_payload),
            kIdentity + "malformed JWT payload b64: base64url padding is forbidden in ZELK");
  // The same payload under the original signature fails at the signature.
  EXPECT_EQ(error_of(good.substr(0, first) + ".e30=" + good.substr(last)),
            kIdentity + "jwt signature invalid: signature verification failed");
  // Another alg than the key's.
  EXPECT_EQ(error_of(token(key, header("RS256"), claims().text())),
            kIdentity + "jwt signature invalid: JWS header alg RS256 does not match key alg EdDSA");
}

TEST_F(OidcVerify, Claims) {
  const std::string other_jkt = "{\"jkt\":" + json_str(thumbprint_of(stranger)) + "}";
  struct Case {
    const char* what;
    test::ClaimsText c;
    std::string error;
  };
  auto c = [&] { return claims(); };
  const std::vector<Case> cases = {
      {"iss with trailing slash removed", c().set("iss", json_str("https://idp.example")),
       "iss mismatch"},
      {"aud list holding it", c().set("aud", "[\"x\"," + json_str(verifier.aid_text()) + "]"), ""},
      {"aud empty list", c().set("aud", "[]"), "aud mismatch"},
      {"aud other text", c().set("aud", json_str(peer.aid_text())), "aud mismatch"},
      {"aud number", c().set("aud", "5"),
       "malformed JWT claims: data did not match any variant of untagged enum Aud at line 1 "
       "column 51"},
      {"sub", c().set("sub", json_str("bob")), "sub mismatch"},
      {"exp == now", c().set("exp", std::to_string(kNow)), "jwt exp in the past"},
      {"exp == now + 1", c().set("exp", std::to_string(kNow + 1)), ""},
      {"exp min", c().set("exp", std::to_string(kMin)), "jwt exp in the past"},
      {"iat now - 300", c().set("iat", std::to_string(kNow - 300)), ""},
      {"iat now + 300", c().set("iat", std::to_string(kNow + 300)), ""},
      {"iat now - 301", c().set("iat", std::to_string(kNow - 301)), "iat outside tolerance"},
      {"iat now + 301", c().set("iat", std::to_string(kNow + 301)), "iat outside tolerance"},
      {"iat max", c().set("iat", std::to_string(kMax)), "iat outside tolerance"},
      {"iat min", c().set("iat", std::to_string(kMin)), "iat outside tolerance"},
      {"iat float", c().set("iat", "1700000000.0"),
       "malformed JWT claims: invalid type: floating point `1700000000.0`, expected i64 at line "
       "1 column 125"},
      {"iat beyond i64", c().set("iat", "9223372036854775808"),
       "malformed JWT claims: invalid value: integer `9223372036854775808`, expected i64 at "
       "line 1 column 132"},
      {"nonce null", c().set("nonce", "null"), "missing nonce claim"},
      {"nonce absent", c().drop("nonce"), "missing nonce claim"},
      {"nonce other", c().set("nonce", json_str("AAAA")), "nonce mismatch"},
      {"cnf absent", c().drop("cnf"), "missing cnf claim"},
      {"cnf null", c().set("cnf", "null"), "missing cnf claim"},
      {"cnf empty", c().set("cnf", "{}"),
       "malformed JWT claims: missing field `jkt` at line 1 column 178"},
      {"cnf of another key", c().set("cnf", other_jkt), "cnf.jkt mismatch"},
      {"cnf with more members",
       c().set("cnf", "{\"x5t\":1,\"jkt\":" + json_str(thumbprint_of(peer)) + "}"), ""},
      {"iss twice", c().add("iss", json_str(kIssuer)),
       "malformed JWT claims: duplicate field `iss` at line 1 column 235"},
      {"other members of any type",
       c().add("nbf", std::to_string(kMax)).add("x", "[{}]").add("iss_", "null"), ""},
      {"no iss nor sub", c().drop("sub").drop("iss"),
       "malformed JWT claims: missing field `iss` at line 1 column 187"},
      // Claim checks run in their order: the earlier of two faults is reported.
      {"iss before aud", c().set("iss", json_str("x")).set("aud", "[]"), "iss mismatch"},
      {"aud before sub", c().set("aud", "[]").set("sub", json_str("x")), "aud mismatch"},
      {"sub before exp", c().set("sub", json_str("x")).set("exp", "0"), "sub mismatch"},
      {"exp before iat", c().set("exp", "0").set("iat", "0"), "jwt exp in the past"},
      {"iat before nonce", c().set("iat", "0").drop("nonce"), "iat outside tolerance"},
      {"nonce before cnf", c().set("nonce", json_str("x")).drop("cnf"), "nonce mismatch"},
  };
  for (const Case& k : cases) {
    const std::string expected = k.error.empty() ? "(verified)" : kIdentity + k.error;
    EXPECT_EQ(error_of(token(k.c.text())), expected) << k.what;
  }
}

TEST_F(OidcVerify, ClaimsArrayFormHasNoNonce) {
  const std::string five = "[" + json_str(kIssuer) + ",\"alice\"," + json_str(verifier.aid_text()) +
                           "," + std::to_string(kNow) + "," + std::to_string(kNow + 60) + "]";
  EXPECT_EQ(error_of(token(five)), kIdentity + "missing nonce claim");
  const std::string seven = five.substr(0, five.size() - 1) + "," + json_str(kNonce) + ",[" +
                            json_str(thumbprint_of(peer)) + "]]";
  EXPECT_EQ(error_of(token(seven)), "(verified)");
  EXPECT_EQ(error_of(token("[1]")).substr(0, kIdentity.size() + 21),
            kIdentity + "malformed JWT claims:");
}

TEST_F(OidcVerify, IatFarFromAnExtremeNow) {
  now = kMin + 5;
  EXPECT_EQ(error_of(token(claims().set("iat", std::to_string(kMax)).set("exp", "0").text())),
            kIdentity + "iat outside tolerance");
  now = kMax - 1;
  EXPECT_EQ(error_of(token(
                claims().set("iat", std::to_string(kMin)).set("exp", std::to_string(kMax)).text())),
            kIdentity + "iat outside tolerance");
  EXPECT_EQ(error_of(token(
                claims().set("iat", std::to_string(kMax)).set("exp", std::to_string(kMax)).text())),
            "(verified)");
}

TEST_F(OidcVerify, CnfNamesAP256Subject) {
  const SigningKey p256_peer = test::p256_key(3);
  const std::string jkt = "{\"jkt\":" + json_str(thumbprint_of(p256_peer)) + "}";
  EXPECT_EQ(error_of(descriptor(token(claims().set("cnf", jkt).text())), &p256_peer.aid()),
            "(verified)");
  EXPECT_EQ(error_of(descriptor(token()), &p256_peer.aid()), kIdentity + "cnf.jkt mismatch");
}

TEST_F(OidcVerify, SubjectAidWithoutAKey) {
  std::array<std::uint8_t, 32> not_point{};
  for (std::uint8_t b = 2; b < 255; ++b) {
    not_point[0] = b;
    if (!ed25519_key_from_bytes(not_point)) break;
  }
  const Aid off_curve = *parse_aid(aid_from_ed25519_key(not_point));
  EXPECT_EQ(error_of(descriptor(token()), &off_curve),
            kIdentity +
                "subject AID parse failed: AID does not yield a valid Ed25519 public key: "
                "signature error");
}

}  // namespace
}  // namespace zelk
