#include "tct/claims.hpp"

#include "crypto/jws.hpp"
#include "formats/json/strict_members.hpp"

namespace zelk {

std::expected<TctClaims, json::JsonError> read_tct_claims(std::string_view text) {
  return json::read_record<TctClaims>(text);
}

std::expected<GrantVoucherClaims, json::JsonError> read_grant_voucher_claims(
    std::string_view text) {
  return json::read_record<GrantVoucherClaims>(text);
}

std::expected<TctClaims, json::JsonError> tct_claims_from_value(const json::Value& value) {
  return json::record_from_value<TctClaims>(value);
}

std::expected<GrantVoucherClaims, json::JsonError> grant_voucher_claims_from_value(
    const json::Value& value) {
  return json::record_from_value<GrantVoucherClaims>(value);
}

TctError tct_claims_read_error(const json::JsonError& error) {
  if (std::optional<std::string> name = json::unknown_field_name(error))
    return TctError::unknown_field(std::move(*name));
  return TctError::claims_malformed(error.full());
}

json::Value tct_claims_to_value(const TctClaims& claims) {
  return json::record_to_value(claims);
}

json::Value grant_voucher_claims_to_value(const GrantVoucherClaims& claims) {
  return json::record_to_value(claims);
}

std::expected<std::string, json::CanonicalJsonError> canonical_tct_claims(const TctClaims& claims) {
  return json::canonical_json(tct_claims_to_value(claims));
}

std::expected<std::string, json::CanonicalJsonError> canonical_grant_voucher_claims(
    const GrantVoucherClaims& claims) {
  return json::canonical_json(grant_voucher_claims_to_value(claims));
}

std::expected<std::string, CryptoError> encode_tct_jws(const SigningKey& signer,
                                                       const TctClaims& claims) {
  return encode_compact_jws(signer, kTctTyp, tct_claims_to_value(claims));
}

std::expected<std::string, CryptoError> encode_grant_voucher_jws(const SigningKey& signer,
                                                                 const GrantVoucherClaims& claims) {
  return encode_compact_jws(signer, kGrantVoucherTyp, grant_voucher_claims_to_value(claims));
}

}  // namespace zelk
