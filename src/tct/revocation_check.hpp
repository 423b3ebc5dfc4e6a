#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

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

// Revoked identifiers as the caller listed them; nothing is normalised. The set owns its texts
// (hashed), or borrows texts kept alive elsewhere, or asks a lookup function of the caller's: a
// caller that asks about one or a few identifiers per set is served best by what it need not copy.
class RevokedJtiSet {
 public:
  // Whether `text` is in the caller's collection; must not throw.
  using Lookup = bool (*)(const void* context, std::string_view text) noexcept;

  RevokedJtiSet() = default;
  RevokedJtiSet(std::initializer_list<std::string_view> texts);
  // A set over `texts` without copying them; each must outlive every use of the set.
  static RevokedJtiSet borrowing(std::vector<std::string_view> texts);
  // A set answered by `lookup(context, text)`; the context must outlive every use of the set.
  static RevokedJtiSet looked_up(Lookup lookup, const void* context);

  void clear();
  // True for an empty owned or borrowed set; a looked-up set is never known to be empty.
  bool empty() const { return owned_.empty() && borrowed_.empty() && lookup_ == nullptr; }
  bool contains(std::string_view text) const;

 private:
  std::unordered_set<std::string, RevokedTextHash, std::equal_to<>> owned_;
  std::vector<std::string_view> borrowed_;
  Lookup lookup_ = nullptr;
  const void* context_ = nullptr;
};

// True exactly when the identifier's 36-character lower-case hyphenated text is in the set, so an
// entry in upper case, without hyphens or in braces never matches.
[[nodiscard]] bool jti_in_revoked_set(const RevokedJtiSet& set, const Uuid& jti);

// A check that owns the set (shared read-only between copies of the check).
RevocationCheck revocation_check_from_set(RevokedJtiSet set);

}  // namespace zelk
