#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/jws.hpp"
#include "crypto/verified.hpp"
#include "delegation/claims.hpp"
#include "delegation/delegation_error.hpp"
#include "formats/uuid.hpp"
#include "tct/claims.hpp"
#include "tct/revocation_check.hpp"
#include "tct/verify.hpp"

namespace zelk {

// Says whether one hop of a chain (its issuer's AID text and its jti) is revoked. Consulted only
// after every other check has passed; an empty function is no check. It must not throw.
using HopRevocationCheck = std::function<bool(std::string_view issuer, const Uuid& jti)>;

// What the verifying agent expects; everything is borrowed for the call.
//   DelegationVerifyOptions options{.verifier = me, .now = now, .max_hops = 3};
struct DelegationVerifyOptions {
  const Aid& verifier;  // every hop's audience and the voucher's issuer, compared as text
  std::int64_t now;
  // 0: single hop only; otherwise a chain of n entries needs n + 2 <= max_hops.
  std::uint64_t max_hops = 0;
  const RevocationCheck* revocation = nullptr;         // consulted with the root `src_jti`
  const HopRevocationCheck* hop_revocation = nullptr;  // consulted with each hop of a chain
};

// A delegation token taken apart and its claims read once, before any signature check.
using ParsedDelegation = ParsedToken<DelegationClaims>;

// A delegation token that passed verification, with the root voucher that authorised it. Only
// the verifier makes one.
class VerifiedDelegation {
 public:
  const std::string& token() const { return delegation_.token(); }         // as presented
  const DelegationClaims& claims() const { return delegation_.claims(); }  // the outer token's
  const GrantVoucherClaims& voucher() const { return voucher_.claims(); }  // the root voucher's

 private:
  friend struct VerifierOf<DelegationClaims>;
  VerifiedDelegation(Verified<DelegationClaims> delegation, VerifiedGrantVoucher voucher)
      : delegation_(std::move(delegation)), voucher_(std::move(voucher)) {}

  Verified<DelegationClaims> delegation_;
  VerifiedGrantVoucher voucher_;
};

// The claims of a delegation token without any signature check: header typ, payload decoding,
// repeated members at any depth, undeclared top-level members, then the strict read.
[[nodiscard]] std::expected<DelegationClaims, DelegationError> decode_delegation_unverified(
    std::string_view token);
// The same checks on a parsed token, whose claims are then good to read.
[[nodiscard]] std::expected<void, DelegationError> check_delegation_unverified(
    const ParsedDelegation& token);

// One hop's claims, signed by the key of its own `iss` and of the supported version.
[[nodiscard]] std::expected<DelegationClaims, DelegationError> verify_delegation_hop_jws(
    std::string_view token);

// A voucher issued and signed by the verifier to `delegator`, not expired at `now`.
[[nodiscard]] std::expected<VerifiedGrantVoucher, DelegationError> verify_hop_voucher(
    std::string_view voucher, const Aid& delegator, const Aid& verifier, std::int64_t now);

// The rules every hop obeys: audience, no self-delegation, non-empty scope, cnf of the subject.
[[nodiscard]] std::expected<void, DelegationError> check_delegation_hop(
    const DelegationClaims& claims, const Aid& expected_audience);

// A single hop (the token carries the verifier's voucher) or, when max_hops allows, a chain whose
// first hop carries it; the revocation checks run last.
[[nodiscard]] std::expected<VerifiedDelegation, DelegationError> verify_delegation_token(
    std::string_view token, const DelegationVerifyOptions& options);

}  // namespace zelk
