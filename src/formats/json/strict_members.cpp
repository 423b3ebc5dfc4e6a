#include "formats/json/strict_members.hpp"

#include <algorithm>

namespace zelk::json {

std::optional<std::string> unknown_field_name(const JsonError& error) {
  constexpr std::string_view kPrefix = "unknown field `";
  const std::string text = error.full();
  if (!std::string_view(text).starts_with(kPrefix)) return std::nullopt;
  const std::size_t end = text.find('`', kPrefix.size());
  if (end == std::string::npos) return std::nullopt;
  return text.substr(kPrefix.size(), end - kPrefix.size());
}

std::optional<UndeclaredMember> find_undeclared_member(std::string_view record_name,
                                                       const Value& value,
                                                       std::span<const std::string_view> declared) {
  if (!value.is_object()) return std::nullopt;
  // Records declare a few dozen names at most: a plain scan beats sorting them on every call.
  for (const Member& m : value.as_object()) {
    if (std::find(declared.begin(), declared.end(), std::string_view(m.name)) == declared.end())
      return UndeclaredMember{m.name, std::string(record_name)};
  }
  return std::nullopt;
}

}  // namespace zelk::json
