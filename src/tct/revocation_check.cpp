#include "tct/revocation_check.hpp"

#include <array>
#include <memory>
#include <utility>

namespace zelk {
RevokedJtiSet::RevokedJtiSet(std::initializer_list<std::string_view> texts) {
  owned_.reserve(texts.size());
  for (std::string_view text : texts) owned_.emplace(text);
}

RevokedJtiSet RevokedJtiSet::borrowing(std::vector<std::string_view> texts) {
  RevokedJtiSet set;
  set.borrowed_ = std::move(texts);
  return set;
}

RevokedJtiSet RevokedJtiSet::looked_up(Lookup lookup, const void* context) {
  RevokedJtiSet set;
  set.lookup_ = lookup;
  set.context_ = context;
  return set;
}

void RevokedJtiSet::clear() {
  owned_.clear();
  borrowed_.clear();
  lookup_ = nullptr;
  context_ = nullptr;
}

bool RevokedJtiSet::contains(std::string_view text) const {
  if (!owned_.empty() && owned_.find(text) != owned_.end()) return true;
  // One pass over the borrowed texts: cheaper than hashing every one of them for a single query.
  for (std::string_view item : borrowed_)
    if (item == text) return true;
  return lookup_ != nullptr && lookup_(context_, text);
}

bool jti_in_revoked_set(const RevokedJtiSet& set, const Uuid& jti) {
  if (set.empty()) return false;
  std::array<char, 36> buf;  // the hyphenated text, without allocating
  const char* end = jti.write_to(buf.data());
  return set.contains(std::string_view(buf.data(), static_cast<std::size_t>(end - buf.data())));
}

RevocationCheck revocation_check_from_set(RevokedJtiSet set) {
  auto owned = std::make_shared<const RevokedJtiSet>(std::move(set));
  return [owned = std::move(owned)](const Uuid& jti) { return jti_in_revoked_set(*owned, jti); };
}

}  // namespace zelk
