#include "handshake/jwks.hpp"

namespace zelk {

std::string JwksResolverError::message() const {
  if (kind == Kind::IssuerNotTrusted)
    return "issuer not trusted: " + (issuer ? issuer->href() : std::string());
  return "could not resolve issuer keys: " + reason;
}

const Jwk* next_matching_jwk(std::span<const Jwk> keys, std::size_t& position,
                             const std::optional<std::string>& kid) {
  while (position < keys.size()) {
    const Jwk& key = keys[position++];
    if (key.kid() == kid) return &key;
  }
  return nullptr;
}

const Jwk* select_jwk(std::span<const Jwk> keys, const std::optional<std::string>& header_kid) {
  std::size_t position = 0;
  if (const Jwk* match = next_matching_jwk(keys, position, header_kid)) return match;
  if (!header_kid && keys.size() == 1) return &keys.front();
  return nullptr;
}

HandshakeError map_resolver_error(std::string_view issuer, const JwksResolverError& error) {
  return HandshakeError::issuer_key_resolution(std::string(issuer), error.message());
}

}  // namespace zelk
