#pragma once

// Percent-encode sets and the byte-wise encoder/decoder used by every URL component.

#include <cstdint>
#include <string>
#include <string_view>

namespace zelk::url::detail {

// Each set includes the ones listed before it where the URL Standard nests them.
enum class EncodeSet : std::uint8_t {
  c0_control,     // C0 controls, DEL and non-ASCII
  fragment,       // + space " < > `
  query,          // + space " # < >
  special_query,  // query + '
  path,           // query + ? ^ ` { }
  userinfo,       // path + / : ; = @ [ \ ] |
};

// Appends `in` to `out`, writing each byte of the set (and every non-ASCII byte) as %XX.
void percent_encode(std::string& out, std::string_view in, EncodeSet set);

// Appends the percent-decoding of `in`; '%' not followed by two hex digits is kept as is.
void percent_decode(std::string& out, std::string_view in);

constexpr bool is_ascii_hex_digit(char c) noexcept {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

constexpr bool is_ascii_digit(char c) noexcept {
  return c >= '0' && c <= '9';
}

constexpr bool is_ascii_alpha(char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr char ascii_lower(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace zelk::url::detail
