#include "crypto/rfc6979.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <sodium.h>

#include <algorithm>
#include <initializer_list>

#include "crypto/invariant.hpp"
#include "crypto/openssl_ptr.hpp"
#include "crypto/p256_curve.hpp"

namespace zelk::crypto_detail {
namespace {

using Block = std::array<std::uint8_t, 32>;

// Fetched once so that each nonce skips the provider lookup.
EVP_MAC* hmac() {
  static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (mac == nullptr) invariant_failure("HMAC is not available");
  return mac;
}

// One HMAC-SHA-256 context, rekeyed for every step of the generator. Each is copied from one
// prepared with the digest, so that no call looks the digest up again.
class Hmac {
 public:
  Hmac() : ctx_(EVP_MAC_CTX_dup(prepared())) {
    if (!ctx_) invariant_failure("out of memory");
  }

  // out = HMAC(key, concatenation of parts); out may alias the key or a part.
  void mac(const Block& key, std::initializer_list<std::span<const std::uint8_t>> parts,
           Block& out) {
    std::size_t len = 0;
    bool ok = EVP_MAC_init(ctx_.get(), key.data(), key.size(), nullptr) == 1;
    for (const auto part : parts)
      ok = ok && EVP_MAC_update(ctx_.get(), part.data(), part.size()) == 1;
    if (!ok || EVP_MAC_final(ctx_.get(), out.data(), &len, out.size()) != 1 || len != out.size())
      invariant_failure("HMAC failed");
  }

 private:
  static const EVP_MAC_CTX* prepared() {
    static EVP_MAC_CTX* const ctx = [] {
      EVP_MAC_CTX* made = EVP_MAC_CTX_new(hmac());
      char digest[] = "SHA256";
      const OSSL_PARAM params[] = {
          OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_END};
      if (made == nullptr || EVP_MAC_CTX_set_params(made, params) != 1)
        invariant_failure("HMAC set-up failed");
      return made;
    }();
    return ctx;
  }

  ossl::UniquePtr<EVP_MAC_CTX> ctx_;
};

// The big-endian order reversed once for sodium_compare, which reads little-endian numbers.
constexpr Block kOrderLittleEndian = [] {
  Block le{};
  for (std::size_t i = 0; i < 32; ++i) le[i] = kP256Order[31 - i];
  return le;
}();

}  // namespace

bool p256_scalar_in_range(std::span<const std::uint8_t, 32> be) {
  Block le{};
  for (std::size_t i = 0; i < 32; ++i) le[i] = be[31 - i];
  const int nonzero = 1 - sodium_is_zero(le.data(), le.size());
  // sodium_compare gives -1, 0 or 1; the sign bit alone says "below".
  const int below = (sodium_compare(le.data(), kOrderLittleEndian.data(), le.size()) >> 8) & 1;
  sodium_memzero(le.data(), le.size());
  return (nonzero & below) == 1;
}

void rfc6979_p256_nonce(std::span<const std::uint8_t, 32> scalar,
                        std::span<const std::uint8_t, 32> digest,
                        std::span<std::uint8_t, 32> nonce) {
  static constexpr std::uint8_t kZero[] = {0x00};
  static constexpr std::uint8_t kOne[] = {0x01};
  Hmac hmac;
  Block key{};  // K
  Block v;      // V
  v.fill(0x01);
  hmac.mac(key, {v, kZero, scalar, digest}, key);
  hmac.mac(key, {v}, v);
  hmac.mac(key, {v, kOne, scalar, digest}, key);
  hmac.mac(key, {v}, v);
  // With a 256-bit order and a 256-bit hash, each candidate is one V.
  for (;;) {
    hmac.mac(key, {v}, v);
    if (p256_scalar_in_range(v)) break;
    hmac.mac(key, {v, kZero}, key);
    hmac.mac(key, {v}, v);
  }
  std::copy(v.begin(), v.end(), nonce.begin());
  sodium_memzero(key.data(), key.size());
  sodium_memzero(v.data(), v.size());
}

}  // namespace zelk::crypto_detail
