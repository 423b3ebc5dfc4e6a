#include "crypto/signature_text.hpp"

#include <gtest/gtest.h>

#include "crypto/sha256.hpp"
#include "formats/base64url.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

class SignatureText : public ::testing::Test {
 protected:
  SigningKey ed = SigningKey::ed25519_from_seed(test::hex32(test::kRfc8032Secret1));
  SigningKey p256 = std::move(*SigningKey::p256_from_scalar(test::hex32(test::kRfc6979Scalar)));
  Sha256Digest digest = sha256(std::string_view("signing input"));
};

TEST_F(SignatureText, ShapeAndDeterminism) {
  const std::string e = sign_digest_text(ed, digest);
  const std::string p = sign_digest_text(p256, digest);
  EXPECT_EQ(e.size(), 86u);
  EXPECT_EQ(p.size(), 91u);
  EXPECT_TRUE(p.starts_with("p256."));
  EXPECT_TRUE(is_b64url_alphabet(e));
  EXPECT_EQ(sign_digest_text(ed, digest), e);
  EXPECT_EQ(sign_digest_text(p256, digest), p);
  // The Ed25519 detached form signs the digest bytes as the message.
  const Signature64 raw = sign_bytes(ed, digest);
  EXPECT_EQ(e, b64url_encode(raw));
  // P-256 signs the digest as a message too, so ECDSA hashes it once more.
  const Signature64 raw_p = sign_bytes(p256, digest);
  EXPECT_EQ(p, "p256." + b64url_encode(raw_p));
  EXPECT_TRUE(verify_signature_bytes(p256.verifying_key(), digest, raw_p));
}

TEST_F(SignatureText, PrefixDecidesPerKeyKind) {
  const std::string e = sign_digest_text(ed, digest);
  const std::string p = sign_digest_text(p256, digest);
  const auto& edk = ed.verifying_key();
  const auto& pk = p256.verifying_key();
  EXPECT_TRUE(verify_digest_text(edk, digest, e));
  EXPECT_TRUE(verify_digest_text(edk, digest, "ed25519." + e));
  EXPECT_TRUE(verify_digest_text(pk, digest, p));
  // The syntax check accepts the unprefixed P-256 body; only the key kind refuses it below.
  EXPECT_TRUE(check_signature_text(p.substr(5)));
  struct {
    const VerifyingKey* key;
    std::string text;
  } refused[] = {
      {&edk, "p256." + e},  // valid Ed25519 body behind the P-256 prefix
      {&pk, p.substr(5)},   // P-256 body without its prefix
      {&pk, "ed25519." + p.substr(5)},
      {&pk, "p256"},  // shorter than a prefix
      {&edk, "ed25519.ed25519." + e},
      {&edk, e.substr(0, 85) + "="},  // padding
      {&edk, e + "AA"},               // 65 bytes
      {&edk, ""},
  };
  for (const auto& r : refused)
    EXPECT_EQ(verify_digest_text(*r.key, digest, r.text).error().message(),
              "signature verification failed")
        << r.text;
  Sha256Digest other = digest;
  other[0] ^= 1;
  EXPECT_FALSE(verify_digest_text(edk, other, e));
  EXPECT_FALSE(verify_digest_text(pk, other, p));
}

TEST_F(SignatureText, NonZeroTrailingBitsAreRefused) {
  std::string e = sign_digest_text(ed, digest);
  // The last of 86 characters carries 4 unused bits; setting one must break decoding.
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  const std::size_t v = alphabet.find(e.back());
  e.back() = alphabet[v | 1];
  ASSERT_NE(alphabet.find(e.back()), v);
  EXPECT_FALSE(verify_digest_text(ed.verifying_key(), digest, e));
}

TEST(CheckSignatureText, Syntax) {
  const std::string body(86, 'A');
  for (const std::string& ok : {body, "p256." + body, "ed25519." + body}) {
    auto r = check_signature_text(ok);
    ASSERT_TRUE(r.has_value()) << ok;
    EXPECT_EQ(*r, ok);
  }
  struct {
    std::string text;
    const char* message;
  } cases[] = {
      {"p256." + std::string(85, 'A'),
       "signature parsing failed: expected 86 payload characters, got 85"},
      {std::string(85, 'A') + "+", "signature parsing failed: non-base64url character"},
      {std::string(86, 'A') + "=", "signature parsing failed: padding is forbidden"},
      {"=", "signature parsing failed: padding is forbidden"},
      {"", "signature parsing failed: expected 86 payload characters, got 0"},
      {"p256.p256." + std::string(81, 'A'), "signature parsing failed: non-base64url character"},
      {"ed25519" + std::string(86, 'A'),
       "signature parsing failed: expected 86 payload characters, got 93"},
      {"ed25519.", "signature parsing failed: expected 86 payload characters, got 0"},
      {"P256." + std::string(86, 'A'),
       "signature parsing failed: expected 86 payload characters, got 91"},
  };
  for (const auto& c : cases) {
    auto r = check_signature_text(c.text);
    ASSERT_FALSE(r.has_value()) << c.text;
    EXPECT_EQ(r.error().message(), c.message) << c.text;
    EXPECT_EQ(r.error().kind, CryptoError::Kind::SignatureParse);
  }
  EXPECT_TRUE(check_signature_chars(body));
  EXPECT_EQ(check_signature_chars("p256." + std::string(81, 'A')).error().message(),
            "signature parsing failed: non-base64url character");
}

TEST(CryptoErrorText, EveryKind) {
  EXPECT_EQ(CryptoError::verification().message(), "signature verification failed");
  EXPECT_EQ(CryptoError::signature_parse("x").message(), "signature parsing failed: x");
  EXPECT_EQ(CryptoError::public_key("x").message(), "public key parsing failed: x");
  EXPECT_EQ(CryptoError::aid_key("x").message(),
            "AID does not yield a valid Ed25519 public key: x");
  EXPECT_EQ(CryptoError::alg_mismatch("x").message(),
            "JWS alg header does not match the signer AID's algorithm: x");
  EXPECT_EQ(CryptoError::typ_mismatch("a", "b").message(),
            "JWS typ header mismatch: expected a, got b");
  EXPECT_EQ(CryptoError::malformed("x").message(), "compact JWS malformed: x");
}

}  // namespace
}  // namespace zelk
