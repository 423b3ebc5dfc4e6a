// ZelkAgent.build_renewal_request and process_renewal_request: the two sides of renewing a TCT in
// band, the holder proving possession of the token's key over a fresh nonce.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "crypto/random.hpp"
#include "python/agent.hpp"
#include "python/clock.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/convert.hpp"
#include "python/runtime/entries.hpp"
#include "tct/renew.hpp"
#include "tct/tct_envelope.hpp"

namespace zelk::py {
namespace {

constexpr Signature kBuildRenewalRequest{
    "ZelkAgent", "build_renewal_request", 1, {"current_tct_envelope_json"}};
constexpr Signature kProcessRenewalRequest{
    "ZelkAgent",
    "process_renewal_request",
    3,
    {"request_payload_json", "manifest_exp_unix_secs", "new_ttl_secs"}};

constexpr std::size_t kRenewalNonceBytes = 16;

[[nodiscard]] Result<OwnedRef> build_renewal_request(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kBuildRenewalRequest, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  // Placed in the request as given: the holder passes the `tct` of the envelope it holds.
  ZELK_PY_TRY(std::string_view current_tct, arg(args, 0, to_text));

  std::array<std::uint8_t, kRenewalNonceBytes> nonce{};
  if (auto drawn = random_bytes(nonce); !drawn)
    return fail(PyError::runtime_error("rng failure: " + drawn.error().message()));
  const TctRenewalPayload payload =
      build_renewal_payload(std::string(current_tct), nonce, *agent->key);
  return py_str(write_renewal_payload(payload));
}

[[nodiscard]] Result<OwnedRef> process_renewal_request(BorrowedRef self, Call call) {
  ZELK_PY_TRY(BoundArgs args, bind(kProcessRenewalRequest, call));
  ZELK_PY_TRY(auto agent, borrow_shared<AgentCell>(self));
  ZELK_PY_TRY(std::string_view text, arg(args, 0, to_text));
  ZELK_PY_TRY(std::int64_t manifest_expires_at, arg(args, 1, to_i64));
  ZELK_PY_TRY(std::int64_t new_ttl_secs, arg(args, 2, to_i64));

  auto payload = read_renewal_payload(text);
  if (!payload)
    return fail(PyError::value_error("invalid renewal payload JSON: " + payload.error().full()));
  ZELK_PY_TRY(std::int64_t now, system_now_secs());
  auto renewed = renew_tct(*payload, *agent->key, manifest_expires_at, now, new_ttl_secs);
  if (!renewed)
    return fail(PyError::runtime_error("renewal request rejected: " + renewed.error().message()));
  return py_str(write_tct_envelope(renewed->tct, renewed->grant_voucher));
}

}  // namespace

PyMethodDef agent_build_renewal_request_method() {
  return method<build_renewal_request>(
      "build_renewal_request",
      "build_renewal_request($self, current_tct_envelope_json)\n"
      "--\n\n"
      "The holder's side of renewal: a TctRenewalPayload JSON text for the TCT compact JWS\n"
      "`current_tct_envelope_json` (the `tct` member of the envelope held, placed unchanged),\n"
      "proving possession of this agent's key by signing 16 fresh random bytes. Send it to\n"
      "the TCT's issuer.");
}

PyMethodDef agent_process_renewal_request_method() {
  return method<process_renewal_request>(
      "process_renewal_request",
      "process_renewal_request($self, request_payload_json, manifest_exp_unix_secs, "
      "new_ttl_secs)\n"
      "--\n\n"
      "The issuer's side of renewal: checks that the presented TCT was issued by this agent\n"
      "and is valid now, and that the requester holds its subject's key; then returns the\n"
      "TctEnvelope JSON of a new TCT and grant voucher for the same subject and grants, valid\n"
      "for `new_ttl_secs` but never beyond `manifest_exp_unix_secs`.\n"
      "\n"
      "Revocation is not consulted: whom to renew is the issuing application's decision, so\n"
      "check the presented token's `jti` against your own revocations before calling this.\n"
      "Nothing is remembered, and the presented TCT stays valid until its own expiry.");
}

}  // namespace zelk::py
