#include "formats/url/ip_address.hpp"

#include <charconv>

#include "formats/url/percent_encoding.hpp"

namespace zelk::url::detail {
namespace {

constexpr std::uint64_t kIpv4Limit = std::uint64_t{1} << 32;

int digit_value(char c, unsigned radix) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (radix == 16 && c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (radix == 16 && c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return (v >= 0 && static_cast<unsigned>(v) < radix) ? v : -1;
}

// One dotted part: "0x"/"0X" prefix is hex, a leading 0 is octal. Values saturate at 2^32,
// which every caller rejects, so arbitrarily long parts cannot overflow.
std::optional<std::uint64_t> parse_ipv4_number(std::string_view s) {
  if (s.empty()) return std::nullopt;
  unsigned radix = 10;
  if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    radix = 16;
    s.remove_prefix(2);
  } else if (s.size() >= 2 && s[0] == '0') {
    radix = 8;
    s.remove_prefix(1);
  }
  std::uint64_t value = 0;
  for (char c : s) {
    const int d = digit_value(c, radix);
    if (d < 0) return std::nullopt;
    value = value * radix + static_cast<unsigned>(d);
    if (value > kIpv4Limit) value = kIpv4Limit;
  }
  return value;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_decimal(std::string& out, std::uint32_t v) {
  char buf[10];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

}  // namespace

bool ends_in_a_number(std::string_view domain) noexcept {
  if (domain.empty()) return false;
  if (domain.back() == '.') domain.remove_suffix(1);
  const std::size_t dot = domain.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? domain : domain.substr(dot + 1);
  if (last.empty()) return false;
  bool all_digits = true;
  for (char c : last) all_digits = all_digits && is_ascii_digit(c);
  if (all_digits) return true;
  return parse_ipv4_number(last).has_value();
}

std::optional<std::uint32_t> parse_ipv4(std::string_view text) noexcept {
  // One trailing empty part is dropped; any other empty part fails below.
  if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  std::uint64_t numbers[4];
  std::size_t count = 0;
  while (true) {
    if (count == 4) return std::nullopt;
    const std::size_t dot = text.find('.');
    const auto n = parse_ipv4_number(text.substr(0, dot));
    if (!n) return std::nullopt;
    numbers[count++] = *n;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if (numbers[i] > 255) return std::nullopt;
  }
  const std::uint64_t last = numbers[count - 1];
  if (last >= (std::uint64_t{1} << (8 * (5 - count)))) return std::nullopt;
  std::uint64_t address = last;
  for (std::size_t i = 0; i + 1 < count; ++i) address += numbers[i] << (8 * (3 - i));
  return static_cast<std::uint32_t>(address);
}

void serialize_ipv4(std::uint32_t address, std::string& out) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    append_decimal(out, (address >> shift) & 0xFF);
    if (shift != 0) out.push_back('.');
  }
}

std::optional<Ipv6Address> parse_ipv6(std::string_view s) noexcept {
  Ipv6Address address{};
  std::size_t piece = 0;
  std::optional<std::size_t> compress;
  std::size_t p = 0;
  const std::size_t n = s.size();
  auto at = [&](std::size_t i) { return i < n ? s[i] : '\0'; };  // '\0' stands for the end

  if (at(p) == ':') {
    if (p + 1 >= n || s[p + 1] != ':') return std::nullopt;
    p += 2;
    compress = ++piece;
  }
  while (p < n) {
    if (piece == 8) return std::nullopt;
    if (s[p] == ':') {
      if (compress) return std::nullopt;
      ++p;
      compress = ++piece;
      continue;
    }
    unsigned value = 0;
    std::size_t length = 0;
    while (length < 4 && p < n && hex_digit(s[p]) >= 0) {
      value = value * 16 + static_cast<unsigned>(hex_digit(s[p]));
      ++p;
      ++length;
    }
    if (p < n && s[p] == '.') {
      // Embedded IPv4: re-read the digits just taken as hex.
      if (length == 0) return std::nullopt;
      p -= length;
      if (piece > 6) return std::nullopt;
      int numbers_seen = 0;
      while (p < n) {
        int ipv4_piece = -1;
        if (numbers_seen > 0) {
          if (s[p] == '.' && numbers_seen < 4) {
            ++p;
          } else {
            return std::nullopt;
          }
        }
        if (!is_ascii_digit(at(p))) return std::nullopt;
        while (p < n && is_ascii_digit(s[p])) {
          const int number = s[p] - '0';
          if (ipv4_piece < 0) {
            ipv4_piece = number;
          } else if (ipv4_piece == 0) {
            return std::nullopt;  // leading zero
          } else {
            ipv4_piece = ipv4_piece * 10 + number;
          }
          if (ipv4_piece > 255) return std::nullopt;
          ++p;
        }
        address[piece] = static_cast<std::uint16_t>(address[piece] * 0x100 + ipv4_piece);
        ++numbers_seen;
        if (numbers_seen == 2 || numbers_seen == 4) ++piece;
      }
      if (numbers_seen != 4) return std::nullopt;
      break;
    }
    if (p < n && s[p] == ':') {
      ++p;
      if (p >= n) return std::nullopt;
    } else if (p < n) {
      return std::nullopt;
    }
    address[piece] = static_cast<std::uint16_t>(value);
    ++piece;
  }
  if (compress) {
    std::size_t swaps = piece - *compress;
    piece = 7;
    while (piece != 0 && swaps > 0) {
      std::swap(address[piece], address[*compress + swaps - 1]);
      --piece;
      --swaps;
    }
  } else if (piece != 8) {
    return std::nullopt;
  }
  return address;
}

void serialize_ipv6(const Ipv6Address& address, std::string& out) {
  // The first longest run of two or more zero pieces becomes "::".
  std::size_t best_start = 8;
  std::size_t best_len = 1;
  for (std::size_t i = 0; i < 8;) {
    if (address[i] != 0) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < 8 && address[j] == 0) ++j;
    if (j - i > best_len) {
      best_start = i;
      best_len = j - i;
    }
    i = j;
  }
  out.push_back('[');
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == best_start) {
      out.append(i == 0 ? "::" : ":");
      i += best_len - 1;
      continue;
    }
    char buf[4];
    const auto r = std::to_chars(buf, buf + sizeof buf, address[i], 16);
    out.append(buf, r.ptr);
    if (i != 7) out.push_back(':');
  }
  out.push_back(']');
}

}  // namespace zelk::url::detail
