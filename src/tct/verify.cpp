#include "tct/verify.hpp"

#include <span>
#include <utility>

#include "core/envelope.hpp"
#include "crypto/jws.hpp"
#include "crypto/keys.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/strict_members.hpp"
#include "formats/saturating.hpp"

namespace zelk {
namespace {

using Kind = TctError::Kind;

std::unexpected<TctError> fail(Kind kind) {
  return std::unexpected(TctError::of(kind));
}

// Only a token that says it is of the expected type has its claims looked at before the
// signature: repeated members at any depth, then undeclared top-level members. Any other type is
// left to the signature step, which refuses it.
std::optional<TctError> precheck_claims(std::string_view token, std::string_view typ,
                                        std::string_view record_name,
                                        std::span<const std::string_view> names) {
  const std::optional<std::string> found = peek_jws_typ(token);
  if (!found || *found != typ) return std::nullopt;
  auto payload = decode_jws_payload_unverified(token);
  if (!payload) return TctError::wrap(std::move(payload.error()));
  const std::string_view text = as_text(*payload);
  if (std::optional<std::string> problem = json::check_duplicate_keys(text))
    return TctError::claims_malformed(std::move(*problem));
  auto value = json::parse_value(text);
  if (!value) return std::nullopt;
  if (auto undeclared = json::find_undeclared_member(record_name, *value, names))
    return TctError::unknown_field(std::move(undeclared->name));
  return std::nullopt;
}

}  // namespace

std::expected<VerifiedTct, TctError> verify_tct_jws(std::string_view token,
                                                    const TctVerifyOptions& options) {
  if (auto refused = precheck_claims(token, kTctTyp, kTctClaimsName, kTctClaimNames))
    return std::unexpected(std::move(*refused));
  auto payload = verify_compact_jws(token, options.issuer, kTctTyp);
  if (!payload) return std::unexpected(TctError::wrap(std::move(payload.error())));
  auto claims = read_tct_claims(as_text(*payload));
  if (!claims) return std::unexpected(tct_claims_read_error(claims.error()));

  if (claims->ver != kProtocolVersion) return fail(Kind::UnsupportedVersion);
  if (claims->iss != options.issuer) return fail(Kind::IssuerMismatch);
  if (claims->aud != options.expected_audience || claims->aud != claims->sub)
    return fail(Kind::AudienceMismatch);
  if (claims->exp < saturating_sub(options.now, options.clock_skew_secs) ||
      claims->iat > saturating_add(options.now, options.clock_skew_secs))
    return fail(Kind::OutsideValidity);
  if (options.manifest_expires_at && claims->exp > *options.manifest_expires_at)
    return fail(Kind::ExceedsManifest);
  if (claims->grants.empty()) return fail(Kind::EmptyGrants);

  auto subject_key = verifying_key_from_aid(claims->sub);
  if (!subject_key) return std::unexpected(TctError::wrap(std::move(subject_key.error())));
  auto jkt = jwk_thumbprint(*subject_key);
  if (!jkt) return std::unexpected(TctError::wrap(std::move(jkt.error())));
  if (*jkt != claims->cnf.jkt) return fail(Kind::CnfMismatch);

  if (options.revocation != nullptr && *options.revocation && (*options.revocation)(claims->jti))
    return fail(Kind::JtiRevoked);
  return VerifiedTct{std::string(token), std::move(*claims)};
}

std::expected<GrantVoucherClaims, TctError> verify_grant_voucher_jws(std::string_view token,
                                                                     const Aid& issuer) {
  if (auto refused = precheck_claims(token, kGrantVoucherTyp, kGrantVoucherClaimsName,
                                     kGrantVoucherClaimNames))
    return std::unexpected(std::move(*refused));
  auto payload = verify_compact_jws(token, issuer, kGrantVoucherTyp);
  if (!payload) return std::unexpected(TctError::wrap(std::move(payload.error())));
  auto claims = read_grant_voucher_claims(as_text(*payload));
  if (!claims) return std::unexpected(tct_claims_read_error(claims.error()));
  if (claims->ver != kProtocolVersion) return fail(Kind::UnsupportedVersion);
  if (claims->iss != issuer) return fail(Kind::IssuerMismatch);
  if (claims->grants.empty()) return fail(Kind::EmptyGrants);
  return std::move(*claims);
}

}  // namespace zelk
