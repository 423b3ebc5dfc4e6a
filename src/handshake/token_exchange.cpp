#include "handshake/token_exchange.hpp"

#include <algorithm>
#include <utility>

#include "base/saturating.hpp"
#include "crypto/detached.hpp"
#include "formats/base64url.hpp"
#include "handshake/grants.hpp"

namespace zelk {

namespace {

using Kind = HandshakeError::Kind;

[[nodiscard]] std::unexpected<HandshakeError> fail(Kind kind) {
  return std::unexpected(HandshakeError::of(kind));
}

[[nodiscard]] std::unexpected<HandshakeError> tct_failure(TctError error) {
  return std::unexpected(HandshakeError::wrap(std::move(error)));
}

bool mirrors(const GrantVoucherClaims& voucher, const TctClaims& tct) {
  return voucher.sub == tct.sub && voucher.grants == tct.grants && voucher.iat == tct.iat &&
         voucher.exp == tct.exp && voucher.src_jti == tct.jti;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::ranges::find(list, item) != list.end();
}

}  // namespace

std::expected<MintedTct, HandshakeError> issue_peer_tct(
    const HandshakeContext& context, const IdentityDescriptor& peer_identity, const Aid& peer_aid,
    const VerifyingKey& peer_key, const std::vector<std::string>& requested_grants) {
  std::vector<std::string> grants =
      intersect_grants(requested_grants, context.own_manifest.offered_capabilities);
  if (context.grant_policy) grants = (*context.grant_policy)(peer_identity, grants);
  if (grants.empty()) return fail(Kind::PolicyDenied);

  const std::int64_t end = std::min(context.own_manifest.expires_at,
                                    saturating_add(context.now, kHandshakeTctMaxLifetimeSecs));
  const std::int64_t lifetime = saturating_sub(end, context.now);
  if (lifetime <= 0)
    return std::unexpected(
        HandshakeError::invalid_envelope("issuing peer's manifest is expired; cannot issue TCT"));

  TctIssueParams params = new_tct_issue_params(context.signing_key);
  params.subject = peer_aid;
  params.audience = peer_aid;
  params.subject_pubkey = peer_key;
  params.grants = std::move(grants);
  params.iat = context.now;
  params.ttl_secs = lifetime;
  params.with_voucher = true;
  auto minted = mint_tct(std::move(params));
  if (!minted) return tct_failure(std::move(minted.error()));
  return std::move(*minted);
}

std::expected<PeerTctCheck, HandshakeError> verify_peer_tct_and_voucher(
    std::string_view tct, const std::optional<std::string>& voucher,
    const HandshakeContext& context, const Aid& peer_aid, std::int64_t peer_manifest_expires_at,
    const std::vector<std::string>& peer_offered_capabilities) {
  const TctVerifyOptions options{.issuer = peer_aid,
                                 .expected_audience = context.own_manifest.aid,
                                 .now = context.now,
                                 .manifest_expires_at = peer_manifest_expires_at,
                                 .revocation = nullptr,
                                 .clock_skew_secs = 0};
  auto verified = verify_tct_jws(tct, options);
  if (!verified) return tct_failure(std::move(verified.error()));
  const TctClaims& claims = verified->claims();

  if (voucher) {
    auto voucher_claims = verify_grant_voucher_jws(*voucher, peer_aid);
    if (!voucher_claims) return tct_failure(std::move(voucher_claims.error()));
    if (!mirrors(voucher_claims->claims(), claims))
      return tct_failure(
          TctError::claims_malformed("grant voucher does not mirror the companion TCT"));
  }

  for (const std::string& grant : claims.grants)
    if (!contains(peer_offered_capabilities, grant)) return fail(Kind::GrantsExceedOffer);

  std::optional<std::vector<std::string>> restricted;
  if (context.tct_status_check) {
    auto status = (*context.tct_status_check)(claims.iss, claims.jti);
    if (!status) return std::unexpected(std::move(status.error()));
    switch (status->kind) {
      case TctStatus::Kind::Unchanged:
        break;
      case TctStatus::Kind::Revoked:
        return tct_failure(TctError::of(TctError::Kind::JtiRevoked));
      case TctStatus::Kind::Restricted:
        restricted = intersect_grants(claims.grants, status->grants);
        if (restricted->empty()) return fail(Kind::PolicyDenied);
        break;
    }
  }

  const std::vector<std::string>& effective = restricted ? *restricted : claims.grants;
  const auto& required = context.own_manifest.required_peer_capabilities;
  if (required)
    for (const std::string& grant : *required)
      if (!contains(effective, grant)) return fail(Kind::InsufficientGrants);

  return PeerTctCheck{std::move(*verified), std::move(restricted)};
}

std::expected<std::string, HandshakeError> sign_pop(const SigningKey& key,
                                                    std::string_view peer_nonce) {
  auto nonce = b64url_decode(peer_nonce);
  if (!nonce)
    return std::unexpected(HandshakeError::invalid_envelope("pop nonce is not valid base64url"));
  return sign_detached(key, *nonce);
}

std::expected<void, HandshakeError> verify_pop(const VerifyingKey& peer_key,
                                               std::string_view own_nonce,
                                               std::string_view pop_signature) {
  auto nonce = b64url_decode(own_nonce);
  if (!nonce || !verify_detached(peer_key, *nonce, pop_signature)) return fail(Kind::PopSignature);
  return {};
}

}  // namespace zelk
