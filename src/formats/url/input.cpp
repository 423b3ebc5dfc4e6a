#include "formats/url/input.hpp"

#include <cstddef>

#include "formats/utf8.hpp"

namespace zelk::url::detail {
namespace {

constexpr bool is_tab_or_newline(unsigned char b) {
  return b == '\t' || b == '\n' || b == '\r';
}

bool needs_rewrite(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      if (is_tab_or_newline(p[i])) return true;
      ++i;
      continue;
    }
    const Utf8Sequence s = decode_utf8(p, n, i);
    if (!s.valid) return true;
    i += s.length;
  }
  return false;
}

}  // namespace

std::string_view prepare_input(std::string_view raw, std::string& storage) {
  // Trimming works on bytes: bytes up to 0x20 never belong to a multi-byte sequence.
  std::size_t begin = 0;
  std::size_t end = raw.size();
  while (begin < end && static_cast<unsigned char>(raw[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(raw[end - 1]) <= 0x20) --end;
  const auto* p = reinterpret_cast<const unsigned char*>(raw.data()) + begin;
  const std::size_t n = end - begin;
  if (!needs_rewrite(p, n)) return raw.substr(begin, n);

  // Decode before dropping tabs so that a tab inside a broken sequence cannot mend it.
  storage.clear();
  storage.reserve(n + n / 2);
  std::size_t i = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      if (!is_tab_or_newline(p[i])) storage.push_back(static_cast<char>(p[i]));
      ++i;
      continue;
    }
    const Utf8Sequence s = decode_utf8(p, n, i);
    if (s.valid) {
      storage.append(reinterpret_cast<const char*>(p + i), s.length);
    } else {
      storage.append("\xEF\xBF\xBD");  // one U+FFFD for the longest prefix of a sequence
    }
    i += s.length;
  }
  return storage;
}

}  // namespace zelk::url::detail
