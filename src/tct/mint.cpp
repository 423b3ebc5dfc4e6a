#include "tct/mint.hpp"

#include <algorithm>
#include <utility>

#include "base/clock.hpp"
#include "base/saturating.hpp"
#include "core/envelope.hpp"
#include "crypto/random.hpp"
#include "tct/grant_text.hpp"

namespace zelk {

TctIssueParams new_tct_issue_params(const SigningKey& signer) {
  return TctIssueParams{.signer = signer};
}

TctIssueParams set_issue_grants(TctIssueParams params, std::vector<std::string> grants) {
  params.grants = std::move(grants);
  return params;
}

std::expected<MintedTct, TctError> mint_tct(TctIssueParams params) {
  using Kind = TctError::Kind;
  if (!params.subject) return std::unexpected(TctError::missing_field("subject"));
  if (!params.audience) return std::unexpected(TctError::missing_field("audience"));
  if (!params.subject_pubkey) return std::unexpected(TctError::missing_field("subject_pubkey"));
  if (params.grants.empty()) return std::unexpected(TctError::of(Kind::EmptyGrants));
  for (const std::string& grant : params.grants)
    if (has_white_space(grant)) return std::unexpected(TctError::whitespace_in_grant(grant));
  if (*params.subject != *params.audience)
    return std::unexpected(TctError::of(Kind::AudienceMismatch));
  // The AID's embedded key must be the key given; a key of the other suite differs in length.
  const Bytes named = aid_public_key_bytes(*params.subject);
  const ByteView given = params.subject_pubkey->bytes();
  if (!std::ranges::equal(named, given)) return std::unexpected(TctError::of(Kind::CnfMismatch));
  auto jkt = jwk_thumbprint(*params.subject_pubkey);
  if (!jkt) return std::unexpected(TctError::wrap(std::move(jkt.error())));

  const Uuid jti = fresh_uuid_or_invariant(params.jti);
  const std::int64_t iat = now_or_invariant(params.iat, kClockFailedText);
  const std::int64_t exp = saturating_add(iat, params.ttl_secs);

  const SigningKey& signer = params.signer.get();
  TctClaims claims{
      .ver = std::string(kProtocolVersion),
      .jti = jti,
      .iss = signer.aid(),
      .sub = *params.subject,
      .aud = std::move(*params.audience),
      .iat = iat,
      .exp = exp,
      .grants = params.grants,
      .cnf = Cnf{std::move(*jkt)},
      .ext = std::nullopt,
  };
  auto tct = encode_tct_jws(signer, claims);
  if (!tct) return std::unexpected(TctError::wrap(std::move(tct.error())));

  std::optional<std::string> voucher;
  if (params.with_voucher) {
    const GrantVoucherClaims voucher_claims{
        .ver = std::string(kProtocolVersion),
        .iss = signer.aid(),
        .sub = std::move(*params.subject),
        .grants = std::move(params.grants),
        .iat = iat,
        .exp = exp,
        .src_jti = jti,
        .ext = std::nullopt,
    };
    auto encoded = encode_grant_voucher_jws(signer, voucher_claims);
    if (!encoded) return std::unexpected(TctError::wrap(std::move(encoded.error())));
    voucher = std::move(*encoded);
  }
  return MintedTct{std::move(*tct), std::move(claims), std::move(voucher)};
}

}  // namespace zelk
