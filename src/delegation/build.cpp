// Building a first-hop delegation from the grant voucher its signer holds.
#include <algorithm>
#include <utility>
#include <vector>

#include "base/saturating.hpp"
#include "core/envelope.hpp"
#include "delegation/claims.hpp"
#include "delegation/precheck.hpp"
#include "tct/verify.hpp"

namespace zelk {
namespace {

using Kind = DelegationError::Kind;

[[nodiscard]] std::unexpected<DelegationError> refuse(Kind kind) {
  return std::unexpected(DelegationError::of(kind));
}

}  // namespace

std::expected<GrantVoucherClaims, DelegationError> read_held_voucher(std::string_view token) {
  auto parsed = ParsedGrantVoucher::parse(token);
  if (!parsed) return std::unexpected(DelegationError::wrap(std::move(parsed.error())));
  if (auto ok = check_token_claims(*parsed, "voucher: "); !ok)
    return std::unexpected(std::move(ok.error()));
  return *parsed->claims();
}

std::expected<std::string, DelegationError> build_single_hop_delegation(
    const SigningKey& signer, std::string_view voucher_token, const Aid& delegatee,
    std::span<const std::string> scope, std::int64_t ttl_secs, std::int64_t now) {
  auto voucher = read_held_voucher(voucher_token);
  if (!voucher) return std::unexpected(std::move(voucher.error()));
  if (voucher->sub != signer.aid()) return refuse(Kind::VoucherInvalid);
  if (scope.empty()) return refuse(Kind::EmptyScope);
  if (delegatee == signer.aid()) return refuse(Kind::SelfDelegation);
  const std::vector<std::string>& grants = voucher->grants;
  if (grants.empty() || !std::ranges::all_of(scope, [&](const std::string& entry) {
        return std::ranges::find(grants, entry) != grants.end();
      }))
    return refuse(Kind::ScopeExceedsGrant);

  auto jkt = aid_thumbprint(delegatee);
  if (!jkt) return std::unexpected(DelegationError::wrap(std::move(jkt.error())));

  DelegationClaims claims;
  claims.ver = std::string(kProtocolVersion);
  claims.iss = signer.aid();
  claims.sub = delegatee;
  claims.aud = std::move(voucher->iss);
  claims.scope.assign(scope.begin(), scope.end());
  claims.exp = std::min(saturating_add(now, ttl_secs), voucher->exp);
  claims.cnf.jkt = std::move(*jkt);
  claims.voucher = std::string(voucher_token);
  auto token = build_delegation_token(signer, claims);
  if (!token) return std::unexpected(DelegationError::wrap(std::move(token.error())));
  return std::move(*token);
}

}  // namespace zelk
