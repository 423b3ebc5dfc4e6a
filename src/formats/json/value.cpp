#include "formats/json/value.hpp"

#include <algorithm>
#include <limits>

#include "formats/json/name_hash.hpp"

namespace zelk::json {

std::size_t Object::find_position(std::string_view name) const {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  if (index_.empty()) {
    for (std::size_t i = 0; i < members_.size(); ++i)
      if (members_[i].name == name) return i;
    return kNone;
  }
  const std::size_t mask = index_.size() - 1;
  for (std::size_t slot = hash_member_name(name) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = index_[slot];
    if (entry == 0) return kNone;
    if (members_[entry - 1].name == name) return entry - 1;
  }
}

void Object::index_insert(std::size_t position) {
  const std::size_t mask = index_.size() - 1;
  std::size_t slot = hash_member_name(members_[position].name) & mask;
  while (index_[slot] != 0) slot = (slot + 1) & mask;
  index_[slot] = static_cast<std::uint32_t>(position + 1);
}

void Object::rebuild_index() {
  // Beyond 32-bit positions the index cannot hold them; such objects fall back to scanning.
  if (members_.size() < kIndexFrom ||
      members_.size() >= std::numeric_limits<std::uint32_t>::max() / 4) {
    index_.clear();
    return;
  }
  std::size_t slots = 64;
  while (slots < members_.size() * 2) slots *= 2;
  index_.assign(slots, 0);
  for (std::size_t i = 0; i < members_.size(); ++i) index_insert(i);
}

const Value* Object::find(std::string_view name) const {
  const std::size_t i = find_position(name);
  return i < members_.size() ? &members_[i].value : nullptr;
}

Value* Object::find(std::string_view name) {
  const std::size_t i = find_position(name);
  return i < members_.size() ? &members_[i].value : nullptr;
}

Value& Object::insert_or_assign(std::string name, Value value) {
  if (Value* existing = find(name)) {
    *existing = std::move(value);
    return *existing;
  }
  return push_back_unchecked(std::move(name), std::move(value));
}

Value& Object::push_back_unchecked(std::string name, Value value) {
  // Objects of protocol texts hold a handful of members: room for a few saves regrowing twice.
  if (members_.capacity() == 0) members_.reserve(kFirstCapacity);
  members_.push_back(Member{std::move(name), std::move(value)});
  if (index_.empty()) {
    if (members_.size() >= kIndexFrom) rebuild_index();
  } else if (members_.size() * 2 > index_.size()) {
    rebuild_index();
  } else {
    index_insert(members_.size() - 1);
  }
  return members_.back().value;
}

void Object::sort_by_name() {
  std::sort(members_.begin(), members_.end(),
            [](const Member& a, const Member& b) { return a.name < b.name; });
  rebuild_index();
}

double Value::number_as_double() const {
  switch (kind()) {
    case Kind::PosInt:
      return static_cast<double>(as_pos_int());
    case Kind::NegInt:
      return static_cast<double>(as_neg_int());
    case Kind::Float:
      return as_float();
    default:
      return 0.0;
  }
}

}  // namespace zelk::json
