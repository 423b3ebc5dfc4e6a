#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace zelk {

// A UUID as its 16 bytes in text order.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  // Lower-case hyphenated 8-4-4-4-12 form.
  std::string to_string() const;
  void append_to(std::string& out) const;
  // Writes the same 36 characters at `out` and returns the end.
  char* write_to(char* out) const;

  // Sets the version-4 and RFC 4122 variant bits over 16 random bytes.
  static Uuid v4_from_random(std::array<std::uint8_t, 16> random);

  friend bool operator==(const Uuid&, const Uuid&) = default;
  friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

// Why a text is not a UUID; message() gives the parser's text, e.g. "invalid length: found 0".
struct UuidError {
  enum class Kind { InvalidCharacter, InvalidLength, InvalidGroupCount, InvalidGroupLength };
  Kind kind;
  std::string character{};   // InvalidCharacter: the offending character as UTF-8
  std::size_t index = 0;     // InvalidCharacter: byte offset; InvalidGroupLength: the group
  std::size_t expected = 0;  // InvalidGroupLength
  std::size_t found = 0;     // InvalidLength, InvalidGroupCount, InvalidGroupLength

  std::string message() const;
  friend bool operator==(const UuidError&, const UuidError&) = default;
};

// Accepts the simple, hyphenated, braced and URN forms.
[[nodiscard]] std::expected<Uuid, UuidError> parse_uuid(std::string_view text);

}  // namespace zelk
