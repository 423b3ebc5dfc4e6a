#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "delegation/delegation_error.hpp"
#include "python/runtime/python.hpp"

namespace zelk::py {

// The hop limit of verify_delegation_multihop when the caller gives none.
inline constexpr std::uint64_t DEFAULT_MAX_DELEGATION_HOPS = 3;
// The lifetime of a built delegation, and of a TCT issued for a delegatee, when none is given.
inline constexpr std::int64_t kDefaultDelegationTtlSecs = 3600;

// A single-hop delegation token from `signer` to `delegatee` under the voucher the signer holds:
// the voucher is read (not verified) and must name the signer as its subject; the scope must be
// non-empty and within its grants; the token expires at now + ttl (saturating) or with the
// voucher, whichever is sooner. No jti, chain or chain_hash.
std::expected<std::string, DelegationError> build_single_hop_delegation(
    const SigningKey& signer, std::string_view voucher_token, const Aid& delegatee,
    std::span<const std::string> scope, std::int64_t ttl_secs, std::int64_t now);

// The ZelkAgent methods build_delegation and issue_tct_for_delegatee.
PyMethodDef agent_build_delegation_method();
PyMethodDef agent_issue_tct_for_delegatee_method();

// The module functions verify_delegation and verify_delegation_multihop.
PyMethodDef& verify_delegation_function();
PyMethodDef& verify_delegation_multihop_function();

}  // namespace zelk::py
