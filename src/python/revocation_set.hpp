#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "delegation/verify.hpp"
#include "formats/uuid.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/error.hpp"
#include "tct/revocation_check.hpp"

namespace zelk::py {

// The `revoked_jtis` argument at position `i`: absent or None gives no set; a set or frozenset
// (or a subclass of either) of str gives their UTF-8 texts exactly as passed, so an empty set is
// a set. Every other value is refused with the argument's note.
Result<std::optional<RevokedJtiSet>> extract_revoked_jtis(const BoundArgs& args, std::size_t i);

// A revocation check over `set` without copying it: the set is read-only for the call and must
// outlive the check. Holds one pointer, so making it allocates nothing.
RevocationCheck revocation_check_over(const RevokedJtiSet& set);

// A delegation hop is tested by its identifier alone, whoever issued it.
inline bool hop_jti_in_revoked_set(const RevokedJtiSet& set, std::string_view /*issuer*/,
                                   const Uuid& jti) {
  return jti_in_revoked_set(set, jti);
}

// The hop check over `set`, sharing it as revocation_check_over does.
HopRevocationCheck hop_revocation_check_over(const RevokedJtiSet& set);

}  // namespace zelk::py
