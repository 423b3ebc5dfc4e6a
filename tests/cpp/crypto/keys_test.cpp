#include "crypto/keys.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"
#include "formats/base64url.hpp"
#include "test_util.hpp"

namespace zelk {
namespace {

using test::hex;
using test::hex32;

struct Rfc8032Vector {
  const char* secret;
  const char* public_key;
  const char* message;
  const char* signature;
};

// RFC 8032 section 7.1, tests 1 to 3.
const Rfc8032Vector kRfc8032[] = {
    {"9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60",
     "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9b"
     "46bd25bf5f0595bbe24655141438e7a100b"},
    {"4ccd089b28ff96da9db6c346ec114e0f5b8a319f35aba624da8cf6ed4fb8a6fb",
     "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f11"
     "d8c387b2eaeb4302aeeb00d291612bb0c00"},
    {"c5aa8df43f9f837bedb7442f31dcb7b166d38535076f094b85ce3a2e0b4458f7",
     "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984dc"
     "6594a7c15e9716ed28dc027beceea1ec40a"},
};

TEST(Ed25519, Rfc8032VectorsSignAndVerify) {
  for (const auto& v : kRfc8032) {
    const SigningKey key = SigningKey::ed25519_from_seed(hex32(v.secret));
    EXPECT_EQ(key.suite(), KeySuite::Ed25519);
    EXPECT_EQ(public_key_bytes(key.verifying_key()), hex(v.public_key));
    EXPECT_EQ(key.aid_text(), aid_from_ed25519_key(hex(v.public_key)));
    const Bytes msg = hex(v.message);
    const Signature64 sig = sign_bytes(key, msg);
    EXPECT_EQ(Bytes(sig.begin(), sig.end()), hex(v.signature)) << v.secret;

    auto vk = ed25519_key_from_bytes(hex(v.public_key));
    ASSERT_TRUE(vk.has_value());
    EXPECT_TRUE(verify_signature_bytes(*vk, msg, sig).has_value());
    Bytes other = msg;
    other.push_back(0);
    EXPECT_EQ(verify_signature_bytes(*vk, other, sig).error().message(),
              "signature verification failed");
  }
}

TEST(Ed25519, StrictVerificationRefusesMalleableSignatures) {
  const auto& v = kRfc8032[0];
  auto vk = *ed25519_key_from_bytes(hex(v.public_key));
  const Bytes good = hex(v.signature);
  // S + L is the same scalar in non-canonical form.
  const Bytes order_l = hex("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
  Bytes high_s = good;
  unsigned carry = 0;
  for (std::size_t i = 0; i < 32; ++i) {
    const unsigned sum = high_s[32 + i] + order_l[i] + carry;
    high_s[32 + i] = static_cast<std::uint8_t>(sum);
    carry = sum >> 8;
  }
  EXPECT_FALSE(verify_signature_bytes(vk, {}, high_s).has_value());
  // A small-order R (the identity) with any S.
  Bytes small_r = good;
  std::fill(small_r.begin(), small_r.begin() + 32, 0);
  small_r[0] = 1;
  EXPECT_FALSE(verify_signature_bytes(vk, {}, small_r).has_value());
}

TEST(Ed25519, SmallOrderKeyDecodesButNeverVerifies) {
  Bytes identity(32, 0);
  identity[0] = 1;
  const Bytes order4(32, 0);  // y = 0
  const Bytes order8 = hex("26e8958fc2b227b045c3f489f2ef98f0d5dfac05d3c63339b13802886d53fc05");
  for (const Bytes& point : {identity, order4, order8}) {
    auto vk = ed25519_key_from_bytes(point);
    ASSERT_TRUE(vk.has_value());
    auto aid = parse_aid(aid_from_ed25519_key(point));
    ASSERT_TRUE(aid.has_value());
    ASSERT_TRUE(verifying_key_from_aid(*aid).has_value());
    // With A and R both the identity and S = 0 the cofactorless equation holds; strict
    // verification must still refuse it.
    Bytes sig(64, 0);
    std::copy(point.begin(), point.end(), sig.begin());
    EXPECT_EQ(verify_signature_bytes(*vk, as_bytes("m"), sig).error(), CryptoError::verification());
  }
}

TEST(Ed25519, OffCurveKeyIsRefusedAtDecoding) {
  Bytes off(32, 0);
  off[0] = 2;  // y = 2 has no matching x
  EXPECT_EQ(ed25519_key_from_bytes(off).error().message(),
            "public key parsing failed: signature error");
  EXPECT_EQ(ed25519_key_from_bytes(Bytes(31, 1)).error().message(),
            "public key parsing failed: signature error");
  const auto aid = *parse_aid(aid_from_ed25519_key(off));
  EXPECT_EQ(verifying_key_from_aid(aid).error().message(),
            "AID does not yield a valid Ed25519 public key: signature error");
  // An unfilled placeholder is refused, not decoded.
  EXPECT_EQ(verifying_key_from_aid(Aid{}).error().message(),
            "AID does not yield a valid Ed25519 public key: signature error");
  // A point on the curve outside the prime-order subgroup is still a key.
  Bytes mixed(32, 0);
  mixed[0] = 3;
  EXPECT_TRUE(ed25519_key_from_bytes(mixed).has_value());
}

TEST(P256, Rfc6979VectorsOverTheRawMessage) {
  auto key = SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  ASSERT_TRUE(key.has_value());
  EXPECT_EQ(key->verifying_key().p256_uncompressed().size(), 65u);
  const Bytes expected_point =
      hex("0460FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6"
          "7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299");
  const ByteView point = key->verifying_key().p256_uncompressed();
  EXPECT_EQ(Bytes(point.begin(), point.end()), expected_point);
  // y ends in 0x99, odd: tag 3.
  EXPECT_EQ(public_key_bytes(key->verifying_key())[0], 3);
  EXPECT_EQ(key->aid_text(), aid_from_p256_key(public_key_bytes(key->verifying_key())));

  struct {
    const char* message;
    const char* r_s;
  } vectors[] = {
      {"sample",
       "EFD48B2AACB6A8FD1140DD9CD45E81D69D2C877B56AAF991C34D0EA84EAF3716"
       "F7CB1C942D657C41D436C7A1B6E29F65F3E900DBB9AFF4064DC4AB2F843ACDA8"},
      {"test",
       "F1ABB023518351CD71D881567B1EA663ED3EFCF6C5132B354F28D3B0B7D38367"
       "019F4113742A2B14BD25926B49C649155F267E60D3814B4C0CC84250E46F0083"},
  };
  for (const auto& v : vectors) {
    const Signature64 sig = sign_bytes(*key, as_bytes(v.message));
    EXPECT_EQ(Bytes(sig.begin(), sig.end()), hex(v.r_s)) << v.message;
    // The "sample" signature has s above n/2 and is accepted as it stands.
    EXPECT_TRUE(verify_signature_bytes(key->verifying_key(), as_bytes(v.message), sig));
    EXPECT_FALSE(verify_signature_bytes(key->verifying_key(), as_bytes("other"), sig));
  }
}

TEST(P256, SignatureScalarsOutsideTheGroupOrderAreRefused) {
  auto key = *SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  const Signature64 sig = sign_bytes(key, as_bytes("sample"));
  const Bytes order = hex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
  Bytes zero_r(sig.begin(), sig.end());
  std::fill(zero_r.begin(), zero_r.begin() + 32, 0);
  Bytes r_is_n(sig.begin(), sig.end());
  std::copy(order.begin(), order.end(), r_is_n.begin());
  Bytes s_is_n(sig.begin(), sig.end());
  std::copy(order.begin(), order.end(), s_is_n.begin() + 32);
  for (const Bytes& bad : {zero_r, r_is_n, s_is_n})
    EXPECT_EQ(verify_signature_bytes(key.verifying_key(), as_bytes("sample"), bad).error(),
              CryptoError::verification());
}

TEST(P256, ScalarRangeIsEnforced) {
  const Bytes order = hex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551");
  std::array<std::uint8_t, 32> n{}, n_minus_1{}, n_plus_1{}, zero{}, one{}, max{};
  std::copy(order.begin(), order.end(), n.begin());
  n_minus_1 = n;
  n_minus_1[31] -= 1;
  n_plus_1 = n;
  n_plus_1[31] += 1;
  one[31] = 1;
  max.fill(0xFF);
  for (const auto& bad : {zero, n, n_plus_1, max})
    EXPECT_EQ(SigningKey::p256_from_scalar(bad).error().message(),
              "public key parsing failed: signature error");
  for (const auto& good : {one, n_minus_1}) {
    auto key = SigningKey::p256_from_scalar(good);
    ASSERT_TRUE(key.has_value());
    const Signature64 sig = sign_bytes(*key, as_bytes("m"));
    EXPECT_TRUE(verify_signature_bytes(key->verifying_key(), as_bytes("m"), sig));
  }
}

TEST(P256, KeyDecoding) {
  Bytes no_root(33, 0);
  no_root[0] = 2;
  no_root[32] = 1;  // x = 1 has no square root on the curve
  EXPECT_EQ(p256_key_from_sec1(no_root).error().message(),
            "public key parsing failed: signature error");
  const auto aid = parse_aid(aid_from_p256_key(no_root));
  ASSERT_TRUE(aid.has_value());
  EXPECT_EQ(verifying_key_from_aid(*aid).error().message(),
            "public key parsing failed: signature error");

  // x equal to the field prime is refused even though it reduces to a valid x.
  Bytes x_is_p = hex("02FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF");
  EXPECT_FALSE(p256_key_from_sec1(x_is_p).has_value());
  Bytes bad_tag(33, 0);
  bad_tag[0] = 4;
  bad_tag[32] = 5;
  EXPECT_FALSE(p256_key_from_sec1(bad_tag).has_value());
  EXPECT_FALSE(p256_key_from_sec1(Bytes(32, 2)).has_value());

  // Compressed and uncompressed encodings of one point give the same key.
  auto key = *SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  auto from_full = p256_key_from_sec1(key.verifying_key().p256_uncompressed());
  ASSERT_TRUE(from_full.has_value());
  EXPECT_EQ(*from_full, key.verifying_key());
  // A point off the curve in uncompressed form.
  Bytes off(key.verifying_key().p256_uncompressed().begin(),
            key.verifying_key().p256_uncompressed().end());
  off[64] ^= 1;
  EXPECT_FALSE(p256_key_from_sec1(off).has_value());
  // The hybrid forms (tag 6 or 7 with the parity of y) are no SEC1 encoding this system reads.
  Bytes hybrid(key.verifying_key().p256_uncompressed().begin(),
               key.verifying_key().p256_uncompressed().end());
  hybrid[0] = 6 | (hybrid[64] & 1);
  EXPECT_EQ(p256_key_from_sec1(hybrid).error().message(),
            "public key parsing failed: signature error");
}

TEST(Keys, SignatureLengthOtherThan64IsVerificationFailure) {
  auto ed = SigningKey::ed25519_from_seed(hex32(test::kRfc8032Secret1));
  auto p = *SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  for (const SigningKey* key : {&ed, &p}) {
    const Signature64 sig = sign_bytes(*key, as_bytes("m"));
    Bytes short_sig(sig.begin(), sig.end() - 1);
    Bytes long_sig(sig.begin(), sig.end());
    long_sig.push_back(0);
    EXPECT_EQ(
        verify_signature_bytes(key->verifying_key(), as_bytes("m"), short_sig).error().message(),
        "signature verification failed");
    EXPECT_EQ(verify_signature_bytes(key->verifying_key(), as_bytes("m"), long_sig).error(),
              CryptoError::verification());
  }
  // A signature from one suite never verifies under the other.
  const Signature64 ed_sig = sign_bytes(ed, as_bytes("m"));
  EXPECT_FALSE(verify_signature_bytes(p.verifying_key(), as_bytes("m"), ed_sig));
}

TEST(Keys, GeneratedKeysRoundTripThroughTheirAid) {
  for (KeySuite suite : {KeySuite::Ed25519, KeySuite::P256}) {
    auto key = generate_key(suite);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->suite(), suite);
    auto aid = parse_aid(key->aid_text());
    ASSERT_TRUE(aid.has_value()) << aid.error().message();
    EXPECT_EQ(*aid, key->aid());
    auto vk = verifying_key_from_aid(*aid);
    ASSERT_TRUE(vk.has_value());
    EXPECT_EQ(*vk, key->verifying_key());
    const Sha256Digest digest = sha256(std::string_view("payload"));
    EXPECT_TRUE(verify_digest_text(*vk, digest, sign_digest_text(*key, digest)));
    auto other = generate_key(suite);
    EXPECT_NE(other->aid_text(), key->aid_text());
  }
  EXPECT_TRUE(generate_p256_key()->aid_text().starts_with("aid:pubkey:p256:"));
}

TEST(Keys, SuiteNames) {
  EXPECT_EQ(key_suite_name(KeySuite::Ed25519), "ed25519");
  EXPECT_EQ(key_suite_name(KeySuite::P256), "p256");
  EXPECT_EQ(key_suite_from_name("p256"), KeySuite::P256);
  EXPECT_EQ(key_suite_from_name("ed25519"), KeySuite::Ed25519);
  for (const char* bad : {"P256", "p-256", "Ed25519", ""})
    EXPECT_EQ(key_suite_from_name(bad), std::nullopt) << bad;
}

TEST(Thumbprint, Rfc8037AndBothAidForms) {
  const SigningKey key = SigningKey::ed25519_from_seed(hex32(test::kRfc8032Secret1));
  EXPECT_EQ(*jwk_thumbprint(key.verifying_key()), "kPrK_qmxVWaYVA9wwBF6Iuo3vVzz7TxHCTwXBygrS4k");
  const auto short_aid =
      *parse_aid(std::string("aid:pubkey:") + std::string(test::kRfc8032Public1B64));
  const auto long_aid =
      *parse_aid(std::string("aid:pubkey:ed25519:") + std::string(test::kRfc8032Public1B64));
  EXPECT_EQ(*jwk_thumbprint(*verifying_key_from_aid(short_aid)),
            *jwk_thumbprint(*verifying_key_from_aid(long_aid)));
}

TEST(Thumbprint, P256HashesTheLiteralJwkText) {
  auto key = *SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  const std::string jwk =
      R"({"crv":"P-256","kty":"EC","x":")" +
      b64url_encode(hex("60FED4BA255A9D31C961EB74C6356D68C049B8923B61FA6CE669622E60F29FB6")) +
      R"(","y":")" +
      b64url_encode(hex("7903FE1008B8BC99A41AE9E95628BC64F2F1B20C2D7E9F5177A3C294D4462299")) +
      R"("})";
  const std::string expected = b64url_encode(sha256(jwk));
  EXPECT_EQ(*jwk_thumbprint(key.verifying_key()), expected);
  EXPECT_EQ(expected.size(), 43u);
}

// The remembered thumbprint of an AID is the key's own, asked once or again, and an AID that names
// no key fails as the key lookup does.
TEST(Thumbprint, OfAnAidMatchesItsKey) {
  const SigningKey ed = SigningKey::ed25519_from_seed(hex32(test::kRfc8032Secret1));
  const SigningKey p256 = *SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar));
  for (const SigningKey* key : {&ed, &p256}) {
    const std::string expected = *jwk_thumbprint(key->verifying_key());
    for (int round = 0; round < 2; ++round) EXPECT_EQ(aid_thumbprint(key->aid()), expected);
  }
  Bytes off_curve(32, 0);
  off_curve[0] = 2;
  const Aid bad = *parse_aid(aid_from_ed25519_key(off_curve));
  for (int round = 0; round < 2; ++round)
    EXPECT_EQ(aid_thumbprint(bad).error().message(), verifying_key_from_aid(bad).error().message());
  EXPECT_EQ(aid_thumbprint(Aid{}).error().message(),
            "AID does not yield a valid Ed25519 public key: signature error");
}

// Destroys a key inside a buffer we own and looks for the secret in what is left.
template <typename Make>
bool secret_survives_release(Make make, ByteView secret) {
  alignas(SigningKey) std::array<std::uint8_t, sizeof(SigningKey)> storage{};
  SigningKey* key = new (storage.data()) SigningKey(make());
  key->~SigningKey();
  return std::search(storage.begin(), storage.end(), secret.begin(), secret.end()) != storage.end();
}

TEST(Keys, ReleaseWipesTheSecret) {
  const auto ed_seed = hex32(test::kRfc8032Secret1);
  const auto p_scalar = hex32(test::kRfc6979Scalar);
  EXPECT_FALSE(
      secret_survives_release([&] { return SigningKey::ed25519_from_seed(ed_seed); }, ed_seed));
  EXPECT_FALSE(secret_survives_release(
      [&] { return std::move(*SigningKey::p256_from_scalar(p_scalar)); }, p_scalar));

  // A moved-from key holds no secret either, and the moved-to key still signs.
  auto original = SigningKey::ed25519_from_seed(ed_seed);
  const Signature64 before = sign_bytes(original, as_bytes("m"));
  SigningKey moved(std::move(original));
  EXPECT_EQ(sign_bytes(moved, as_bytes("m")), before);
}

TEST(Keys, SharedKeySignsFromManyHolders) {
  auto shared = std::make_shared<const SigningKey>(
      std::move(*SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar))));
  std::shared_ptr<const SigningKey> copy = shared;
  EXPECT_EQ(sign_bytes(*copy, as_bytes("sample")), sign_bytes(*shared, as_bytes("sample")));
}

TEST(Keys, SignAndVerifyFromManyThreads) {
  auto ed = std::make_shared<const SigningKey>(
      SigningKey::ed25519_from_seed(hex32(test::kRfc8032Secret1)));
  auto p = std::make_shared<const SigningKey>(
      std::move(*SigningKey::p256_from_scalar(hex32(test::kRfc6979Scalar))));
  const Signature64 ed_ref = sign_bytes(*ed, as_bytes("m"));
  const Signature64 p_ref = sign_bytes(*p, as_bytes("m"));
  std::vector<int> failures(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      const VerifyingKey pk = p->verifying_key();  // copies share the parsed key
      for (int i = 0; i < 20; ++i) {
        if (sign_bytes(*ed, as_bytes("m")) != ed_ref) ++failures[t];
        if (sign_bytes(*p, as_bytes("m")) != p_ref) ++failures[t];
        if (!verify_signature_bytes(pk, as_bytes("m"), p_ref)) ++failures[t];
        if (!verify_signature_bytes(ed->verifying_key(), as_bytes("m"), ed_ref)) ++failures[t];
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace zelk
