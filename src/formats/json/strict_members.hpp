#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/json/error.hpp"
#include "formats/json/value.hpp"

namespace zelk::json {

// The member name of an "unknown field `NAME`, ..." error (cut at the first backquote inside the
// name); absent for every other error.
std::optional<std::string> unknown_field_name(const JsonError& error);

struct UndeclaredMember {
  std::string name;    // the first member of the object that is not declared
  std::string record;  // the record name it was checked against
  friend bool operator==(const UndeclaredMember&, const UndeclaredMember&) = default;
};

// The first top-level member of an object value whose name is not among `declared` (compared
// byte for byte). Absent when every member is declared or when the value is not an object.
std::optional<UndeclaredMember> find_undeclared_member(std::string_view record_name,
                                                       const Value& value,
                                                       std::span<const std::string_view> declared);

}  // namespace zelk::json
