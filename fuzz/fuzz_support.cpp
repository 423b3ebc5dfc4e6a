#include "fuzz_support.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "formats/base64url.hpp"
#include "formats/bytes.hpp"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "crypto/openssl_ptr.hpp"

namespace zelk::fuzz {

void fail(std::string_view property, std::string_view detail) {
  std::fprintf(stderr, "\nproperty broken: %.*s\n  %.*s\n", static_cast<int>(property.size()),
               property.data(), static_cast<int>(detail.size()), detail.data());
  std::abort();
}

namespace {

std::array<std::uint8_t, 32> secret(std::uint8_t fill) {
  std::array<std::uint8_t, 32> bytes{};
  bytes.fill(fill);
  return bytes;
}

}  // namespace

const SigningKey& ed25519_key() {
  static const SigningKey* key = new SigningKey(SigningKey::ed25519_from_seed(secret(0x11)));
  return *key;
}

const SigningKey& p256_key() {
  static const SigningKey* key = new SigningKey(*SigningKey::p256_from_scalar(secret(0x22)));
  return *key;
}

const SigningKey& peer_key() {
  static const SigningKey* key = new SigningKey(SigningKey::ed25519_from_seed(secret(0x33)));
  return *key;
}

const SigningKey& key_for_aid(std::string_view aid) {
  for (const SigningKey* key : {&ed25519_key(), &p256_key(), &peer_key()})
    if (key->aid().text() == aid) return *key;
  return ed25519_key();
}

std::string sign_token(const SigningKey& key, std::string_view header, std::string_view payload) {
  std::string token = b64url_encode(as_bytes(header));
  token += '.';
  b64url_encode_append(as_bytes(payload), token);
  const Signature64 signature = sign_bytes(key, as_bytes(token));
  token += '.';
  b64url_encode_append(signature, token);
  return token;
}

namespace {

EVP_PKEY* rsa_key() {
  static EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", std::size_t{2048});
  if (key == nullptr) fail("RSA key generation");
  return key;
}

Bytes bn_param(const char* name) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(rsa_key(), name, &raw) != 1) fail("RSA key parameter", name);
  ossl::UniquePtr<BIGNUM> bn(raw);
  Bytes out(static_cast<std::size_t>(BN_num_bytes(bn.get())));
  BN_bn2bin(bn.get(), out.data());
  return out;
}

}  // namespace

const std::vector<Jwk>& provider_jwks() {
  static const std::vector<Jwk>* keys = [] {
    const ByteView p256 = p256_key().verifying_key().p256_uncompressed();
    std::array<std::uint8_t, 32> ed{}, x{}, y{};
    std::copy_n(ed25519_key().verifying_key().bytes().begin(), 32, ed.begin());
    std::copy_n(p256.begin() + 1, 32, x.begin());
    std::copy_n(p256.begin() + 33, 32, y.begin());
    return new std::vector<Jwk>{
        Jwk::ed25519("ed", ed), Jwk::p256("p256", x, y),
        Jwk::rsa("rsa", bn_param(OSSL_PKEY_PARAM_RSA_N), bn_param(OSSL_PKEY_PARAM_RSA_E))};
  }();
  return *keys;
}

Bytes rsa_sign(std::string_view signing_input) {
  ossl::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (EVP_DigestSignInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, rsa_key(), nullptr) !=
          1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, nullptr, 0) != 1)
    fail("RSA signing");
  Bytes signature(length);
  if (EVP_DigestSign(ctx.get(), signature.data(), &length,
                     reinterpret_cast<const unsigned char*>(signing_input.data()),
                     signing_input.size()) != 1)
    fail("RSA signing");
  signature.resize(length);
  return signature;
}

Bytes provider_sign(std::size_t which, std::string_view signing_input) {
  if (which == 2) return rsa_sign(signing_input);
  const SigningKey& key = which == 0 ? ed25519_key() : p256_key();
  const Signature64 signature = sign_bytes(key, as_bytes(signing_input));
  return Bytes(signature.begin(), signature.end());
}

}  // namespace zelk::fuzz
