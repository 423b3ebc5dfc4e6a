#include "formats/json/value.hpp"

namespace zelk::json {

const Value* Object::find(std::string_view name) const {
  for (const Member& m : members_)
    if (m.name == name) return &m.value;
  return nullptr;
}

Value* Object::find(std::string_view name) {
  for (Member& m : members_)
    if (m.name == name) return &m.value;
  return nullptr;
}

Value& Object::insert_or_assign(std::string name, Value value) {
  if (Value* existing = find(name)) {
    *existing = std::move(value);
    return *existing;
  }
  return push_back_unchecked(std::move(name), std::move(value));
}

Value& Object::push_back_unchecked(std::string name, Value value) {
  members_.push_back(Member{std::move(name), std::move(value)});
  return members_.back().value;
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
