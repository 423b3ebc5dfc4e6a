#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "formats/json/value.hpp"

namespace zelk::json {

// A failure of the canonical writer; only a non-finite number causes one.
struct CanonicalJsonError {
  std::string reason;  // the writer's message, e.g. "invalid float value"
  std::string message() const { return "serialization failed: " + reason; }
  friend bool operator==(const CanonicalJsonError&, const CanonicalJsonError&) = default;
};

// RFC 8785 canonical form in UTF-8: members sorted by UTF-16 code units, numbers through the
// nearest double in ECMAScript form, only the escapes RFC 8785 prescribes.
[[nodiscard]] std::expected<void, CanonicalJsonError> append_canonical(const Value& value,
                                                                       std::string& out);
[[nodiscard]] std::expected<std::string, CanonicalJsonError> canonical_json(const Value& value);

}  // namespace zelk::json
