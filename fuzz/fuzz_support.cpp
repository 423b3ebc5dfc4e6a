#include "fuzz_support.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "formats/base64url.hpp"
#include "formats/bytes.hpp"

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

std::string sign_token(const SigningKey& key, std::string_view header, std::string_view payload) {
  std::string token = b64url_encode(as_bytes(header));
  token += '.';
  b64url_encode_append(as_bytes(payload), token);
  const Signature64 signature = sign_bytes(key, as_bytes(token));
  token += '.';
  b64url_encode_append(signature, token);
  return token;
}

}  // namespace zelk::fuzz
