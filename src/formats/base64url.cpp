#include "formats/base64url.hpp"

#include <array>

namespace zelk {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
  std::array<std::uint8_t, 256> table{};
  table.fill(kInvalid);
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr auto kDecode = make_decode_table();

}  // namespace

bool is_b64url_alphabet(std::string_view text) {
  for (unsigned char c : text)
    if (kDecode[c] == kInvalid) return false;
  return true;
}

std::expected<Bytes, Base64UrlError> b64url_decode(std::string_view text) {
  using Kind = Base64UrlError::Kind;
  // Padding is reported before any other problem with the characters.
  if (text.find('=') != std::string_view::npos)
    return std::unexpected(Base64UrlError{Kind::PaddingForbidden});
  const std::size_t rem = text.size() % 4;
  if (rem == 1) return std::unexpected(Base64UrlError{Kind::InvalidCharacter});
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t whole = text.size() / 4;
  Bytes out(whole * 3 + (rem ? rem - 1 : 0));
  std::uint8_t* o = out.data();
  // Four characters make three bytes; any invalid character sets the high bit of `bad`.
  std::uint32_t bad = 0;
  for (std::size_t i = 0; i < whole; ++i, in += 4, o += 3) {
    const std::uint32_t a = kDecode[in[0]], b = kDecode[in[1]], c = kDecode[in[2]],
                        d = kDecode[in[3]];
    bad |= a | b | c | d;
    const std::uint32_t n = (a << 18) | (b << 12) | (c << 6) | d;
    o[0] = static_cast<std::uint8_t>(n >> 16);
    o[1] = static_cast<std::uint8_t>(n >> 8);
    o[2] = static_cast<std::uint8_t>(n);
  }
  // Leftover bits (4 after two characters, 2 after three) must be zero for a canonical text.
  std::uint32_t spare = 0;
  if (rem != 0) {
    const std::uint32_t a = kDecode[in[0]], b = kDecode[in[1]];
    const std::uint32_t c = rem == 3 ? kDecode[in[2]] : 0;
    bad |= a | b | c;
    const std::uint32_t n = (a << 18) | (b << 12) | (c << 6);
    o[0] = static_cast<std::uint8_t>(n >> 16);
    if (rem == 3) o[1] = static_cast<std::uint8_t>(n >> 8);
    spare = rem == 2 ? (n >> 8) & 0xFFu : n & 0xFFu;
  }
  if ((bad & 0x80u) != 0 || spare != 0)
    return std::unexpected(Base64UrlError{Kind::InvalidCharacter});
  return out;
}

void b64url_encode_append(ByteView bytes, std::string& out) {
  out.reserve(out.size() + (bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t n =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out.push_back(kAlphabet[n >> 18]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(kAlphabet[(n >> 6) & 63]);
    out.push_back(kAlphabet[n & 63]);
  }
  const std::size_t rest = bytes.size() - i;
  if (rest == 1) {
    const std::uint32_t n = std::uint32_t{bytes[i]} << 16;
    out.push_back(kAlphabet[n >> 18]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
  } else if (rest == 2) {
    const std::uint32_t n = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
    out.push_back(kAlphabet[n >> 18]);
    out.push_back(kAlphabet[(n >> 12) & 63]);
    out.push_back(kAlphabet[(n >> 6) & 63]);
  }
}

std::string b64url_encode(ByteView bytes) {
  std::string out;
  b64url_encode_append(bytes, out);
  return out;
}

}  // namespace zelk
