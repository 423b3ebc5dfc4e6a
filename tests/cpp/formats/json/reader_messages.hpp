#pragma once

#include <algorithm>
#include <string_view>

namespace zelk::json::testing {

// Whether `message` (a JsonError's message, without position) is one the JSON reader gives: a
// syntax error as it stands, or a type, value, length or member error, which goes on with what
// was found or named.
inline bool is_reader_message(std::string_view message) {
  static constexpr std::string_view kSyntax[] = {
      "control character (\\u0000-\\u001F) found while parsing a string",
      "EOF while parsing a list",
      "EOF while parsing a string",
      "EOF while parsing a value",
      "EOF while parsing an object",
      "expected `,` or `]`",
      "expected `,` or `}`",
      "expected `:`",
      "expected ident",
      "expected value",
      "invalid escape",
      "invalid number",
      "invalid unicode code point",
      "key must be a string",
      "lone leading surrogate in hex escape",
      "number out of range",
      "recursion limit exceeded",
      "trailing characters",
      "trailing comma",
      "unexpected end of hex escape",
  };
  static constexpr std::string_view kOpenings[] = {
      "invalid type: ",    "invalid value: ",
      "invalid length ",   "unknown field `",
      "unknown variant `", "duplicate field `",
      "missing field `",   "data did not match any variant of untagged enum ",
  };
  return std::ranges::find(kSyntax, message) != std::end(kSyntax) ||
         std::ranges::any_of(kOpenings, [&](std::string_view o) { return message.starts_with(o); });
}

}  // namespace zelk::json::testing
