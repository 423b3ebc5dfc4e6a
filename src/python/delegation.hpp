#pragma once

#include <cstdint>

#include "python/runtime/python.hpp"

namespace zelk::py {

// The hop limit of verify_delegation_multihop when the caller gives none.
inline constexpr std::uint64_t DEFAULT_MAX_DELEGATION_HOPS = 3;
// The lifetime of a built delegation, and of a TCT issued for a delegatee, when none is given.
inline constexpr std::int64_t kDefaultDelegationTtlSecs = 3600;

// The ZelkAgent methods build_delegation and issue_tct_for_delegatee.
PyMethodDef agent_build_delegation_method();
PyMethodDef agent_issue_tct_for_delegatee_method();

// The module functions verify_delegation and verify_delegation_multihop.
PyMethodDef& verify_delegation_function();
PyMethodDef& verify_delegation_multihop_function();

}  // namespace zelk::py
