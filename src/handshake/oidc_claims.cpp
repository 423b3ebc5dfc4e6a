#include "handshake/oidc_claims.hpp"

#include <algorithm>

namespace zelk {

std::expected<JwtHeader, json::JsonError> decode_jwt_header(std::string_view text) {
  return json::read_record<JwtHeader>(text);
}

std::expected<OidcClaims, json::JsonError> decode_oidc_claims(std::string_view text) {
  return json::read_record<OidcClaims>(text);
}

bool aud_contains(const Aud& aud, std::string_view value) {
  if (const auto* one = std::get_if<std::string>(&aud)) return *one == value;
  const auto& list = std::get<std::vector<std::string>>(aud);
  return std::ranges::find(list, value) != list.end();
}

}  // namespace zelk
