// Each pair measures one verification through our API and the same work done directly with the
// underlying library, over identical inputs.
#include <benchmark/benchmark.h>
#include <botan/bigint.h>
#include <botan/ec_group.h>
#include <botan/ecdsa.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <sodium.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.hpp"
#include "crypto/keys.hpp"
#include "crypto/sha256.hpp"
#include "crypto/signature_text.hpp"

namespace {

using zelk::KeySuite;
using zelk::SigningKey;

std::array<std::uint8_t, 32> seed() {
  std::array<std::uint8_t, 32> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i + 1);
  return s;
}

using zelk::bench::require;

const zelk::Sha256Digest kDigest = zelk::sha256(std::string_view("benchmark signing input"));

void BM_Ed25519VerifyDigestText(benchmark::State& state) {
  const SigningKey key = SigningKey::ed25519_from_seed(seed());
  const zelk::VerifyingKey vk = *zelk::verifying_key_from_aid(key.aid());
  const std::string text = zelk::sign_digest_text(key, kDigest);
  for (auto _ : state) {
    auto ok = zelk::verify_digest_text(vk, kDigest, text);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_Ed25519VerifyDigestText);

void BM_Ed25519VerifyBytes(benchmark::State& state) {
  const SigningKey key = SigningKey::ed25519_from_seed(seed());
  const zelk::VerifyingKey vk = *zelk::verifying_key_from_aid(key.aid());
  const zelk::Signature64 sig = zelk::sign_bytes(key, kDigest);
  for (auto _ : state) {
    auto ok = zelk::verify_signature_bytes(vk, kDigest, sig);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_Ed25519VerifyBytes);

void BM_Ed25519VerifyRawSodium(benchmark::State& state) {
  require(sodium_init() >= 0, "sodium_init");
  const SigningKey key = SigningKey::ed25519_from_seed(seed());
  const zelk::Signature64 sig = zelk::sign_bytes(key, kDigest);
  const zelk::ByteView pk = key.public_key();
  for (auto _ : state) {
    int r = crypto_sign_verify_detached(sig.data(), kDigest.data(), kDigest.size(), pk.data());
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_Ed25519VerifyRawSodium);

void BM_P256VerifyBytes(benchmark::State& state) {
  const SigningKey key = std::move(*SigningKey::p256_from_scalar(seed()));
  const zelk::VerifyingKey vk = *zelk::verifying_key_from_aid(key.aid());
  const std::string message = "header.payload";
  const zelk::Signature64 sig = zelk::sign_bytes(key, zelk::as_bytes(message));
  for (auto _ : state) {
    auto ok = zelk::verify_signature_bytes(vk, zelk::as_bytes(message), sig);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_P256VerifyBytes);

// The same key and message through EVP_DigestVerify, with the signature already in DER.
void BM_P256VerifyRawOpenSsl(benchmark::State& state) {
  const SigningKey key = std::move(*SigningKey::p256_from_scalar(seed()));
  const std::string message = "header.payload";
  const zelk::Signature64 sig = zelk::sign_bytes(key, zelk::as_bytes(message));

  const zelk::bench::RawEs256Verifier raw(key.verifying_key().p256_uncompressed(), sig);
  for (auto _ : state) benchmark::DoNotOptimize(raw.verify(message));
}
BENCHMARK(BM_P256VerifyRawOpenSsl);

// One signature with a kept key, against OpenSSL's own (randomised-nonce) ECDSA signing with the
// same private key: the key objects are made once, outside the loop, on both sides.
void BM_P256Sign(benchmark::State& state) {
  const SigningKey key = std::move(*SigningKey::p256_from_scalar(seed()));
  const std::string message(400, 'x');
  for (auto _ : state) {
    zelk::Signature64 sig = zelk::sign_bytes(key, zelk::as_bytes(message));
    benchmark::DoNotOptimize(sig);
  }
}
BENCHMARK(BM_P256Sign);

void BM_P256SignRawOpenSsl(benchmark::State& state) {
  const std::array<std::uint8_t, 32> d = seed();
  EVP_PKEY* pkey = nullptr;
  {
    const SigningKey key = std::move(*SigningKey::p256_from_scalar(d));
    const zelk::ByteView point = key.verifying_key().p256_uncompressed();
    BIGNUM* priv = BN_bin2bn(d.data(), static_cast<int>(d.size()), nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    require(priv && bld && OSSL_PARAM_BLD_push_utf8_string(bld, "group", "prime256v1", 0) == 1 &&
                OSSL_PARAM_BLD_push_BN(bld, "priv", priv) == 1 &&
                OSSL_PARAM_BLD_push_octet_string(bld, "pub", point.data(), point.size()) == 1,
            "OSSL_PARAM_BLD");
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* fctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    require(params && fctx && EVP_PKEY_fromdata_init(fctx) == 1 &&
                EVP_PKEY_fromdata(fctx, &pkey, EVP_PKEY_KEYPAIR, params) == 1,
            "EVP_PKEY_fromdata");
    EVP_PKEY_CTX_free(fctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(priv);
  }
  const std::string message(400, 'x');
  for (auto _ : state) {
    std::array<unsigned char, 80> der{};
    std::size_t len = der.size();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    int r = EVP_DigestSignInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, pkey, nullptr);
    r &= EVP_DigestSign(ctx, der.data(), &len,
                        reinterpret_cast<const unsigned char*>(message.data()), message.size());
    EVP_MD_CTX_free(ctx);
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(der);
  }
  EVP_PKEY_free(pkey);
}
BENCHMARK(BM_P256SignRawOpenSsl);

// Botan 2's own deterministic (RFC 6979) signer, whose signatures ours reproduces byte for byte;
// the key and the signer are made once, as above.
void BM_P256SignBotan(benchmark::State& state) {
  const std::array<std::uint8_t, 32> d = seed();
  const Botan::EC_Group group("secp256r1");
  const Botan::ECDSA_PrivateKey key(Botan::system_rng(), group, Botan::BigInt(d.data(), d.size()));
  Botan::PK_Signer signer(key, Botan::system_rng(), "EMSA1(SHA-256)", Botan::IEEE_1363);
  const std::string message(400, 'x');
  for (auto _ : state) {
    std::vector<std::uint8_t> sig = signer.sign_message(
        reinterpret_cast<const std::uint8_t*>(message.data()), message.size(), Botan::system_rng());
    benchmark::DoNotOptimize(sig);
  }
}
BENCHMARK(BM_P256SignBotan);

void BM_P256KeyFromScalar(benchmark::State& state) {
  const std::array<std::uint8_t, 32> d = seed();
  for (auto _ : state) {
    auto key = SigningKey::p256_from_scalar(d);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_P256KeyFromScalar);

void BM_P256KeygenRawOpenSsl(benchmark::State& state) {
  for (auto _ : state) {
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    benchmark::DoNotOptimize(pkey);
    EVP_PKEY_free(pkey);
  }
}
BENCHMARK(BM_P256KeygenRawOpenSsl);

void BM_Ed25519FromSeed(benchmark::State& state) {
  const std::array<std::uint8_t, 32> s = seed();
  for (auto _ : state) {
    SigningKey key = SigningKey::ed25519_from_seed(s);
    benchmark::DoNotOptimize(key);
  }
}
BENCHMARK(BM_Ed25519FromSeed);

void BM_Ed25519SeedKeypairRawSodium(benchmark::State& state) {
  require(sodium_init() >= 0, "sodium_init");
  const std::array<std::uint8_t, 32> s = seed();
  for (auto _ : state) {
    std::array<std::uint8_t, 32> pk{};
    std::array<std::uint8_t, 64> sk{};
    int r = crypto_sign_seed_keypair(pk.data(), sk.data(), s.data());
    benchmark::DoNotOptimize(r);
    benchmark::DoNotOptimize(sk);
  }
}
BENCHMARK(BM_Ed25519SeedKeypairRawSodium);

}  // namespace
