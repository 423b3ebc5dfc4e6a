#include "formats/url/percent_encoding.hpp"

#include <array>

namespace zelk::url::detail {
namespace {

constexpr std::uint8_t bit(EncodeSet s) {
  return static_cast<std::uint8_t>(1u << static_cast<unsigned>(s));
}

constexpr std::uint8_t kAllSets = bit(EncodeSet::c0_control) | bit(EncodeSet::fragment) |
                                  bit(EncodeSet::query) | bit(EncodeSet::special_query) |
                                  bit(EncodeSet::path) | bit(EncodeSet::userinfo);

// One byte per input byte; bit n is set when the byte belongs to EncodeSet n.
constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned b = 0; b < 0x20; ++b) t[b] = kAllSets;
  for (unsigned b = 0x7F; b < 256; ++b) t[b] = kAllSets;
  auto add = [&t](std::string_view chars, std::uint8_t sets) {
    for (char c : chars) t[static_cast<unsigned char>(c)] |= sets;
  };
  const std::uint8_t query_up = bit(EncodeSet::query) | bit(EncodeSet::special_query) |
                                bit(EncodeSet::path) | bit(EncodeSet::userinfo);
  add(" \"<>", bit(EncodeSet::fragment) | query_up);
  add("`", bit(EncodeSet::fragment) | bit(EncodeSet::path) | bit(EncodeSet::userinfo));
  add("#", query_up);
  add("'", bit(EncodeSet::special_query));
  add("?^{}", bit(EncodeSet::path) | bit(EncodeSet::userinfo));
  add("/:;=@[\\]|", bit(EncodeSet::userinfo));
  return t;
}

constexpr std::array<std::uint8_t, 256> kTable = make_table();
constexpr char kHexUpper[] = "0123456789ABCDEF";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void percent_encode(std::string& out, std::string_view in, EncodeSet set) {
  const std::uint8_t mask = bit(set);
  std::size_t run = 0;  // start of the pending run of bytes copied unchanged
  for (std::size_t i = 0; i < in.size(); ++i) {
    const auto b = static_cast<unsigned char>(in[i]);
    if ((kTable[b] & mask) == 0) continue;
    out.append(in.data() + run, i - run);
    const char enc[3] = {'%', kHexUpper[b >> 4], kHexUpper[b & 0xF]};
    out.append(enc, 3);
    run = i + 1;
  }
  out.append(in.data() + run, in.size() - run);
}

void percent_decode(std::string& out, std::string_view in) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '%' && i + 2 < in.size() && is_ascii_hex_digit(in[i + 1]) &&
        is_ascii_hex_digit(in[i + 2])) {
      out.push_back(static_cast<char>(hex_value(in[i + 1]) * 16 + hex_value(in[i + 2])));
      i += 2;
    } else {
      out.push_back(in[i]);
    }
  }
}

}  // namespace zelk::url::detail
