#include "tct/grant_text.hpp"

#include <cstddef>

#include "formats/json/utf8.hpp"

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
    char32_t cp = 0;
    const std::size_t len = json::utf8_sequence_length(text, i, &cp);
    if (len == 0) {
      ++i;
      continue;
    }
    if (is_white_space(cp)) return true;
    i += len;
  }
  return false;
}

}  // namespace zelk
