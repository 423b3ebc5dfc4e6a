#pragma once

// RSA keys made by OpenSSL for the tests, with their JWK members and PKCS#1 v1.5 SHA-256 signing.

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <string_view>

#include "crypto/openssl_ptr.hpp"
#include "formats/bytes.hpp"

namespace zelk::test {

struct RsaTestKey {
  std::shared_ptr<EVP_PKEY> pkey;
  Bytes n;  // minimal big-endian
  Bytes e;
};

inline Bytes bn_param(EVP_PKEY* pkey, const char* name) {
  BIGNUM* raw = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &raw);
  ossl::UniquePtr<BIGNUM> bn(raw);
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn.get())));
  BN_bn2bin(bn.get(), out.data());
  return out;
}

inline RsaTestKey generate_rsa(unsigned bits) {
  EVP_PKEY* pkey = EVP_RSA_gen(bits);
  RsaTestKey key{std::shared_ptr<EVP_PKEY>(pkey, EVP_PKEY_free), {}, {}};
  key.n = bn_param(pkey, OSSL_PKEY_PARAM_RSA_N);
  key.e = bn_param(pkey, OSSL_PKEY_PARAM_RSA_E);
  return key;
}

// RSASSA-PKCS1-v1_5 with SHA-256 over the message.
inline Bytes rsa_sign(const RsaTestKey& key, std::string_view message) {
  ossl::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  std::size_t length = 0;
  EVP_DigestSignInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, key.pkey.get(), nullptr);
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  EVP_DigestSign(ctx.get(), nullptr, &length, data, message.size());
  Bytes out(length);
  EVP_DigestSign(ctx.get(), out.data(), &length, data, message.size());
  out.resize(length);
  return out;
}

// The keys are slow to make, above all under the sanitizers: one of each size per program.
inline const RsaTestKey& rsa_key_2048() {
  static const RsaTestKey key = generate_rsa(2048);
  return key;
}
inline const RsaTestKey& rsa_key_4096() {
  static const RsaTestKey key = generate_rsa(4096);
  return key;
}
inline const RsaTestKey& rsa_key_1024() {
  static const RsaTestKey key = generate_rsa(1024);
  return key;
}

}  // namespace zelk::test
