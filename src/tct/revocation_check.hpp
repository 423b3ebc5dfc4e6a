#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "formats/uuid.hpp"

namespace zelk {

// Says whether a token identifier is revoked. Verifiers borrow it for one call, consult it only
// after every other check, and treat an empty function as no check. It must not throw.
using RevocationCheck = std::function<bool(const Uuid& jti)>;

struct RevokedTextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

// Revoked identifiers as the caller listed them; nothing is normalised.
using RevokedJtiSet = std::unordered_set<std::string, RevokedTextHash, std::equal_to<>>;

// True exactly when the identifier's 36-character lower-case hyphenated text is in the set, so an
// entry in upper case, without hyphens or in braces never matches.
bool jti_in_revoked_set(const RevokedJtiSet& set, const Uuid& jti);

// A check that owns the set (shared read-only between copies of the check).
RevocationCheck revocation_check_from_set(RevokedJtiSet set);

}  // namespace zelk
