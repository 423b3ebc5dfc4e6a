#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "formats/json/error.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/value.hpp"

namespace zelk::json {

// The whole text as one generic value, with optional whitespace around it.
[[nodiscard]] std::expected<Value, JsonError> parse_value(std::string_view text);

// A text read once into a value, for readers that look at it several times. `repeated_names`
// tells that some object gave a name twice; the value then holds only the last one, so checks
// that refuse repeats must go back to the text.
struct ParsedText {
  Value value;
  bool repeated_names = false;
};
[[nodiscard]] std::expected<ParsedText, JsonError> parse_text(std::string_view text);

// Reads exactly one value from `reader` and refuses a name given twice in one object ("duplicate
// field `NAME`", as soon as the repeated name is read). Whatever follows the value is not looked
// at. Each object has its own set of names; names compare after unescaping.
[[nodiscard]] std::expected<void, JsonError> scan_json_for_duplicate_keys(Reader& reader);

// The scan over a whole text: absent when it finds nothing wrong, otherwise the first problem's
// message with its position.
std::optional<std::string> check_duplicate_keys(std::string_view text);

}  // namespace zelk::json
