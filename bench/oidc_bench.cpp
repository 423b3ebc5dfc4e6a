// OIDC identity tokens: the whole check of a token (descriptor, trust anchors, split, header,
// issuer URL, key lookup, signature, claims, cnf) against the bare signature check of the same
// signing input with the underlying library, for each algorithm.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <sodium.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_util.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "handshake/oidc_verify.hpp"

namespace {

using zelk::Bytes;
using zelk::Jwk;
using zelk::SigningKey;

constexpr std::int64_t kNow = 1'700'000'000;
const std::string kIssuer = "https://idp.example/";
const std::string kNonce = "AAECAwQFBgcICQoLDA0ODw";

using zelk::bench::require;

std::array<std::uint8_t, 32> filled(std::uint8_t b) {
  std::array<std::uint8_t, 32> s{};
  s.fill(b);
  return s;
}

class FixedKeys : public zelk::JwksResolver {
 public:
  std::vector<Jwk> keys;
  std::expected<std::vector<Jwk>, zelk::JwksResolverError> resolve(
      const zelk::url::Url&) const override {
    return keys;
  }
};

struct RsaKey {
  EVP_PKEY* pkey = nullptr;
  Bytes n, e;
};

Bytes bn_param(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  require(EVP_PKEY_get_bn_param(pkey, name, &bn) == 1, "EVP_PKEY_get_bn_param");
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, out.data());
  BN_free(bn);
  return out;
}

const RsaKey& rsa_2048() {
  static const RsaKey key = [] {
    RsaKey k;
    k.pkey = EVP_RSA_gen(2048);
    require(k.pkey != nullptr, "EVP_RSA_gen");
    k.n = bn_param(k.pkey, OSSL_PKEY_PARAM_RSA_N);
    k.e = bn_param(k.pkey, OSSL_PKEY_PARAM_RSA_E);
    return k;
  }();
  return key;
}

Bytes rsa_sign(EVP_PKEY* pkey, const std::string& message) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::size_t len = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  require(EVP_DigestSignInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, pkey, nullptr) == 1 &&
              EVP_DigestSign(ctx, nullptr, &len, data, message.size()) == 1,
          "EVP_DigestSign");
  Bytes sig(len);
  require(EVP_DigestSign(ctx, sig.data(), &len, data, message.size()) == 1, "EVP_DigestSign");
  EVP_MD_CTX_free(ctx);
  return sig;
}

// One token for the peer `subject`, audience `verifier`, signed by `sign` under `alg`.
struct Token {
  std::string signing_input;
  Bytes signature;
  std::string text;
};

Token make_token(std::string_view alg, const SigningKey& verifier, const SigningKey& subject,
                 const std::function<Bytes(const std::string&)>& sign) {
  const std::string header = R"({"alg":")" + std::string(alg) + R"(","kid":"k1","typ":"JWT"})";
  const std::string claims =
      R"({"iss":")" + kIssuer + R"(","sub":"alice","aud":")" + verifier.aid_text() + R"(","iat":)" +
      std::to_string(kNow) + R"(,"exp":)" + std::to_string(kNow + 600) + R"(,"nonce":")" + kNonce +
      R"(","cnf":{"jkt":")" + *zelk::jwk_thumbprint(subject.verifying_key()) + R"("}})";
  Token t;
  t.signing_input = zelk::b64url_encode(zelk::as_bytes(header)) + "." +
                    zelk::b64url_encode(zelk::as_bytes(claims));
  t.signature = sign(t.signing_input);
  t.text = t.signing_input + "." + zelk::b64url_encode(t.signature);
  return t;
}

void run_oidc(benchmark::State& state, const Jwk& jwk, const Token& token,
              const SigningKey& verifier, const SigningKey& subject) {
  FixedKeys resolver;
  resolver.keys = {jwk};
  const std::vector<std::string> anchors{kIssuer};
  const zelk::IdentityDescriptor descriptor{
      zelk::IdentityType::Oidc, kIssuer, "alice", token.text, std::nullopt, std::nullopt};
  const zelk::OidcVerifyContext context{.expected_audience = verifier.aid_text(),
                                        .expected_nonce = kNonce,
                                        .trust_anchors = anchors,
                                        .resolver = resolver,
                                        .subject_aid = subject.aid(),
                                        .now = kNow};
  require(zelk::verify_oidc_identity(descriptor, context).has_value(), "token verifies");
  for (auto _ : state) {
    auto ok = zelk::verify_oidc_identity(descriptor, context);
    benchmark::DoNotOptimize(ok);
  }
}

const SigningKey& verifier() {
  static const SigningKey key = SigningKey::ed25519_from_seed(filled(1));
  return key;
}
const SigningKey& subject() {
  static const SigningKey key = SigningKey::ed25519_from_seed(filled(2));
  return key;
}
const SigningKey& idp_ed() {
  static const SigningKey key = SigningKey::ed25519_from_seed(filled(9));
  return key;
}
const SigningKey& idp_ec() {
  static const SigningKey key = std::move(*SigningKey::p256_from_scalar(filled(9)));
  return key;
}

Bytes curve_sign(const SigningKey& key, const std::string& input) {
  const zelk::Signature64 s = zelk::sign_bytes(key, zelk::as_bytes(input));
  return Bytes(s.begin(), s.end());
}

void BM_OidcTokenEdDSA(benchmark::State& state) {
  const Token t = make_token("EdDSA", verifier(), subject(),
                             [](const std::string& in) { return curve_sign(idp_ed(), in); });
  const Jwk jwk =
      Jwk::ed25519("k1", std::span<const std::uint8_t, 32>(idp_ed().public_key().data(), 32));
  run_oidc(state, jwk, t, verifier(), subject());
}
BENCHMARK(BM_OidcTokenEdDSA);

void BM_OidcRawEdDSA(benchmark::State& state) {
  require(sodium_init() >= 0, "sodium_init");
  const Token t = make_token("EdDSA", verifier(), subject(),
                             [](const std::string& in) { return curve_sign(idp_ed(), in); });
  const auto* msg = reinterpret_cast<const unsigned char*>(t.signing_input.data());
  for (auto _ : state) {
    int r = crypto_sign_verify_detached(t.signature.data(), msg, t.signing_input.size(),
                                        idp_ed().public_key().data());
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_OidcRawEdDSA);

void BM_OidcTokenES256(benchmark::State& state) {
  const Token t = make_token("ES256", verifier(), subject(),
                             [](const std::string& in) { return curve_sign(idp_ec(), in); });
  const zelk::ByteView point = idp_ec().verifying_key().p256_uncompressed();
  const Jwk jwk = Jwk::p256("k1", std::span<const std::uint8_t, 32>(point.data() + 1, 32),
                            std::span<const std::uint8_t, 32>(point.data() + 33, 32));
  run_oidc(state, jwk, t, verifier(), subject());
}
BENCHMARK(BM_OidcTokenES256);

// EVP_DigestVerify over the same input, with the signature already in DER.
void BM_OidcRawES256(benchmark::State& state) {
  const Token t = make_token("ES256", verifier(), subject(),
                             [](const std::string& in) { return curve_sign(idp_ec(), in); });
  const zelk::bench::RawEs256Verifier raw(idp_ec().verifying_key().p256_uncompressed(),
                                          t.signature);
  for (auto _ : state) benchmark::DoNotOptimize(raw.verify(t.signing_input));
}
BENCHMARK(BM_OidcRawES256);

void BM_OidcTokenRS256(benchmark::State& state) {
  const RsaKey& key = rsa_2048();
  const Token t = make_token("RS256", verifier(), subject(),
                             [&key](const std::string& in) { return rsa_sign(key.pkey, in); });
  run_oidc(state, Jwk::rsa("k1", key.n, key.e), t, verifier(), subject());
}
BENCHMARK(BM_OidcTokenRS256);

// The same signature through EVP_DigestVerify with the key OpenSSL generated.
void BM_OidcRawRS256(benchmark::State& state) {
  const RsaKey& key = rsa_2048();
  const Token t = make_token("RS256", verifier(), subject(),
                             [&key](const std::string& in) { return rsa_sign(key.pkey, in); });
  const auto* msg = reinterpret_cast<const unsigned char*>(t.signing_input.data());
  for (auto _ : state) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    int r = EVP_DigestVerifyInit_ex(ctx, nullptr, "SHA256", nullptr, nullptr, key.pkey, nullptr);
    r &= EVP_DigestVerify(ctx, t.signature.data(), t.signature.size(), msg, t.signing_input.size());
    EVP_MD_CTX_free(ctx);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_OidcRawRS256);

}  // namespace
