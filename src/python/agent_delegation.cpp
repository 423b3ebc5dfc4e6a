// ZelkAgent.build_delegation and issue_tct_for_delegatee: passing granted capabilities on to a
// third agent, and, at the grantor, minting that agent its own TCT once the delegation verified.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "delegation/claims.hpp"
#include "python/agent.hpp"
#include "python/clock.hpp"
#include "python/delegation.hpp"
#include "python/results.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "tct/claims.hpp"
#include "tct/mint.hpp"
#include "tct/tct_envelope.hpp"

namespace zelk::py {
namespace {

constexpr Signature kBuildDelegation{
    "ZelkAgent", "build_delegation", 3, {"voucher_token", "delegatee_aid", "scope", "ttl_secs"}};
constexpr Signature kIssueTctForDelegatee{
    "ZelkAgent", "issue_tct_for_delegatee", 1, {"verified", "ttl_secs"}};

[[nodiscard]] Result<Aid> parse_delegatee(std::string_view text) {
  auto aid = parse_aid(text);
  if (!aid) return fail(PyError::value_error("invalid delegatee AID: " + aid.error().message()));
  return std::move(*aid);
}

[[nodiscard]] Result<OwnedRef> build_delegation(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kBuildDelegation, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(std::string_view voucher, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view delegatee_text, arg(args, 1, to_text));
  ZELK_PY_TRY(std::vector<std::string> scope, arg(args, 2, to_text_list));
  ZELK_PY_TRY(std::optional<std::int64_t> ttl_secs, optional_arg(args, 3, to_i64));
  ZELK_PY_TRY(Aid delegatee, parse_delegatee(delegatee_text));
  ZELK_PY_TRY(std::int64_t now, system_now_secs());
  auto token = build_single_hop_delegation(*agent->key, voucher, delegatee, scope,
                                           ttl_secs.value_or(kDefaultDelegationTtlSecs), now);
  if (!token)
    return fail(PyError::runtime_error("delegation build failed: " + token.error().message()));
  return py_str(*token);
}

[[nodiscard]] Result<OwnedRef> issue_tct_for_delegatee(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kIssueTctForDelegatee, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(const DelegationVerified* verified, arg(args, 0, to_delegation_verified));
  ZELK_PY_TRY(std::optional<std::int64_t> ttl_secs, optional_arg(args, 1, to_i64));
  ZELK_PY_TRY(Aid delegatee, parse_delegatee(verified->delegatee));
  auto key = verifying_key_from_aid(delegatee);
  if (!key)
    return fail(
        PyError::value_error("delegatee AID has invalid key bytes: " + key.error().message()));

  TctIssueParams params = new_tct_issue_params(*agent->key);
  params.subject = delegatee;
  params.audience = std::move(delegatee);
  params.subject_pubkey = std::move(*key);
  params.grants = verified->grants;
  params.ttl_secs = ttl_secs.value_or(kDefaultDelegationTtlSecs);
  auto minted = mint_tct(std::move(params));
  if (!minted) return fail(PyError::runtime_error("TCT mint failed: " + minted.error().message()));
  return py_str(write_tct_envelope(minted->tct, minted->grant_voucher));
}

}  // namespace

PyMethodDef agent_build_delegation_method() {
  return method<build_delegation>(
      "build_delegation",
      "build_delegation($self, voucher_token, delegatee_aid, scope, ttl_secs=None)\n"
      "--\n\n"
      "Builds a single-hop delegation token (a compact JWS of type\n"
      "\"zelk-delegation+jwt\") that passes `scope`, a subset of the grants of the grant\n"
      "voucher `voucher_token` this agent holds, to the agent `delegatee_aid`. The token is\n"
      "addressed to the voucher's issuer, who verifies it with `verify_delegation`, and\n"
      "expires after `ttl_secs` (3600 by default) or with the voucher, whichever is sooner.\n"
      "Raises ValueError for a malformed AID and RuntimeError when the delegation is refused.");
}

PyMethodDef agent_issue_tct_for_delegatee_method() {
  return method<issue_tct_for_delegatee>(
      "issue_tct_for_delegatee",
      "issue_tct_for_delegatee($self, verified, ttl_secs=None)\n"
      "--\n\n"
      "Mints, with this agent's key, a TCT and grant voucher for the delegatee of the\n"
      "`DelegationVerified` `verified`, carrying its delegated grants and valid for\n"
      "`ttl_secs` (3600 by default). Returns JSON with the members \"tct\" and\n"
      "\"grant_voucher\".");
}

}  // namespace zelk::py
