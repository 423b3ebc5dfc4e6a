#include "crypto/jwk.hpp"

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/param_build.h>

#include <string>
#include <vector>

#include "crypto/keys.hpp"
#include "crypto/sha256.hpp"
#include "rsa_test_util.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

constexpr std::string_view kInput = "eyJhbGciOiJFZERTQSJ9.eyJzdWIiOiJ4In0";

std::string error_of(const Jwk& key, std::string_view alg, std::string_view input,
                     ByteView signature) {
  auto r = verify_jws_with_jwk(key, alg, as_bytes(input), signature);
  return r ? "(verified)" : r.error().message();
}

SigningKey ed_key() {
  return SigningKey::ed25519_from_seed(test::hex32(test::kRfc8032Secret1));
}
SigningKey p256_key() {
  return std::move(*SigningKey::p256_from_scalar(test::hex32(test::kRfc6979Scalar)));
}

Jwk ed_jwk(const SigningKey& key) {
  return Jwk::ed25519("ed", std::span<const std::uint8_t, 32>(key.public_key().data(), 32));
}
Jwk ec_jwk(const SigningKey& key) {
  const ByteView point = key.verifying_key().p256_uncompressed();
  return Jwk::p256("ec", std::span<const std::uint8_t, 32>(point.data() + 1, 32),
                   std::span<const std::uint8_t, 32>(point.data() + 33, 32));
}
Jwk rsa_jwk(const test::RsaTestKey& key) {
  return Jwk::rsa("rsa", key.n, key.e);
}

Bytes sig_of(const SigningKey& key, std::string_view input) {
  const Signature64 s = sign_bytes(key, as_bytes(input));
  return Bytes(s.begin(), s.end());
}

TEST(Jwk, AlgorithmFollowsTheKindOfKey) {
  EXPECT_EQ(ed_jwk(ed_key()).alg(), JwkAlg::EdDSA);
  EXPECT_EQ(ec_jwk(p256_key()).alg(), JwkAlg::ES256);
  EXPECT_EQ(Jwk::rsa(std::nullopt, {}, {}).alg(), JwkAlg::RS256);
  EXPECT_EQ(jwk_alg_name(JwkAlg::EdDSA), "EdDSA");
  EXPECT_EQ(jwk_alg_name(JwkAlg::ES256), "ES256");
  EXPECT_EQ(jwk_alg_name(JwkAlg::RS256), "RS256");
}

TEST(Jwk, EachKeyVerifiesItsOwnAlgorithmOnly) {
  const SigningKey ed = ed_key();
  const SigningKey ec = p256_key();
  const test::RsaTestKey& rsa = test::rsa_key_2048();
  struct Case {
    Jwk key;
    Bytes signature;
    std::string_view own;
  };
  const std::vector<Case> cases = {{ed_jwk(ed), sig_of(ed, kInput), "EdDSA"},
                                   {ec_jwk(ec), sig_of(ec, kInput), "ES256"},
                                   {rsa_jwk(rsa), test::rsa_sign(rsa, kInput), "RS256"}};
  for (const Case& c : cases) {
    EXPECT_EQ(error_of(c.key, c.own, kInput, c.signature), "(verified)") << c.own;
    EXPECT_EQ(error_of(c.key, c.own, "eyJ4IjoxfQ.eyJ5IjoyfQ", c.signature),
              "signature verification failed")
        << c.own;
    for (std::string_view alg :
         {"EdDSA", "ES256", "RS256", "none", "HS256", "eddsa", "es256", "rs256", "", "RS256 "}) {
      if (alg == c.own) continue;
      EXPECT_EQ(
          error_of(c.key, alg, kInput, c.signature),
          "JWS header alg " + std::string(alg) + " does not match key alg " + std::string(c.own));
    }
  }
}

TEST(Jwk, CurveKeysThatAreNoPointsAreInvalidKeyMaterial) {
  const std::array<std::uint8_t, 32> zero{};
  // Some y values give no point; find one rather than rely on a constant.
  std::array<std::uint8_t, 32> not_ed25519{};
  for (std::uint8_t b = 2; b < 255; ++b) {
    not_ed25519[0] = b;
    if (!ed25519_key_from_bytes(not_ed25519)) break;
  }
  ASSERT_FALSE(ed25519_key_from_bytes(not_ed25519));
  const Bytes sig(64, 1);
  const std::string text = "key material invalid: public key parsing failed: signature error";
  EXPECT_EQ(error_of(Jwk::ed25519(std::nullopt, not_ed25519), "EdDSA", kInput, sig), text);
  EXPECT_EQ(error_of(Jwk::p256(std::nullopt, zero, zero), "ES256", kInput, sig), text);
}

TEST(Jwk, Es256TakesOnlyTheRawSignature) {
  const SigningKey ec = p256_key();
  const Bytes raw = sig_of(ec, kInput);
  // The same r and s as DER: SEQUENCE { INTEGER r, INTEGER s }.
  auto der_int = [](const std::uint8_t* v) {
    Bytes out = {0x02};
    Bytes body(v, v + 32);
    while (body.size() > 1 && body[0] == 0 && !(body[1] & 0x80)) body.erase(body.begin());
    if (body[0] & 0x80) body.insert(body.begin(), 0);
    out.push_back(static_cast<std::uint8_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  Bytes r = der_int(raw.data()), s = der_int(raw.data() + 32);
  Bytes der = {0x30, static_cast<std::uint8_t>(r.size() + s.size())};
  der.insert(der.end(), r.begin(), r.end());
  der.insert(der.end(), s.begin(), s.end());
  EXPECT_EQ(error_of(ec_jwk(ec), "ES256", kInput, raw), "(verified)");
  EXPECT_EQ(error_of(ec_jwk(ec), "ES256", kInput, der), "signature verification failed");
}

TEST(Jwk, Rs256VerifiesLargeModuli) {
  const test::RsaTestKey& rsa = test::rsa_key_4096();
  ASSERT_EQ(rsa.n.size(), 512u);
  const Bytes sig = test::rsa_sign(rsa, kInput);
  EXPECT_EQ(error_of(rsa_jwk(rsa), "RS256", kInput, sig), "(verified)");
}

// RSA keys OpenSSL would take but we refuse, and signatures of the wrong length: every refusal
// reads as a failed signature, never as invalid key material.
TEST(Jwk, Rs256RefusalsAreSignatureFailures) {
  const test::RsaTestKey& good = test::rsa_key_2048();
  const Bytes sig = test::rsa_sign(good, kInput);
  const test::RsaTestKey& small = test::rsa_key_1024();
  const Bytes small_sig = test::rsa_sign(small, kInput);

  Bytes padded_n = good.n;
  padded_n.insert(padded_n.begin(), 0);
  Bytes padded_sig = sig;
  padded_sig.insert(padded_sig.begin(), 0);
  Bytes short_sig(sig.begin() + 1, sig.end());
  Bytes even_n = good.n;
  even_n.back() &= 0xfe;
  Bytes n_2041_bits = good.n;
  n_2041_bits[0] = 0x01;  // 256 bytes, yet under 2048 bits

  struct Case {
    const char* what;
    Jwk key;
    Bytes signature;
  };
  const std::vector<Case> cases = {
      {"1024-bit modulus", Jwk::rsa(std::nullopt, small.n, small.e), small_sig},
      {"modulus under 2048 bits", Jwk::rsa(std::nullopt, n_2041_bits, good.e), sig},
      {"leading zero in n", Jwk::rsa(std::nullopt, padded_n, good.e), padded_sig},
      {"signature one byte short", rsa_jwk(good), short_sig},
      {"signature one byte long", rsa_jwk(good), padded_sig},
      {"even exponent", Jwk::rsa(std::nullopt, good.n, {0x01, 0x00, 0x00}), sig},
      {"exponent 1", Jwk::rsa(std::nullopt, good.n, {0x01}), sig},
      {"exponent 0", Jwk::rsa(std::nullopt, good.n, {0x00}), sig},
      {"empty exponent", Jwk::rsa(std::nullopt, good.n, {}), sig},
      {"empty modulus", Jwk::rsa(std::nullopt, {}, good.e), sig},
      {"modulus over 8192 bits", Jwk::rsa(std::nullopt, Bytes(1025, 0xff), good.e), Bytes(1025, 1)},
      {"exponent equal to the modulus", Jwk::rsa(std::nullopt, good.n, good.n), sig},
      {"exponent longer than the modulus", Jwk::rsa(std::nullopt, good.n, Bytes(257, 0xff)), sig},
      {"signature not below the modulus", rsa_jwk(good), Bytes(256, 0xff)},
      {"even modulus", Jwk::rsa(std::nullopt, even_n, good.e), sig},
      {"modulus 2^2047",
       Jwk::rsa(
           std::nullopt,
           [] {
             Bytes n(256, 0);
             n[0] = 0x80;
             return n;
           }(),
           good.e),
       Bytes(256, 1)},
  };
  ERR_clear_error();
  for (const Case& c : cases) {
    EXPECT_EQ(error_of(c.key, "RS256", kInput, c.signature), "signature verification failed")
        << c.what;
    // Refusals leave nothing behind in the thread's OpenSSL error queue.
    EXPECT_EQ(ERR_peek_error(), 0u) << c.what;
  }
  // Leading zero bytes in e do not change its value.
  EXPECT_EQ(
      error_of(Jwk::rsa(std::nullopt, good.n, {0x00, 0x01, 0x00, 0x01}), "RS256", kInput, sig),
      "(verified)");
}

// With e = 1 the encoded message is its own signature; OpenSSL alone accepts it.
TEST(Jwk, ExponentOneIsRefusedAlthoughOpenSslAcceptsIt) {
  const test::RsaTestKey& good = test::rsa_key_2048();
  const Sha256Digest h = sha256(kInput);
  const Bytes digest_info = test::hex("3031300d060960864801650304020105000420");
  Bytes em(good.n.size(), 0xff);
  em[0] = 0x00;
  em[1] = 0x01;
  const std::size_t t = digest_info.size() + h.size();
  em[em.size() - t - 1] = 0x00;
  std::copy(digest_info.begin(), digest_info.end(), em.end() - static_cast<std::ptrdiff_t>(t));
  std::copy(h.begin(), h.end(), em.end() - 32);

  ossl::UniquePtr<BIGNUM> n(BN_bin2bn(good.n.data(), static_cast<int>(good.n.size()), nullptr));
  ossl::UniquePtr<BIGNUM> e(BN_new());
  BN_set_word(e.get(), 1);
  ossl::UniquePtr<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
  OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n.get());
  OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get());
  ossl::UniquePtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld.get()));
  ossl::UniquePtr<EVP_PKEY_CTX> kctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* raw = nullptr;
  EVP_PKEY_fromdata_init(kctx.get());
  ASSERT_EQ(EVP_PKEY_fromdata(kctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()), 1);
  ossl::UniquePtr<EVP_PKEY> pkey(raw);
  ossl::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  EVP_DigestVerifyInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, pkey.get(), nullptr);
  EXPECT_EQ(
      EVP_DigestVerify(ctx.get(), em.data(), em.size(), as_bytes(kInput).data(), kInput.size()), 1);

  EXPECT_EQ(error_of(Jwk::rsa(std::nullopt, good.n, {0x01}), "RS256", kInput, em),
            "signature verification failed");
}

TEST(Jwk, CopiesShareTheKeyAndCompareByContents) {
  const test::RsaTestKey& rsa = test::rsa_key_2048();
  const Jwk a = rsa_jwk(rsa);
  const Jwk b = a;
  EXPECT_EQ(a, b);
  EXPECT_EQ(error_of(b, "RS256", kInput, test::rsa_sign(rsa, kInput)), "(verified)");
  EXPECT_NE(a, Jwk::rsa(std::nullopt, rsa.n, rsa.e));
}

}  // namespace
}  // namespace zelk
