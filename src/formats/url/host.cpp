#include "formats/url/host.hpp"

#include <array>
#include <cstdint>

#include "formats/url/idna.hpp"
#include "formats/url/ip_address.hpp"
#include "formats/url/percent_encoding.hpp"

namespace zelk::url::detail {
namespace {

constexpr std::uint8_t kForbiddenHost = 1;
constexpr std::uint8_t kForbiddenDomain = 2;

constexpr std::array<std::uint8_t, 256> make_forbidden_table() {
  std::array<std::uint8_t, 256> t{};
  for (char c : std::string_view("\0\t\n\r #/:<>?@[\\]^|", 17)) {
    t[static_cast<unsigned char>(c)] = kForbiddenHost | kForbiddenDomain;
  }
  for (unsigned b = 0; b < 0x20; ++b) t[b] |= kForbiddenDomain;
  t['%'] |= kForbiddenDomain;
  t[0x7F] |= kForbiddenDomain;
  return t;
}

constexpr std::array<std::uint8_t, 256> kForbidden = make_forbidden_table();

bool contains(std::string_view s, std::uint8_t kind) {
  for (char c : s) {
    if ((kForbidden[static_cast<unsigned char>(c)] & kind) != 0) return true;
  }
  return false;
}

[[nodiscard]] std::expected<void, UrlErrorKind> parse_ipv6_host(std::string_view text,
                                                                std::string& out) {
  if (text.size() < 2 || text.back() != ']') {
    return std::unexpected(UrlErrorKind::invalid_ipv6_address);
  }
  const auto address = parse_ipv6(text.substr(1, text.size() - 2));
  if (!address) return std::unexpected(UrlErrorKind::invalid_ipv6_address);
  serialize_ipv6(*address, out);
  return {};
}

// ICU is needed only for non-ASCII text or an "xn--" label; anything else maps to its lower case.
bool needs_unicode_processing(std::string_view domain) {
  bool label_start = true;
  for (std::size_t i = 0; i < domain.size(); ++i) {
    const char c = domain[i];
    if (static_cast<unsigned char>(c) >= 0x80) return true;
    if (label_start && i + 4 <= domain.size() && ascii_lower(c) == 'x' &&
        ascii_lower(domain[i + 1]) == 'n' && domain[i + 2] == '-' && domain[i + 3] == '-') {
      return true;
    }
    label_start = c == '.';
  }
  return false;
}

[[nodiscard]] std::expected<void, UrlErrorKind> parse_domain(std::string_view text,
                                                             std::string& out) {
  std::string decoded;
  std::string_view domain = text;
  if (text.find('%') != std::string_view::npos) {
    decoded.reserve(text.size());
    percent_decode(decoded, text);
    domain = decoded;
  }
  const std::size_t start = out.size();
  if (needs_unicode_processing(domain)) {
    switch (domain_to_ascii_unicode(domain, out)) {
      case IdnaOutcome::failure:
        return std::unexpected(UrlErrorKind::invalid_international_domain_name);
      case IdnaOutcome::empty:
        return std::unexpected(UrlErrorKind::empty_host);
      case IdnaOutcome::ok:
        break;
    }
  } else {
    out.append(domain);
    for (std::size_t i = start; i < out.size(); ++i) out[i] = ascii_lower(out[i]);
  }
  const std::string_view ascii = std::string_view(out).substr(start);
  if (contains(ascii, kForbiddenDomain)) {
    return std::unexpected(UrlErrorKind::invalid_international_domain_name);
  }
  if (ends_in_a_number(ascii)) {
    const auto address = parse_ipv4(ascii);
    if (!address) return std::unexpected(UrlErrorKind::invalid_ipv4_address);
    out.resize(start);
    serialize_ipv4(*address, out);
  }
  return {};
}

}  // namespace

std::expected<void, UrlErrorKind> parse_host(std::string_view text, bool special,
                                             std::string& out) {
  if (!text.empty() && text.front() == '[') return parse_ipv6_host(text, out);
  if (special) return parse_domain(text, out);
  if (contains(text, kForbiddenHost)) {
    return std::unexpected(UrlErrorKind::invalid_domain_character);
  }
  percent_encode(out, text, EncodeSet::c0_control);
  return {};
}

}  // namespace zelk::url::detail
