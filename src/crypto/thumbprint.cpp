#include "crypto/key_cache.hpp"
#include "crypto/keys.hpp"
#include "crypto/sha256.hpp"
#include "formats/base64url.hpp"

namespace zelk {

std::expected<std::string, CryptoError> jwk_thumbprint(const VerifyingKey& key) {
  // Members in lexicographic order, no whitespace: the form RFC 7638 hashes.
  std::string jwk;
  jwk.reserve(128);
  if (key.suite() == KeySuite::Ed25519) {
    jwk = R"({"crv":"Ed25519","kty":"OKP","x":")";
    b64url_encode_append(key.bytes(), jwk);
    jwk += "\"}";
  } else {
    const ByteView point = key.p256_uncompressed();
    if (point.size() != 65 || point[0] != 4) {
      const unsigned tag = point.empty() ? 0u : point[0];
      return std::unexpected(CryptoError::public_key(
          "P-256 verifying key did not encode to SEC1 uncompressed form (len=" +
          std::to_string(point.size()) + ", tag=" + std::to_string(tag) + ")"));
    }
    jwk = R"({"crv":"P-256","kty":"EC","x":")";
    b64url_encode_append(point.subspan(1, 32), jwk);
    jwk += R"(","y":")";
    b64url_encode_append(point.subspan(33, 32), jwk);
    jwk += "\"}";
  }
  return b64url_encode(sha256(jwk));
}

std::expected<std::string, CryptoError> aid_thumbprint(const Aid& aid) {
  if (auto known = crypto_detail::cached_thumbprint(aid.text())) return std::move(*known);
  auto key = verifying_key_from_aid(aid);
  if (!key) return std::unexpected(std::move(key.error()));
  auto jkt = jwk_thumbprint(*key);
  if (jkt) crypto_detail::remember_thumbprint(aid.text(), *jkt);
  return jkt;
}

}  // namespace zelk
