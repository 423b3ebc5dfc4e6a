#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zelk::json {

class Value;

// What a reader wanted: the tail of "invalid type: FOUND, expected WHAT". `name` follows `text`
// directly, so {"struct ", "JwsHeader"} reads "struct JwsHeader".
struct Expected {
  std::string_view text;
  std::string_view name{};
  void append_to(std::string& out) const;
};

// A number as the reader classified it: non-negative integers that fit 64 bits, negative ones
// that fit i64, and floats (written with ".", "e" or "E", or outside both integer ranges).
struct Number {
  enum class Kind : std::uint8_t { PosInt, NegInt, Float };
  Kind kind = Kind::PosInt;
  std::uint64_t pos = 0;
  std::int64_t neg = 0;
  double real = 0.0;
};

// What a reader found instead, for the FOUND part of a message.
struct Found {
  enum class Kind : std::uint8_t { Null, Bool, Unsigned, Signed, Float, String, Sequence, Map };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::uint64_t pos = 0;
  std::int64_t neg = 0;
  double real = 0.0;
  std::string_view text{};  // String: the decoded text

  static Found null() { return {}; }
  static Found of_bool(bool b) { return {.kind = Kind::Bool, .boolean = b}; }
  static Found of_unsigned(std::uint64_t u) { return {.kind = Kind::Unsigned, .pos = u}; }
  static Found of_signed(std::int64_t i) { return {.kind = Kind::Signed, .neg = i}; }
  static Found of_float(double d) { return {.kind = Kind::Float, .real = d}; }
  static Found of_string(std::string_view s) { return {.kind = Kind::String, .text = s}; }
  static Found sequence() { return {.kind = Kind::Sequence}; }
  static Found map() { return {.kind = Kind::Map}; }
  static Found of_number(const Number& n);
  static Found of_value(const Value& v);
};

// "null", "boolean `true`", "integer `5`", "floating point `1.5`", "string \"x\"", "sequence",
// "map".
void append_found(const Found& found, std::string& out);

// A string quoted as FOUND shows it: quotes and backslashes escaped, \n \r \t \0, and \u{h} for
// controls, format and separator characters, private-use, surrogate and unassigned code points,
// and grapheme extenders. Bytes that are not UTF-8 are shown as \x{h}.
void append_quoted_for_message(std::string_view text, std::string& out);

// True for the code points (U+0080 and up) that append_quoted_for_message writes as \u{h}.
bool is_escaped_in_message(char32_t c);

std::string invalid_type_message(const Found& found, const Expected& expected);
std::string invalid_value_message(const Found& found, const Expected& expected);
// "invalid length N, expected WHAT".
std::string invalid_length_message(std::size_t length, const Expected& expected);

// The names each in backquotes: "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
void append_name_list(std::span<const std::string_view> names, std::string& out);

std::string unknown_field_message(std::string_view name, std::span<const std::string_view> names);
std::string unknown_variant_message(std::string_view text, std::span<const std::string_view> names);
std::string duplicate_field_message(std::string_view name);
std::string missing_field_message(std::string_view name);
// "data did not match any variant of untagged enum NAME".
std::string untagged_mismatch_message(std::string_view name);

}  // namespace zelk::json
