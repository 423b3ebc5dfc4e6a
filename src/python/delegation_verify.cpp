// verify_delegation and verify_delegation_multihop: the grantor's check of a delegation token
// presented to it, single hop only or along a chain up to a hop limit.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/aid.hpp"
#include "delegation/verify.hpp"
#include "python/clock.hpp"
#include "python/delegation.hpp"
#include "python/results.hpp"
#include "python/revocation_set.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"

namespace zelk::py {
namespace {

constexpr Signature kVerifyDelegation{
    "", "verify_delegation", 2, {"delegation_token", "verifier_aid", "revoked_jtis"}};
constexpr Signature kVerifyDelegationMultihop{
    "",
    "verify_delegation_multihop",
    2,
    {"delegation_token", "verifier_aid", "max_delegation_hops", "revoked_jtis"}};

[[nodiscard]] Result<Aid> parse_verifier_aid(std::string_view text) {
  auto aid = parse_aid(text);
  if (!aid) return fail(PyError::value_error("invalid verifier AID: " + aid.error().message()));
  return std::move(*aid);
}

DelegationVerified to_delegation_verified(const VerifiedDelegation& verified) {
  const DelegationClaims& claims = verified.claims();
  return DelegationVerified{
      .delegator = verified.voucher().iss.text(),
      .delegatee = claims.sub.text(),
      .issued_by = claims.iss.text(),
      .grants = claims.scope,
      .expires_at = claims.exp,
      .cnf = claims.cnf.jkt,
  };
}

// The common road of both functions; only the multi-hop one hands over the hop check.
[[nodiscard]] Result<OwnedRef> verify(std::string_view token, std::string_view verifier_text,
                                      bool multihop, std::uint64_t max_hops,
                                      const std::optional<RevokedJtiView>& view) {
  const RevokedJtiSet* revoked = set_or_null(view);
  ZELK_PY_TRY(Aid verifier, parse_verifier_aid(verifier_text));
  // Both checks share the caller's set, read-only for this call.
  RevocationCheck root;
  HopRevocationCheck hop;
  if (revoked) {
    root = revocation_check_over(*revoked);
    hop = hop_revocation_check_over(*revoked);
  }
  ZELK_PY_TRY(std::int64_t now, system_now_secs());
  const DelegationVerifyOptions options{
      .verifier = verifier,
      .now = now,
      .max_hops = max_hops,
      .revocation = revoked ? &root : nullptr,
      .hop_revocation = revoked && multihop ? &hop : nullptr,
  };
  auto verified = verify_delegation_token(token, options);
  if (!verified)
    return fail(
        PyError::runtime_error("delegation verification failed: " + verified.error().message()));
  return wrap_delegation_verified(to_delegation_verified(*verified));
}

[[nodiscard]] Result<OwnedRef> verify_delegation(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyDelegation, call));
  ZELK_PY_TRY(std::string_view token, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view verifier, arg(args, 1, to_text));
  ZELK_PY_TRY(std::optional<RevokedJtiView> revoked, extract_revoked_jtis(args, 2));
  return verify(token, verifier, false, 0, revoked);
}

[[nodiscard]] Result<OwnedRef> verify_delegation_multihop(Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kVerifyDelegationMultihop, call));
  ZELK_PY_TRY(std::string_view token, arg(args, 0, to_text));
  ZELK_PY_TRY(std::string_view verifier, arg(args, 1, to_text));
  ZELK_PY_TRY(std::uint64_t max_hops, arg_or(args, 2, to_u64, DEFAULT_MAX_DELEGATION_HOPS));
  ZELK_PY_TRY(std::optional<RevokedJtiView> revoked, extract_revoked_jtis(args, 3));
  return verify(token, verifier, true, max_hops, revoked);
}

}  // namespace

PyMethodDef& verify_delegation_function() {
  static PyMethodDef def = module_function<verify_delegation>(
      "verify_delegation",
      "verify_delegation(delegation_token, verifier_aid, revoked_jtis=None)\n--\n\n"
      "Verifies a single-hop delegation token presented to the agent `verifier_aid`, which\n"
      "must be its audience and the issuer of the grant voucher it carries. A voucher whose\n"
      "`src_jti` is in `revoked_jtis` (a set of lower-case hyphenated UUID strings) is\n"
      "refused. Returns a `DelegationVerified`; raises ValueError for a malformed AID and\n"
      "RuntimeError for a token that fails.");
  return def;
}

PyMethodDef& verify_delegation_multihop_function() {
  static PyMethodDef def = module_function<verify_delegation_multihop>(
      "verify_delegation_multihop",
      "verify_delegation_multihop(delegation_token, verifier_aid, max_delegation_hops=..., "
      "revoked_jtis=None)\n--\n\n"
      "As `verify_delegation`, but also accepts a token that carries a chain of earlier\n"
      "delegation tokens: a chain of n entries needs n + 2 <= `max_delegation_hops` (3 by\n"
      "default, so one entry; 0 allows single hops only). Every hop is verified, and the\n"
      "`jti` of each hop is looked up in `revoked_jtis` as well.");
  return def;
}

}  // namespace zelk::py
