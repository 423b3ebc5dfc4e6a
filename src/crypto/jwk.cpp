#include "crypto/jwk.hpp"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <algorithm>
#include <bit>
#include <optional>
#include <utility>

#include "base/invariant.hpp"
#include "crypto/keys.hpp"
#include "crypto/openssl_objects.hpp"
#include "crypto/openssl_ptr.hpp"

namespace zelk {

namespace crypto_detail {

// A key as parsed once when the Jwk was made. Ed25519 and P-256 keys become a VerifyingKey or the
// reason they cannot; an RSA key becomes an OpenSSL key only when it passes our own acceptance
// rules, which are stricter than OpenSSL's (it verifies under 1024-bit moduli, and under e = 1,
// for which the padded hash itself "verifies").
struct PreparedJwk {
  std::optional<std::expected<VerifyingKey, CryptoError>> curve_key;
  std::shared_ptr<evp_pkey_st> rsa_key;  // null: the RSA key is refused
  std::size_t rsa_modulus_bytes = 0;
};

}  // namespace crypto_detail

namespace {

using crypto_detail::PreparedJwk;

constexpr std::size_t kRsaMinModulusBits = 2048;
constexpr std::size_t kRsaMaxModulusBits = 8192;

// A minimal big-endian modulus (first byte non-zero) of 2048 to 8192 bits.
[[nodiscard]] bool acceptable_modulus(const Bytes& n) {
  if (n.empty() || n.front() == 0) return false;
  const std::size_t bits = n.size() * 8 - static_cast<std::size_t>(std::countl_zero(n.front()));
  return bits >= kRsaMinModulusBits && bits <= kRsaMaxModulusBits;
}

// The significant bytes of an odd exponent of at least 3 that is shorter than the modulus (leading
// zero bytes do not change its value; an exponent not below the modulus is refused by the
// verification anyway, and bounding it keeps every length within OpenSSL's int).
std::optional<ByteView> acceptable_exponent(const Bytes& e, const Bytes& n) {
  const auto first = std::find_if(e.begin(), e.end(), [](std::uint8_t b) { return b != 0; });
  if (first == e.end() || (e.back() & 1) == 0) return std::nullopt;
  const ByteView significant(&*first, static_cast<std::size_t>(std::distance(first, e.end())));
  if (significant.size() > n.size() || (significant.size() == 1 && significant[0] < 3))
    return std::nullopt;
  return significant;
}

// An OpenSSL key of a modulus and exponent checked above; empty when OpenSSL refuses them.
ossl::UniquePtr<EVP_PKEY> make_rsa_pkey(ByteView modulus, ByteView exponent) {
  ossl::UniquePtr<BIGNUM> n(BN_bin2bn(modulus.data(), static_cast<int>(modulus.size()), nullptr));
  ossl::UniquePtr<BIGNUM> e(BN_bin2bn(exponent.data(), static_cast<int>(exponent.size()), nullptr));
  ossl::UniquePtr<OSSL_PARAM_BLD> builder(OSSL_PARAM_BLD_new());
  if (!n || !e || !builder ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1)
    invariant_failure("out of memory");
  ossl::UniquePtr<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(builder.get()));
  ossl::UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) {
    ERR_clear_error();
    return nullptr;
  }
  EVP_PKEY* pkey = nullptr;
  const int made = EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params.get());
  ossl::UniquePtr<EVP_PKEY> held(pkey);
  if (made != 1) {
    ERR_clear_error();
    return nullptr;
  }
  return held;
}

std::shared_ptr<const PreparedJwk> prepare(const JwkKeyMaterial& material) {
  auto prepared = std::make_shared<PreparedJwk>();
  if (const auto* ed = std::get_if<JwkEd25519Key>(&material)) {
    prepared->curve_key = ed25519_key_from_bytes(ed->x);
  } else if (const auto* ec = std::get_if<JwkP256Key>(&material)) {
    std::array<std::uint8_t, 65> point{};
    point[0] = 0x04;
    std::copy(ec->x.begin(), ec->x.end(), point.begin() + 1);
    std::copy(ec->y.begin(), ec->y.end(), point.begin() + 33);
    prepared->curve_key = p256_key_from_sec1(point);
  } else {
    const auto& rsa = std::get<JwkRsaKey>(material);
    if (!acceptable_modulus(rsa.n)) return prepared;
    if (const auto exponent = acceptable_exponent(rsa.e, rsa.n)) {
      prepared->rsa_key = make_rsa_pkey(rsa.n, *exponent);  // shared from here on, same deleter
      prepared->rsa_modulus_bytes = rsa.n.size();
    }
  }
  return prepared;
}

[[nodiscard]] bool rsa_pkcs1_sha256_verify(EVP_PKEY* pkey, ByteView message, ByteView signature) {
  ossl::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  const bool ok =
      ctx &&
      EVP_DigestVerifyInit(ctx.get(), nullptr, crypto_detail::sha256_md(), nullptr, pkey) == 1 &&
      EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), message.data(),
                       message.size()) == 1;
  if (!ok) ERR_clear_error();
  return ok;
}

[[nodiscard]] std::unexpected<JwkVerifyError> signature_invalid() {
  return std::unexpected(JwkVerifyError{.kind = JwkVerifyError::Kind::SignatureInvalid});
}

}  // namespace

std::string_view jwk_alg_name(JwkAlg alg) {
  switch (alg) {
    case JwkAlg::EdDSA:
      return "EdDSA";
    case JwkAlg::ES256:
      return "ES256";
    case JwkAlg::RS256:
      return "RS256";
  }
  return {};
}

Jwk::Jwk(std::optional<std::string> kid, JwkKeyMaterial key)
    : kid_(std::move(kid)), key_(std::move(key)), prepared_(prepare(key_)) {}

Jwk Jwk::ed25519(std::optional<std::string> kid, std::span<const std::uint8_t, 32> x) {
  JwkEd25519Key key;
  std::copy(x.begin(), x.end(), key.x.begin());
  return Jwk(std::move(kid), key);
}

Jwk Jwk::p256(std::optional<std::string> kid, std::span<const std::uint8_t, 32> x,
              std::span<const std::uint8_t, 32> y) {
  JwkP256Key key;
  std::copy(x.begin(), x.end(), key.x.begin());
  std::copy(y.begin(), y.end(), key.y.begin());
  return Jwk(std::move(kid), key);
}

Jwk Jwk::rsa(std::optional<std::string> kid, Bytes n, Bytes e) {
  return Jwk(std::move(kid), JwkRsaKey{std::move(n), std::move(e)});
}

std::string JwkVerifyError::message() const {
  switch (kind) {
    case Kind::AlgMismatch:
      return "JWS header alg " + header_alg + " does not match key alg " +
             std::string(jwk_alg_name(key_alg));
    case Kind::KeyInvalid:
      return "key material invalid: " + crypto.message();
    case Kind::SignatureInvalid:
      return "signature verification failed";
  }
  return {};
}

std::expected<void, JwkVerifyError> verify_jws_with_jwk(const Jwk& key, std::string_view header_alg,
                                                        ByteView signing_input,
                                                        ByteView signature) {
  if (header_alg != jwk_alg_name(key.alg()))
    return std::unexpected(JwkVerifyError{.kind = JwkVerifyError::Kind::AlgMismatch,
                                          .header_alg = std::string(header_alg),
                                          .key_alg = key.alg()});
  const PreparedJwk& prepared = *key.prepared_;
  if (prepared.curve_key) {
    if (!*prepared.curve_key)
      return std::unexpected(JwkVerifyError{.kind = JwkVerifyError::Kind::KeyInvalid,
                                            .crypto = prepared.curve_key->error()});
    if (!verify_signature_bytes(**prepared.curve_key, signing_input, signature))
      return signature_invalid();
    return {};
  }
  if (!prepared.rsa_key || signature.size() != prepared.rsa_modulus_bytes ||
      !rsa_pkcs1_sha256_verify(prepared.rsa_key.get(), signing_input, signature))
    return signature_invalid();
  return {};
}

}  // namespace zelk
