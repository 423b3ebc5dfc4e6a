#include "delegation/claims.hpp"

#include "crypto/jws.hpp"
#include "crypto/sha256.hpp"
#include "formats/base64url.hpp"
#include "formats/json/canonical.hpp"

namespace zelk {

std::expected<DelegationClaims, json::JsonError> decode_delegation_claims(std::string_view text) {
  return json::read_record<DelegationClaims>(text);
}

json::Value delegation_claims_to_value(const DelegationClaims& claims) {
  return json::record_to_value(claims);
}

std::expected<std::string, CryptoError> build_delegation_token(const SigningKey& signer,
                                                               const DelegationClaims& claims) {
  return encode_compact_jws(signer, kDelegationTyp, delegation_claims_to_value(claims));
}

std::expected<std::string, DelegationError> compute_chain_hash(
    std::span<const std::string> tokens) {
  json::Array digests;
  digests.reserve(tokens.size());
  for (const std::string& token : tokens)
    digests.emplace_back(b64url_encode(sha256(std::string_view(token))));
  auto text = json::canonical_json(json::Value(std::move(digests)));
  if (!text) return std::unexpected(DelegationError::canonicalization(text.error().message()));
  return b64url_encode(sha256(std::string_view(*text)));
}

}  // namespace zelk
