#include "tct/verify.hpp"

#include <utility>

#include "base/saturating.hpp"
#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "tct/payload_problem.hpp"

template <>
struct zelk::VerifierOf<zelk::TctClaims> {
  static VerifiedTct make(const ParsedTct& token, TctClaims claims) {
    return {token.text(), std::move(claims)};
  }
};

template <>
struct zelk::VerifierOf<zelk::GrantVoucherClaims> {
  static VerifiedGrantVoucher make(const ParsedGrantVoucher& token, GrantVoucherClaims claims) {
    return {token.text(), std::move(claims)};
  }
};

namespace zelk {
namespace {

using Kind = TctError::Kind;

[[nodiscard]] std::unexpected<TctError> fail(Kind kind) {
  return std::unexpected(TctError::of(kind));
}

// Only a token that says it is of the expected type has its claims looked at before the
// signature: repeated members at any depth, then undeclared top-level members. Any other type is
// left to the signature step, which refuses it.
template <typename Claims>
[[nodiscard]] std::optional<TctError> precheck_claims(const ParsedToken<Claims>& token,
                                                      std::string_view typ) {
  const std::optional<std::string_view> found = token.jws().typ_hint();
  if (!found || *found != typ) return std::nullopt;
  if (!token.jws().payload_bytes()) return TctError::wrap(token.jws().payload_bytes().error());
  std::optional<PayloadProblem> problem = token.precheck_payload();
  if (!problem) return std::nullopt;
  return from_payload_problem(std::move(*problem));
}

// The steps every token kind shares: pre-check, signature, strict claims.
template <typename Claims>
[[nodiscard]] std::expected<Claims, TctError> checked_claims(const ParsedToken<Claims>& token,
                                                             const Aid& issuer,
                                                             std::string_view typ) {
  if (auto refused = precheck_claims(token, typ)) return std::unexpected(std::move(*refused));
  if (auto ok = verify_compact_jws(token.jws(), issuer, typ); !ok)
    return std::unexpected(TctError::wrap(std::move(ok.error())));
  if (!token.claims()) return std::unexpected(tct_claims_read_error(token.claims().error()));
  return *token.claims();
}

}  // namespace

std::expected<VerifiedTct, TctError> verify_tct_jws(const ParsedTct& token,
                                                    const TctVerifyOptions& options) {
  auto claims = checked_claims<TctClaims>(token, options.issuer, kTctTyp);
  if (!claims) return std::unexpected(std::move(claims.error()));

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

  auto jkt = aid_thumbprint(claims->sub);
  if (!jkt) return std::unexpected(TctError::wrap(std::move(jkt.error())));
  if (*jkt != claims->cnf.jkt) return fail(Kind::CnfMismatch);

  if (options.revocation != nullptr && *options.revocation && (*options.revocation)(claims->jti))
    return fail(Kind::JtiRevoked);
  return VerifierOf<TctClaims>::make(token, std::move(*claims));
}

std::expected<VerifiedTct, TctError> verify_tct_jws(std::string_view token,
                                                    const TctVerifyOptions& options) {
  auto parsed = ParsedTct::parse(token);
  if (!parsed) return std::unexpected(TctError::wrap(std::move(parsed.error())));
  return verify_tct_jws(*parsed, options);
}

std::expected<VerifiedGrantVoucher, TctError> verify_grant_voucher_jws(
    const ParsedGrantVoucher& token, const Aid& issuer) {
  auto claims = checked_claims<GrantVoucherClaims>(token, issuer, kGrantVoucherTyp);
  if (!claims) return std::unexpected(std::move(claims.error()));
  if (claims->ver != kProtocolVersion) return fail(Kind::UnsupportedVersion);
  if (claims->iss != issuer) return fail(Kind::IssuerMismatch);
  if (claims->grants.empty()) return fail(Kind::EmptyGrants);
  return VerifierOf<GrantVoucherClaims>::make(token, std::move(*claims));
}

std::expected<VerifiedGrantVoucher, TctError> verify_grant_voucher_jws(std::string_view token,
                                                                       const Aid& issuer) {
  auto parsed = ParsedGrantVoucher::parse(token);
  if (!parsed) return std::unexpected(TctError::wrap(std::move(parsed.error())));
  return verify_grant_voucher_jws(*parsed, issuer);
}

}  // namespace zelk
