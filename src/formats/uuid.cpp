#include "formats/uuid.hpp"

#include <array>

#include "formats/utf8.hpp"

namespace zelk {
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::array<std::size_t, 5> kGroupLen = {8, 4, 4, 4, 12};
constexpr std::array<std::size_t, 4> kHyphenAt = {8, 13, 18, 23};
constexpr std::array<std::size_t, 5> kGroupStart = {0, 9, 14, 19, 24};
constexpr std::string_view kUrnPrefix = "urn:uuid:";

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes the 36-character hyphenated form; false when any byte is out of place.
bool decode_hyphenated(std::string_view s, Uuid& out) {
  if (s.size() != 36) return false;
  std::size_t pos = 0;
  for (std::size_t g = 0, byte = 0; g < 5; ++g) {
    if (g > 0 && s[pos++] != '-') return false;
    for (std::size_t i = 0; i < kGroupLen[g]; i += 2) {
      const int hi = hex_value(s[pos]), lo = hex_value(s[pos + 1]);
      if (hi < 0 || lo < 0) return false;
      out.bytes[byte++] = static_cast<std::uint8_t>(hi << 4 | lo);
      pos += 2;
    }
  }
  return true;
}

bool decode_simple(std::string_view s, Uuid& out) {
  if (s.size() != 32) return false;
  for (std::size_t i = 0; i < 16; ++i) {
    const int hi = hex_value(s[2 * i]), lo = hex_value(s[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.bytes[i] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return true;
}

// Decodes one UTF-8 character at `s[i]`, giving its code point and byte length; an invalid
// sequence counts as the single byte it starts with. Lenient (overlong forms and the like decode
// too): only the low byte of the code point is tested, and the bytes are shown as they are.
std::pair<std::uint32_t, std::size_t> next_char(std::string_view s, std::size_t i) {
  const Utf8Sequence seq = decode_utf8<Utf8Policy::Lax>(s, i);
  if (!seq.valid) return {static_cast<unsigned char>(s[i]), 1};
  return {seq.cp, seq.length};
}

// Works out why `s`, which is none of the accepted forms, is refused.
UuidError explain(std::string_view s) {
  using Kind = UuidError::Kind;
  const std::size_t len = s.size();
  // Too long a text is still scanned: its first bad character is what gets reported.
  if (len == 0) return {Kind::InvalidLength, {}, 0, 0, len};
  std::string_view u = s;
  std::size_t off = 0;
  bool decided = false;
  if (len >= 2 && s.front() == '{' && s.back() == '}') {
    u = s.substr(1, len - 2);
    off = 1;
    decided = true;
  } else if (s.starts_with(kUrnPrefix)) {
    u = s.substr(kUrnPrefix.size());
    off = kUrnPrefix.size();
    decided = true;
  }
  std::size_t hyphens = 0;
  std::array<std::size_t, 4> at{};
  for (std::size_t b = 0; b < u.size();) {
    const auto [cp, n] = next_char(u, b);
    // The test looks at the low byte of the code point, folded to lower case.
    unsigned char low = static_cast<unsigned char>(cp & 0xFF);
    if (low >= 'A' && low <= 'Z') low = static_cast<unsigned char>(low - 'A' + 'a');
    if (low == '-') {
      if (hyphens < 4) at[hyphens] = b;
      ++hyphens;
      decided = true;
    } else if (!((low >= '0' && low <= '9') || (low >= 'a' && low <= 'f'))) {
      return {Kind::InvalidCharacter, std::string(u.substr(b, n)), b + off, 0, 0};
    }
    b += n;
  }
  if (!decided) return {Kind::InvalidLength, {}, 0, 0, len};
  if (hyphens != 4) return {Kind::InvalidGroupCount, {}, 0, 0, hyphens + 1};
  for (std::size_t i = 0; i < 4; ++i)
    if (at[i] != kHyphenAt[i])
      return {Kind::InvalidGroupLength, {}, i, kGroupLen[i], at[i] - kGroupStart[i]};
  // The figure uses the whole input length, braces or prefix included.
  return {Kind::InvalidGroupLength, {}, 4, 12, len >= 24 ? len - 24 : 0};
}

}  // namespace

char* Uuid::write_to(char* out) const {
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *out++ = '-';
    *out++ = kHex[bytes[i] >> 4];
    *out++ = kHex[bytes[i] & 15];
  }
  return out;
}

void Uuid::append_to(std::string& out) const {
  // Formatted into a local buffer and appended once: long lists write many identifiers.
  char text[36];
  out.append(text, write_to(text));
}

std::string Uuid::to_string() const {
  std::string out;
  out.reserve(36);
  append_to(out);
  return out;
}

Uuid Uuid::v4_from_random(std::array<std::uint8_t, 16> random) {
  random[6] = static_cast<std::uint8_t>((random[6] & 0x0F) | 0x40);
  random[8] = static_cast<std::uint8_t>((random[8] & 0x3F) | 0x80);
  return Uuid{random};
}

std::string UuidError::message() const {
  switch (kind) {
    case Kind::InvalidCharacter:
      return "invalid character: found `" + character + "` at " + std::to_string(index);
    case Kind::InvalidLength:
      return "invalid length: found " + std::to_string(found);
    case Kind::InvalidGroupCount:
      return "invalid group count: expected 5, found " + std::to_string(found);
    case Kind::InvalidGroupLength:
      return "invalid group length in group " + std::to_string(index) + ": expected " +
             std::to_string(expected) + ", found " + std::to_string(found);
  }
  return {};
}

std::expected<Uuid, UuidError> parse_uuid(std::string_view text) {
  Uuid out;
  bool ok = false;
  switch (text.size()) {
    case 32:
      ok = decode_simple(text, out);
      break;
    case 36:
      ok = decode_hyphenated(text, out);
      break;
    case 38:
      ok = text.front() == '{' && text.back() == '}' && decode_hyphenated(text.substr(1, 36), out);
      break;
    case 45:
      ok = text.starts_with(kUrnPrefix) && decode_hyphenated(text.substr(9), out);
      break;
  }
  if (ok) return out;
  return std::unexpected(explain(text));
}

}  // namespace zelk
