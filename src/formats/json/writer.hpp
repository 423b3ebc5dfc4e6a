#pragma once

#include <string>
#include <string_view>

#include "formats/json/value.hpp"

namespace zelk::json {

// Compact JSON: no whitespace, object members in stored order, strings escaped as this system
// writes them ("\"", "\\", \b \f \n \r \t, other controls as \u00XX in lower-case hex, everything
// else raw UTF-8). Non-finite floats are written as null.
void write_compact(const Value& value, std::string& out);
std::string to_compact_string(const Value& value);

// Appends `text` as a JSON string literal, quotes included, with the compact writer's escaping.
void write_json_string(std::string_view text, std::string& out);

// Appends `name` as a string literal followed by ':', as an object member starts.
void write_json_member_name(std::string_view name, std::string& out);

}  // namespace zelk::json
