#include "formats/url/input.hpp"

#include <cstddef>

namespace zelk::url::detail {
namespace {

struct Utf8Step {
  bool valid;
  std::size_t length;  // bytes of the sequence, or of the ill-formed prefix replaced by U+FFFD
};

// Decodes one sequence the way a UTF-8 decoder with replacement does: an ill-formed sequence
// yields one U+FFFD for its longest valid prefix, and the offending byte is read again.
Utf8Step utf8_step(const unsigned char* p, std::size_t avail) {
  const unsigned b0 = p[0];
  if (b0 < 0x80) return {true, 1};
  std::size_t need = 0;
  unsigned lo = 0x80;
  unsigned hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {false, 1};
  }
  for (std::size_t i = 1; i <= need; ++i) {
    if (i >= avail || p[i] < lo || p[i] > hi) return {false, i};
    lo = 0x80;
    hi = 0xBF;
  }
  return {true, need + 1};
}

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
    const Utf8Step s = utf8_step(p + i, n - i);
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
    const Utf8Step s = utf8_step(p + i, n - i);
    if (s.valid) {
      storage.append(reinterpret_cast<const char*>(p + i), s.length);
    } else {
      storage.append("\xEF\xBF\xBD");
    }
    i += s.length;
  }
  return storage;
}

}  // namespace zelk::url::detail
