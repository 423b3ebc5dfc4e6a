#include "tct/grant_text.hpp"

#include <cstddef>

#include "formats/utf8.hpp"

namespace zelk {
namespace {

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

bool has_white_space(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (is_white_space(b)) return true;
      ++i;
      continue;
    }
    const Utf8Sequence seq = decode_utf8(text, i);
    if (!seq.valid) {
      ++i;
      continue;
    }
    if (is_white_space(seq.cp)) return true;
    i += seq.length;
  }
  return false;
}

}  // namespace zelk
