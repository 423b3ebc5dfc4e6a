#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelk::json {

// Length of the well-formed UTF-8 sequence that starts at text[i] (a byte 0x80 or above), or 0
// when the bytes there are not one (overlong forms, surrogates and values past U+10FFFF included).
// Sets `cp` to the code point when given.
inline std::size_t utf8_sequence_length(std::string_view text, std::size_t i,
                                        char32_t* cp = nullptr) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  char32_t value = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - i < len) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if (b < lo || b > hi) return 0;
    lo = 0x80;
    hi = 0xBF;
    value = (value << 6) | (b & 0x3F);
  }
  if (cp != nullptr) *cp = value;
  return len;
}

// Appends a scalar value (not a surrogate) as UTF-8.
inline void append_utf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace zelk::json
