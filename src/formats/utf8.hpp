#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 decoding and encoding for every reader of text. Header-only so that it inlines into the
// JSON reader's, the canonical writer's and the URL parser's paths for non-ASCII bytes.
namespace zelk {

// Which byte sequences decode to a code point.
enum class Utf8Policy : std::uint8_t {
  // Well-formed UTF-8 only: no overlong forms, no surrogates, nothing past U+10FFFF.
  Strict,
  // Any lead byte 0xC0..0xF7 followed by as many continuation bytes as it announces, so
  // overlong forms, surrogates and values up to U+1FFFFF decode as well.
  Lax,
};

// One step of decoding. When `valid`, `cp` is the code point and `length` the bytes of its
// sequence. Otherwise `cp` is U+FFFD and `length` (1 to 3) covers the longest prefix of a
// sequence the policy accepts: the bytes that one U+FFFD replaces, the next byte being read anew.
struct Utf8Sequence {
  char32_t cp;
  std::uint32_t length;
  bool valid;
};

// Decodes the sequence at data[i] (ASCII included) of the `size` bytes at data, i < size.
template <Utf8Policy P = Utf8Policy::Strict>
[[nodiscard]] constexpr Utf8Sequence decode_utf8(const unsigned char* data, std::size_t size,
                                                 std::size_t i) {
  constexpr bool strict = P == Utf8Policy::Strict;
  const unsigned b0 = data[i];
  if (b0 < 0x80) return {b0, 1, true};
  std::uint32_t need = 0;
  char32_t cp = 0;
  unsigned lo = 0x80;
  unsigned hi = 0xBF;
  if (b0 >= (strict ? 0xC2 : 0xC0) && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (strict && b0 == 0xE0) lo = 0xA0;
    if (strict && b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= (strict ? 0xF4 : 0xF7)) {
    need = 3;
    cp = b0 & 0x07;
    if (strict && b0 == 0xF0) lo = 0x90;
    if (strict && b0 == 0xF4) hi = 0x8F;
  } else {
    return {U'\uFFFD', 1, false};
  }
  for (std::uint32_t k = 1; k <= need; ++k) {
    if (k >= size - i || data[i + k] < lo || data[i + k] > hi) return {U'\uFFFD', k, false};
    lo = 0x80;
    hi = 0xBF;
    cp = (cp << 6) | (data[i + k] & 0x3F);
  }
  return {cp, need + 1, true};
}

// The sequence at text[i], i < text.size().
template <Utf8Policy P = Utf8Policy::Strict>
[[nodiscard]] Utf8Sequence decode_utf8(std::string_view text, std::size_t i) {
  return decode_utf8<P>(reinterpret_cast<const unsigned char*>(text.data()), text.size(), i);
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

}  // namespace zelk
