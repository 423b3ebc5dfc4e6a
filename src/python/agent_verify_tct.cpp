// ZelkAgent.verify_tct and verify_tct_cached: a presented TCT checked against this agent (or a
// given audience) and a required grant, directly or through a TctStore.
#include <optional>
#include <string_view>

#include "python/agent.hpp"
#include "python/results.hpp"
#include "python/revocation_set.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "python/tct_cache.hpp"
#include "python/tct_verify.hpp"

namespace zelk::py {
namespace {

constexpr Signature kVerifyTct{
    "ZelkAgent",
    "verify_tct",
    2,
    {"tct_token", "required_grant", "expected_audience", "revoked_jtis"}};
constexpr Signature kVerifyTctCached{
    "ZelkAgent",
    "verify_tct_cached",
    3,
    {"tct_token", "required_grant", "store", "expected_audience", "revoked_jtis"}};

[[nodiscard]] Result<OwnedRef> verify_tct(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyTct, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(std::string_view token, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view grant, arg(args, 1, to_text));
  ZELK_PY_TRY(std::optional<std::string_view> audience, optional_arg(args, 2, to_text));
  ZELK_PY_TRY(std::optional<RevokedJtiView> revoked, extract_revoked_jtis(args, 3));
  ZELK_PY_TRY(TctIdentity identity,
              verify_tct_and_grant(*agent, token, grant, audience, set_or_null(revoked)));
  return wrap_tct_identity(std::move(identity));
}

[[nodiscard]] Result<OwnedRef> verify_tct_cached(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyTctCached, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(std::string_view token, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view grant, arg(args, 1, to_text));
  ZELK_PY_TRY(BorrowedRef store_obj, arg(args, 2, to_tct_store));
  ZELK_PY_TRY(auto store, borrow_shared<TctStoreCell>(store_obj));
  ZELK_PY_TRY(std::optional<std::string_view> audience, optional_arg(args, 3, to_text));
  ZELK_PY_TRY(std::optional<RevokedJtiView> revoked, extract_revoked_jtis(args, 4));
  ZELK_PY_TRY(TctIdentity identity,
              tct_store_verify(*agent, token, grant, *store, audience, set_or_null(revoked)));
  return wrap_tct_identity(std::move(identity));
}

}  // namespace

PyMethodDef agent_verify_tct_method() {
  return method<verify_tct>(
      "verify_tct",
      "verify_tct($self, tct_token, required_grant, expected_audience=None, revoked_jtis=None)\n"
      "--\n\n"
      "Verifies the TCT compact JWS `tct_token` and requires `required_grant` among its\n"
      "grants. The token must be addressed to `expected_audience` (an AID; by default this\n"
      "agent) and be valid now; a `jti` listed in `revoked_jtis` (a set of lower-case\n"
      "hyphenated UUID strings) is refused. Returns the `TctIdentity` of the issuer; raises\n"
      "ValueError for an unreadable token and RuntimeError for one that fails.");
}

PyMethodDef agent_verify_tct_cached_method() {
  return method<verify_tct_cached>(
      "verify_tct_cached",
      "verify_tct_cached($self, tct_token, required_grant, store, expected_audience=None, "
      "revoked_jtis=None)\n"
      "--\n\n"
      "As `verify_tct`, through the `TctStore` `store`: a token verified before skips the\n"
      "signature check, while revocation, audience, expiry and the grant are checked again;\n"
      "any other token is verified in full and stored on success.");
}

}  // namespace zelk::py
