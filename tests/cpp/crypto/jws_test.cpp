#include "crypto/jws.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "formats/base64url.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

// A record with a lenient nested record and a free map, to reach every way a reader can pass
// over content.
struct Inner {
  std::string a;
  friend bool operator==(const Inner&, const Inner&) = default;
};
struct Outer {
  std::string v;
  Inner in;
  std::optional<json::Object> ext;
  friend bool operator==(const Outer&, const Outer&) = default;
};

}  // namespace
}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::Inner> {
  static constexpr std::string_view name = "Inner";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{member::required("a", &zelk::Inner::a)};
};

template <>
struct zelk::json::RecordTraits<zelk::Outer> {
  static constexpr std::string_view name = "Outer";
  static constexpr std::tuple members{
      member::required("v", &zelk::Outer::v),
      member::required("in", &zelk::Outer::in),
      member::optional("ext", &zelk::Outer::ext),
  };
};

namespace zelk {
namespace {

constexpr std::string_view kTct = "zelk-tct+jwt";

// Signs arbitrary header and payload texts, as a foreign encoder might.
std::string forge(const SigningKey& key, std::string_view header, std::string_view payload) {
  std::string token = b64url_encode(as_bytes(header)) + "." + b64url_encode(as_bytes(payload));
  const Signature64 sig = sign_bytes(key, as_bytes(token));
  return token + "." + b64url_encode(sig);
}

class Jws : public ::testing::Test {
 protected:
  SigningKey ed = SigningKey::ed25519_from_seed(test::hex32(test::kRfc8032Secret1));
  SigningKey p256 = std::move(*SigningKey::p256_from_scalar(test::hex32(test::kRfc6979Scalar)));
  SigningKey other = SigningKey::ed25519_from_seed(test::hex32(std::string(64, '7')));
  std::string payload = R"({"sub":"x","n":1})";

  std::string error_of(std::string_view token, const SigningKey& signer,
                       std::string_view typ = kTct) {
    auto r = verify_compact_jws(token, signer.aid(), typ);
    return r ? "(verified)" : r.error().message();
  }
};

TEST_F(Jws, SignsWithLiteralHeaderAndVerifies) {
  EXPECT_EQ(jws_header_text(KeySuite::Ed25519, kTct), R"({"alg":"EdDSA","typ":"zelk-tct+jwt"})");
  EXPECT_EQ(jws_header_text(KeySuite::Ed25519, kTct).size(), 36u);
  EXPECT_EQ(jws_header_text(KeySuite::P256, "zelk-grant+jwt"),
            R"({"alg":"ES256","typ":"zelk-grant+jwt"})");
  for (const SigningKey* key : {&ed, &p256}) {
    const std::string token = sign_compact_jws(*key, kTct, as_bytes(payload));
    auto segments = split_compact_jws(token);
    ASSERT_TRUE(segments.has_value());
    EXPECT_EQ(segments->signature.size(), 86u);
    EXPECT_EQ(as_text(*b64url_decode(segments->header)), jws_header_text(key->suite(), kTct));
    auto verified = verify_compact_jws(token, key->aid(), kTct);
    ASSERT_TRUE(verified.has_value()) << verified.error().message();
    EXPECT_EQ(as_text(*verified), payload);
    EXPECT_EQ(sign_compact_jws(*key, kTct, as_bytes(payload)), token);  // deterministic
  }
}

TEST_F(Jws, EncodesCanonicalClaims) {
  json::Object claims;
  claims.insert_or_assign("b", json::Value(2));
  claims.insert_or_assign("a", json::Value("x"));
  auto token = encode_compact_jws(ed, kTct, json::Value(claims));
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(as_text(*decode_jws_payload_unverified(*token)), R"({"a":"x","b":2})");
  auto bad = encode_compact_jws(ed, kTct, json::Value(std::nan("")));
  EXPECT_EQ(bad.error().message(),
            "compact JWS malformed: claims canonicalization: serialization failed: invalid float "
            "value");
}

TEST_F(Jws, Shape) {
  const std::string token = sign_compact_jws(ed, kTct, as_bytes(payload));
  const std::string shape = "compact JWS malformed: expected exactly three non-empty segments";
  const std::size_t dot = token.find('.');
  for (const std::string& bad :
       {token + ".x", token.substr(dot), std::string("abc"), std::string(""), token + ".",
        token.substr(0, dot + 1) + token.substr(token.rfind('.')),
        token.substr(0, token.rfind('.') + 1), std::string("..")}) {
    EXPECT_EQ(split_compact_jws(bad).error().message(), shape) << bad;
    EXPECT_EQ(error_of(bad, ed), shape) << bad;
    EXPECT_EQ(decode_jws_payload_unverified(bad).error().message(), shape) << bad;
  }
}

TEST_F(Jws, SegmentEncodingsInOrder) {
  const std::string token = sign_compact_jws(ed, kTct, as_bytes(payload));
  auto s = *split_compact_jws(token);
  const std::string h(s.header), p(s.payload), sig(s.signature);
  EXPECT_EQ(error_of(h + "." + p + "=." + sig, ed),
            "compact JWS malformed: payload segment: base64url padding is forbidden in ZELK");
  EXPECT_EQ(error_of(h + "+." + p + "=." + sig, ed),
            "compact JWS malformed: header segment: invalid base64url character");
  EXPECT_EQ(error_of(h + "." + p + "." + sig + "=", ed),
            "compact JWS malformed: signature segment: base64url padding is forbidden in ZELK");
  // All three encodings are checked before the header is read as JSON.
  EXPECT_EQ(error_of(b64url_encode(as_bytes("not json")) + "." + p + "." + sig + "=", ed),
            "compact JWS malformed: signature segment: base64url padding is forbidden in ZELK");
  // Non-zero bits past the last byte are refused before any signature work.
  std::string b64 = b64url_encode(as_bytes("{}"));  // 3 characters: 2 spare bits
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  b64.back() = alphabet[alphabet.find(b64.back()) | 1];
  EXPECT_EQ(error_of(h + "." + b64 + "." + sig, ed),
            "compact JWS malformed: payload segment: invalid base64url character");
  EXPECT_EQ(decode_jws_payload_unverified(h + "." + b64 + "." + sig).error().message(),
            "compact JWS malformed: payload segment: invalid base64url character");
  // Only the payload is looked at when reading unverified.
  EXPECT_EQ(as_text(*decode_jws_payload_unverified("%." + p + ".%")), payload);
}

TEST_F(Jws, StrictHeader) {
  const std::string kid = R"({"alg":"EdDSA","typ":"zelk-tct+jwt","kid":"k"})";
  EXPECT_EQ(error_of(forge(ed, kid, payload), ed),
            "compact JWS malformed: protected header: unknown field `kid`, expected `alg` or "
            "`typ` at line 1 column 41");
  EXPECT_EQ(error_of(forge(ed, R"(["EdDSA","zelk-tct+jwt"])", payload), ed), "(verified)");
  EXPECT_EQ(error_of(forge(ed, R"(["EdDSA"])", payload), ed),
            "compact JWS malformed: protected header: invalid length 1, expected struct "
            "JwsHeader with 2 elements at line 1 column 9");
  EXPECT_EQ(error_of(forge(ed, R"({"alg":"EdDSA","typ":"zelk-tct+jwt"} x)", payload), ed),
            "compact JWS malformed: protected header: trailing characters at line 1 column 38");
  EXPECT_EQ(error_of(forge(ed, R"({"alg":"EdDSA"})", payload), ed),
            "compact JWS malformed: protected header: missing field `typ` at line 1 column 15");
  EXPECT_EQ(error_of(forge(ed, "", payload), ed),
            "compact JWS malformed: expected exactly three non-empty segments");
  // Whitespace around the header value is allowed, and the text as received is what is signed.
  EXPECT_EQ(error_of(forge(ed, R"( {"typ":"zelk-tct+jwt","alg":"EdDSA"} )", payload), ed),
            "(verified)");
}

TEST_F(Jws, TypAndAlgComeBeforeTheKey) {
  const std::string grant = sign_compact_jws(ed, "zelk-grant+jwt", as_bytes(payload));
  EXPECT_EQ(error_of(grant, ed),
            "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt");
  // Even a token signed by somebody else, or for another key kind, reports the type first.
  EXPECT_EQ(error_of(grant, other),
            "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt");
  EXPECT_EQ(error_of(grant, p256),
            "JWS typ header mismatch: expected zelk-tct+jwt, got zelk-grant+jwt");
  const std::string by_ed = sign_compact_jws(ed, kTct, as_bytes(payload));
  EXPECT_EQ(error_of(by_ed, p256),
            "JWS alg header does not match the signer AID's algorithm: expected ES256 for this "
            "AID, got EdDSA");
  const std::string by_p = sign_compact_jws(p256, kTct, as_bytes(payload));
  EXPECT_EQ(error_of(by_p, ed),
            "JWS alg header does not match the signer AID's algorithm: expected EdDSA for this "
            "AID, got ES256");
  EXPECT_EQ(error_of(by_ed, other), "signature verification failed");

  // The signer's key is decoded after the header checks.
  Bytes off_curve(32, 0);
  off_curve[0] = 2;
  auto bad_ed = *parse_aid(aid_from_ed25519_key(off_curve));
  EXPECT_EQ(verify_compact_jws(by_ed, bad_ed, kTct).error().message(),
            "AID does not yield a valid Ed25519 public key: signature error");
  Bytes no_root(33, 0);
  no_root[0] = 2;
  no_root[32] = 1;
  auto bad_p = *parse_aid(aid_from_p256_key(no_root));
  EXPECT_EQ(verify_compact_jws(by_p, bad_p, kTct).error().message(),
            "public key parsing failed: signature error");
  // A wrong alg is reported before the undecodable key.
  EXPECT_EQ(verify_compact_jws(by_ed, bad_p, kTct).error().message(),
            "JWS alg header does not match the signer AID's algorithm: expected ES256 for this "
            "AID, got EdDSA");
}

TEST_F(Jws, TamperingEachSegment) {
  for (const SigningKey* key : {&ed, &p256}) {
    const std::string token = sign_compact_jws(*key, kTct, as_bytes(payload));
    auto s = *split_compact_jws(token);
    const std::string h(s.header), p(s.payload), sig(s.signature);
    // Same header meaning, different bytes: the signature covers the text as received.
    const std::string h2 = b64url_encode(as_bytes(
        R"({"alg": ")" + std::string(jws_alg(key->suite())) + R"(","typ":"zelk-tct+jwt"})"));
    const std::string p2 = b64url_encode(as_bytes(R"({"sub":"y","n":1})"));
    Bytes raw = *b64url_decode(sig);
    raw[10] ^= 0x01;
    const std::string sig2 = b64url_encode(raw);
    const std::string sig63 = b64url_encode(ByteView(raw).first(63));
    for (const std::string& bad : {h2 + "." + p + "." + sig, h + "." + p2 + "." + sig,
                                   h + "." + p + "." + sig2, h + "." + p + "." + sig63})
      EXPECT_EQ(error_of(bad, *key), "signature verification failed") << bad;
  }
}

TEST_F(Jws, PayloadMustBeAnObjectAfterTheSignature) {
  EXPECT_EQ(error_of(forge(ed, jws_header_text(KeySuite::Ed25519, kTct), "[1,2]"), ed),
            "compact JWS malformed: payload is not a JSON object");
  EXPECT_EQ(error_of(forge(ed, jws_header_text(KeySuite::Ed25519, kTct), "{\"a\":"), ed),
            "compact JWS malformed: payload is not a JSON object");
  EXPECT_EQ(error_of(forge(ed, jws_header_text(KeySuite::Ed25519, kTct), "{} {}"), ed),
            "compact JWS malformed: payload is not a JSON object");
  EXPECT_EQ(error_of(forge(ed, jws_header_text(KeySuite::Ed25519, kTct), " {} "), ed),
            "(verified)");
  // An array payload under a wrong signature reports the signature.
  EXPECT_EQ(error_of(forge(other, jws_header_text(KeySuite::Ed25519, kTct), "[1]"), ed),
            "signature verification failed");
}

TEST_F(Jws, ParsedOnceWithEachProblemKeptForItsStep) {
  const std::string token = sign_compact_jws(ed, kTct, as_bytes(payload));
  auto parsed = CompactJws::parse(token);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->text(), token);
  EXPECT_EQ(parsed->signing_input(), token.substr(0, token.rfind('.')));
  EXPECT_EQ(parsed->payload_text(), payload);
  EXPECT_EQ(parsed->typ_hint(), kTct);
  EXPECT_TRUE(verify_compact_jws(*parsed, ed.aid(), kTct).has_value());

  // A header that does not decode leaves the payload readable and is reported by the check.
  auto s = *split_compact_jws(token);
  auto bad_header = CompactJws::parse("%" + std::string(s.header) + "." + std::string(s.payload) +
                                      "." + std::string(s.signature));
  ASSERT_TRUE(bad_header.has_value());
  EXPECT_EQ(bad_header->typ_hint(), std::nullopt);
  EXPECT_EQ(bad_header->payload_text(), payload);
  EXPECT_EQ(verify_compact_jws(*bad_header, ed.aid(), kTct).error().message(),
            "compact JWS malformed: header segment: invalid base64url character");
  EXPECT_EQ(CompactJws::parse("a.b").error().message(),
            "compact JWS malformed: expected exactly three non-empty segments");
}

TEST_F(Jws, PayloadPrecheck) {
  constexpr std::string_view declared[] = {"a", "b"};
  struct Case {
    std::string payload;
    std::optional<PayloadProblem::Kind> kind;
    std::string text;
  };
  using K = PayloadProblem::Kind;
  const Case cases[] = {
      {R"({"a":1,"b":{"x":1,"y":[{"x":2}]}})", std::nullopt, ""},
      {R"({"a":1,"a":2})", K::Repeated, "duplicate field `a` at line 1 column 10"},
      {R"({"b":{"x":1,"x":2},"c":1})", K::Repeated, "duplicate field `x` at line 1 column 15"},
      {R"({"c":1,"d":2,"a":1})", K::Undeclared, "c"},
      {R"({"a":1,"b":2,"d":1})", K::Undeclared, "d"},
      {R"({"a":1 "b":2})", K::Repeated, "expected `,` or `}` at line 1 column 8"},
      {R"({"a":1} x)", std::nullopt, ""},  // left to the strict read
      {R"([1,2])", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    auto parsed = CompactJws::parse(forge(ed, jws_header_text(KeySuite::Ed25519, kTct), c.payload));
    ASSERT_TRUE(parsed.has_value());
    std::optional<PayloadProblem> problem = find_payload_problem(*parsed, declared);
    ASSERT_EQ(problem.has_value(), c.kind.has_value()) << c.payload;
    if (problem) {
      EXPECT_EQ(problem->kind, *c.kind) << c.payload;
      EXPECT_EQ(problem->text, c.text) << c.payload;
    }
  }
}

// A parsed token skips building the payload's value only when that value could show nothing
// more: claims, pre-check and object test come out as from the fully parsed token.
TEST_F(Jws, ParsedTokenAgreesWithTheFullyParsedForm) {
  const char* payloads[] = {
      R"({"v":"x","in":{"a":"y"}})",
      R"( {"v":"x","in":{"a":"y"},"ext":{"k":[1,{"j":2}]}} )",
      R"({"v":"x","in":{"a":"y","z":{"q":1,"q":2}}})",
      R"({"v":"x","in":{"a":"y","z":"\ud800"}})",
      R"({"v":"x","in":{"a":"y"},"ext":{"k":1,"k":2}})",
      R"({"v":"x","v":"y","in":{"a":"y"}})",
      R"({"v":"x","in":{"a":"y"},"w":1})",
      R"(["x",{"a":"y"},null])",
      R"(["x",{"a":"y"},null,1])",
      R"({"v":"x","in":{"a":"y"}} x)",
      R"({"in":{"a":"y"}})",
      R"({"v":"x","in":{"a":"y"})",
  };
  for (const char* payload : payloads) {
    const std::string token = forge(ed, jws_header_text(KeySuite::Ed25519, kTct), payload);
    auto parsed = ParsedToken<Outer>::parse(token);
    auto full = CompactJws::parse(token);
    ASSERT_TRUE(parsed.has_value() && full.has_value()) << payload;
    auto expected = json::read_record<Outer>(payload);
    ASSERT_EQ(parsed->claims().has_value(), expected.has_value()) << payload;
    if (expected) {
      EXPECT_EQ(*parsed->claims(), *expected) << payload;
    } else {
      EXPECT_EQ(parsed->claims().error(), expected.error()) << payload;
    }
    const auto declared = json::RecordInfo<Outer>::names;
    auto problem = parsed->precheck_payload();
    auto full_problem = find_payload_problem(*full, declared);
    ASSERT_EQ(problem.has_value(), full_problem.has_value()) << payload;
    if (problem) {
      EXPECT_EQ(problem->kind, full_problem->kind) << payload;
      EXPECT_EQ(problem->text, full_problem->text) << payload;
    }
    EXPECT_EQ(parsed->jws().payload_is_object(), full->payload_is_object()) << payload;
    EXPECT_EQ(verify_compact_jws(parsed->jws(), ed.aid(), kTct).has_value(),
              verify_compact_jws(*full, ed.aid(), kTct).has_value())
        << payload;
  }
}

TEST(PeekJwsTyp, NeverFails) {
  auto seg = [](std::string_view text) { return b64url_encode(as_bytes(text)); };
  EXPECT_EQ(peek_jws_typ(seg(R"({"alg":"EdDSA","typ":"zelk-tct+jwt"})") + ".x.y"), "zelk-tct+jwt");
  // One segment is enough, and other members are not looked at.
  EXPECT_EQ(peek_jws_typ(seg(R"({"typ":"t","kid":1})")), "t");
  for (const std::string& none :
       {std::string("%%%.a.b"), seg("not json") + ".a.b", seg(R"(["typ"])") + ".a",
        seg(R"({"typ":5})"), seg(R"({"alg":"EdDSA"})"), std::string(""), std::string(".")})
    EXPECT_EQ(peek_jws_typ(none), std::nullopt) << none;
}

}  // namespace
}  // namespace zelk
