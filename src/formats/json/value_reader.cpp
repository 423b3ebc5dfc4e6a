#include "formats/json/value_reader.hpp"

namespace zelk::json {

Peek ValueReader::peek() const {
  switch (current_->kind()) {
    case Value::Kind::Null:
      return Peek::Null;
    case Value::Kind::Bool:
      return current_->as_bool() ? Peek::True : Peek::False;
    case Value::Kind::PosInt:
    case Value::Kind::NegInt:
    case Value::Kind::Float:
      return Peek::Number;
    case Value::Kind::String:
      return Peek::String;
    case Value::Kind::Array:
      return Peek::Array;
    case Value::Kind::Object:
      break;
  }
  return Peek::Object;
}

bool ValueReader::fail(std::string message) {
  if (failed_) return false;
  failed_ = true;
  error_.message = std::move(message);
  take_position_suffix(error_);
  return false;
}

bool ValueReader::invalid_type(const Expected& expected) {
  return fail(invalid_type_message(Found::of_value(*current_), expected));
}

bool ValueReader::read_string(std::string& out, const Expected& expected) {
  if (!current_->is_string()) return invalid_type(expected);
  out = current_->as_string();
  return true;
}

bool ValueReader::read_string_view(std::string_view& out, const Expected& expected) {
  if (!current_->is_string()) return invalid_type(expected);
  out = current_->as_string();
  return true;
}

bool ValueReader::read_bool(bool& out) {
  if (!current_->is_bool()) return invalid_type({"a boolean"});
  out = current_->as_bool();
  return true;
}

bool ValueReader::read_number(Number& out, const Expected& expected) {
  switch (current_->kind()) {
    case Value::Kind::PosInt:
      out = {.kind = Number::Kind::PosInt, .pos = current_->as_pos_int()};
      return true;
    case Value::Kind::NegInt:
      out = {.kind = Number::Kind::NegInt, .neg = current_->as_neg_int()};
      return true;
    case Value::Kind::Float:
      out = {.kind = Number::Kind::Float, .real = current_->as_float()};
      return true;
    default:
      return invalid_type(expected);
  }
}

bool ValueReader::read_value(Value& out) {
  out = *current_;
  return true;
}

bool ValueReader::read_object(Object& out, const Expected& expected) {
  if (!current_->is_object()) return invalid_type(expected);
  out = current_->as_object();
  return true;
}

bool ValueReader::read_unit_variant(std::span<const std::string_view> names, std::size_t& index) {
  auto lookup = [&](std::string_view text) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == text) {
        index = i;
        return true;
      }
    }
    return fail(unknown_variant_message(text, names));
  };
  if (current_->is_string()) return lookup(current_->as_string());
  if (!current_->is_object()) return invalid_type({"string or map"});
  const Object& object = current_->as_object();
  if (object.size() != 1)
    return fail(invalid_value_message(Found::map(), {"map with a single key"}));
  const Member& only = *object.begin();
  if (!lookup(only.name)) return false;
  if (!only.value.is_null())
    return fail(invalid_type_message(Found::of_value(only.value), {"unit"}));
  return true;
}

bool ValueReader::begin_object(ObjectCursor& cursor) {
  const Object& object = current_->as_object();
  cursor.next = object.begin();
  cursor.end = object.end();
  return true;
}

int ValueReader::next_key(ObjectCursor& cursor, std::string_view& name) {
  if (cursor.next == cursor.end) return 0;
  name = cursor.next->name;
  return 1;
}

bool ValueReader::begin_member_value(ObjectCursor& cursor) {
  current_ = &cursor.next->value;
  ++cursor.next;
  return true;
}

bool ValueReader::skip_member_value(ObjectCursor& cursor) {
  ++cursor.next;
  return true;
}

bool ValueReader::end_object(ObjectCursor&, bool ok) {
  return ok;
}

bool ValueReader::begin_array(ArrayCursor& cursor) {
  const Array& array = current_->as_array();
  cursor.next = array.data();
  cursor.end = array.data() + array.size();
  cursor.size = array.size();
  return true;
}

int ValueReader::next_element(ArrayCursor& cursor) {
  if (cursor.next == cursor.end) return 0;
  current_ = cursor.next++;
  return 1;
}

bool ValueReader::end_array(ArrayCursor& cursor, bool ok) {
  if (!ok) return false;
  if (cursor.next != cursor.end)
    return fail(invalid_length_message(cursor.size, {"fewer elements in array"}));
  return true;
}

}  // namespace zelk::json
