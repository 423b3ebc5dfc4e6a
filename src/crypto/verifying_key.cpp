#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/params.h>
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "base/invariant.hpp"
#include "crypto/key_cache.hpp"
#include "crypto/keys.hpp"
#include "crypto/openssl_objects.hpp"
#include "crypto/openssl_ptr.hpp"
#include "crypto/p256_curve.hpp"
#include "crypto/sha256.hpp"
#include "crypto/sodium_init.hpp"

namespace zelk {
namespace {

using crypto_detail::kP256Order;

ossl::UniquePtr<EVP_PKEY> make_p256_pkey(const std::array<std::uint8_t, 65>& uncompressed);

}  // namespace

struct VerifyingKey::P256Handle {
  // The OpenSSL key of `uncompressed`, made once; null if OpenSSL refuses the point.
  EVP_PKEY* get(const std::array<std::uint8_t, 65>& uncompressed) {
    std::call_once(made, [&] { pkey = make_p256_pkey(uncompressed); });
    return pkey.get();
  }

  std::once_flag made;
  ossl::UniquePtr<EVP_PKEY> pkey;
};

const EC_GROUP* crypto_detail::p256_group() {
  static EC_GROUP* const group =
      EC_GROUP_new_by_curve_name_ex(nullptr, nullptr, NID_X9_62_prime256v1);
  if (group == nullptr) invariant_failure("P-256 group is not available");
  return group;
}

namespace {

[[nodiscard]] std::unexpected<CryptoError> bad_public_key() {
  return std::unexpected(CryptoError::public_key(kSignatureErrorText));
}

// An OpenSSL key holding the uncompressed point; empty when OpenSSL refuses it.
ossl::UniquePtr<EVP_PKEY> make_p256_pkey(const std::array<std::uint8_t, 65>& uncompressed) {
  std::array<std::uint8_t, 65> point = uncompressed;  // OSSL_PARAM takes a mutable buffer
  ossl::UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  if (!ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1) return nullptr;
  char group_name[] = "prime256v1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group_name, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()),
      OSSL_PARAM_construct_end()};
  EVP_PKEY* pkey = nullptr;
  const int made = EVP_PKEY_fromdata(ctx.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params);
  ossl::UniquePtr<EVP_PKEY> held(pkey);
  if (made != 1) return nullptr;
  return held;
}

// r or s: a big-endian integer in 1..n-1. Public values, so an ordinary comparison will do.
[[nodiscard]] bool in_scalar_range(const std::uint8_t* v) {
  if (std::all_of(v, v + 32, [](std::uint8_t b) { return b == 0; })) return false;
  return std::lexicographical_compare(v, v + 32, kP256Order.begin(), kP256Order.end());
}

// Appends one DER INTEGER of a 32-byte non-negative big-endian value.
std::size_t der_integer(const std::uint8_t* v, std::uint8_t* out) {
  std::size_t skip = 0;
  while (skip < 31 && v[skip] == 0) ++skip;
  const std::size_t len = 32 - skip;
  const bool pad = (v[skip] & 0x80) != 0;
  std::size_t n = 0;
  out[n++] = 0x02;
  out[n++] = static_cast<std::uint8_t>(len + (pad ? 1 : 0));
  if (pad) out[n++] = 0x00;
  std::memcpy(out + n, v + skip, len);
  return n + len;
}

// ECDSA-Sig-Value { r, s } for OpenSSL; at most 72 bytes.
std::size_t der_signature(const std::uint8_t* sig64, std::array<std::uint8_t, 72>& out) {
  std::size_t n = 2;
  n += der_integer(sig64, out.data() + n);
  n += der_integer(sig64 + 32, out.data() + n);
  out[0] = 0x30;
  out[1] = static_cast<std::uint8_t>(n - 2);
  return n;
}

[[nodiscard]] bool p256_verify(EVP_PKEY* pkey, ByteView message, const std::uint8_t* sig64) {
  if (!in_scalar_range(sig64) || !in_scalar_range(sig64 + 32)) return false;
  std::array<std::uint8_t, 72> der{};
  const std::size_t der_len = der_signature(sig64, der);
  const Sha256Digest digest = sha256(message);
  ossl::UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey, nullptr));
  const bool ok =
      ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
      EVP_PKEY_verify(ctx.get(), der.data(), der_len, digest.data(), digest.size()) == 1;
  if (!ok) ERR_clear_error();
  return ok;
}

}  // namespace

std::string_view key_suite_name(KeySuite suite) {
  return suite == KeySuite::P256 ? "p256" : "ed25519";
}

std::optional<KeySuite> key_suite_from_name(std::string_view name) {
  if (name == "ed25519") return KeySuite::Ed25519;
  if (name == "p256") return KeySuite::P256;
  return std::nullopt;
}

std::expected<VerifyingKey, CryptoError> ed25519_key_from_bytes(ByteView key32) {
  if (key32.size() != crypto_sign_PUBLICKEYBYTES) return bad_public_key();
  crypto_detail::ensure_sodium();
  // Point addition decodes both operands and fails only when one is not on the curve; unlike
  // crypto_core_ed25519_is_valid_point it accepts small-order and mixed-order points, which strict
  // verification refuses later.
  std::array<std::uint8_t, crypto_core_ed25519_BYTES> sum{};
  if (crypto_core_ed25519_add(sum.data(), key32.data(), key32.data()) != 0) return bad_public_key();
  VerifyingKey key;
  key.suite_ = KeySuite::Ed25519;
  std::copy(key32.begin(), key32.end(), key.bytes_.begin());
  return key;
}

std::expected<VerifyingKey, CryptoError> p256_key_from_sec1(ByteView encoded) {
  // Only the compressed (tag 2 or 3) and uncompressed (tag 4) forms; OpenSSL would also take the
  // hybrid tags 6 and 7.
  const bool compressed = encoded.size() == 33 && (encoded[0] == 2 || encoded[0] == 3);
  const bool uncompressed = encoded.size() == 65 && encoded[0] == 4;
  if (!compressed && !uncompressed) return bad_public_key();
  const EC_GROUP* group = crypto_detail::p256_group();
  ossl::UniquePtr<EC_POINT> point(EC_POINT_new(group));
  if (!point) invariant_failure("out of memory");
  // Checks the tag, x below the field prime, the square root (compressed) or the curve equation.
  if (EC_POINT_oct2point(group, point.get(), encoded.data(), encoded.size(), nullptr) != 1 ||
      EC_POINT_is_at_infinity(group, point.get()) == 1) {
    ERR_clear_error();
    return bad_public_key();
  }
  VerifyingKey key;
  key.suite_ = KeySuite::P256;
  if (EC_POINT_point2oct(group, point.get(), POINT_CONVERSION_COMPRESSED, key.bytes_.data(),
                         key.bytes_.size(), nullptr) != key.bytes_.size() ||
      EC_POINT_point2oct(group, point.get(), POINT_CONVERSION_UNCOMPRESSED,
                         key.uncompressed_.data(), key.uncompressed_.size(),
                         nullptr) != key.uncompressed_.size())
    invariant_failure("P-256 point encoding failed");
  key.pkey_ = std::make_shared<VerifyingKey::P256Handle>();
  if (key.pkey_->get(key.uncompressed_) == nullptr) {
    ERR_clear_error();
    return bad_public_key();
  }
  return key;
}

VerifyingKey crypto_detail::ed25519_key_from_derived(std::span<const std::uint8_t, 32> key32) {
  VerifyingKey key;
  key.suite_ = KeySuite::Ed25519;
  std::copy(key32.begin(), key32.end(), key.bytes_.begin());
  return key;
}

VerifyingKey crypto_detail::p256_key_from_derived(std::span<const std::uint8_t, 33> compressed,
                                                  std::span<const std::uint8_t, 65> uncompressed) {
  VerifyingKey key;
  key.suite_ = KeySuite::P256;
  std::copy(compressed.begin(), compressed.end(), key.bytes_.begin());
  std::copy(uncompressed.begin(), uncompressed.end(), key.uncompressed_.begin());
  // The point was just computed from a scalar: OpenSSL's key is made if it is ever needed.
  key.pkey_ = std::make_shared<VerifyingKey::P256Handle>();
  return key;
}

std::expected<VerifyingKey, CryptoError> verifying_key_from_aid(const Aid& aid) {
  // A default-constructed placeholder holds no identifier to decode.
  if (aid.text().empty()) return std::unexpected(CryptoError::aid_key(kSignatureErrorText));
  if (auto known = crypto_detail::cached_verifying_key(aid.text())) return std::move(*known);
  auto key = aid.key_kind() == AidKeyKind::P256
                 ? p256_key_from_sec1(*aid_p256_key_bytes(aid))
                 : ed25519_key_from_bytes(*aid_ed25519_key_bytes(aid));
  if (!key) {
    if (aid.key_kind() == AidKeyKind::P256) return key;
    return std::unexpected(CryptoError::aid_key(kSignatureErrorText));
  }
  crypto_detail::remember_verifying_key(aid.text(), *key);
  return key;
}

Bytes public_key_bytes(const VerifyingKey& key) {
  const ByteView b = key.bytes();
  return Bytes(b.begin(), b.end());
}

std::expected<void, CryptoError> verify_signature_bytes(const VerifyingKey& key, ByteView message,
                                                        ByteView signature) {
  if (signature.size() != 64) return std::unexpected(CryptoError::verification());
  bool ok;
  if (key.suite_ == KeySuite::P256) {
    EVP_PKEY* pkey = key.pkey_->get(const_cast<std::array<std::uint8_t, 65>&>(key.uncompressed_));
    if (pkey == nullptr) invariant_failure("a derived P-256 point was refused");
    ok = p256_verify(pkey, message, signature.data());
  } else {
    crypto_detail::ensure_sodium();
    // Strict: canonical S, R and A not of small order, A canonical, cofactorless equation.
    ok = crypto_sign_verify_detached(signature.data(), message.data(), message.size(),
                                     key.bytes_.data()) == 0;
  }
  if (!ok) return std::unexpected(CryptoError::verification());
  return {};
}

}  // namespace zelk
