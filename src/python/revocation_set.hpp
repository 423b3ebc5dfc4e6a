#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "delegation/verify.hpp"
#include "formats/uuid.hpp"
#include "python/runtime/binder.hpp"
#include "python/runtime/error.hpp"
#include "tct/revocation_check.hpp"

namespace zelk::py {

// The caller's `revoked_jtis` for one call, read in place. A set or frozenset of exact str
// objects is asked directly (for exact str, equal text is equal value, so the set's own lookup
// is the text match). Otherwise, when elements are str subclasses or come from an overridden
// iterator, the view keeps each element and a flat list of the UTF-8 texts the str objects hold.
class RevokedJtiView {
 public:
  const RevokedJtiSet& set() const { return set_; }

 private:
  friend Result<std::optional<RevokedJtiView>> extract_revoked_jtis(const BoundArgs& args,
                                                                    std::size_t i);
  RevokedJtiView() = default;

  OwnedRef container_;
  std::vector<OwnedRef> items_;
  RevokedJtiSet set_;
};

// The `revoked_jtis` argument at position `i`: absent or None gives no set; a set or frozenset
// (or a subclass of either) of str gives their UTF-8 texts exactly as passed, so an empty set is
// a set. Elements are type-checked and encoded in iteration order; no text is copied. Every other
// value is refused with the argument's note.
[[nodiscard]] Result<std::optional<RevokedJtiView>> extract_revoked_jtis(const BoundArgs& args,
                                                                         std::size_t i);

// The set, or null when the argument was not given.
inline const RevokedJtiSet* set_or_null(const std::optional<RevokedJtiView>& view) {
  return view ? &view->set() : nullptr;
}

// A revocation check over `set` without copying it: the set is read-only for the call and must
// outlive the check. Holds one pointer, so making it allocates nothing.
RevocationCheck revocation_check_over(const RevokedJtiSet& set);

// A delegation hop is tested by its identifier alone, whoever issued it.
[[nodiscard]] inline bool hop_jti_in_revoked_set(const RevokedJtiSet& set,
                                                 std::string_view /*issuer*/, const Uuid& jti) {
  return jti_in_revoked_set(set, jti);
}

// The hop check over `set`, sharing it as revocation_check_over does.
HopRevocationCheck hop_revocation_check_over(const RevokedJtiSet& set);

}  // namespace zelk::py
