// The basic URL parser for input without a base URL. The URL Standard's state machine is
// followed state by state, but each component is located first and then written straight into
// the serialisation, so no intermediate URL record is built.

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "formats/url/host.hpp"
#include "formats/url/input.hpp"
#include "formats/url/percent_encoding.hpp"
#include "formats/url/url.hpp"

namespace zelk::url {
namespace detail {
namespace {

enum class SchemeType : std::uint8_t { http, https, ws, wss, ftp, file, other };

SchemeType classify_scheme(std::string_view s) {
  if (s == "http") return SchemeType::http;
  if (s == "https") return SchemeType::https;
  if (s == "ws") return SchemeType::ws;
  if (s == "wss") return SchemeType::wss;
  if (s == "ftp") return SchemeType::ftp;
  if (s == "file") return SchemeType::file;
  return SchemeType::other;
}

int default_port(SchemeType t) {
  switch (t) {
    case SchemeType::http:
    case SchemeType::ws:
      return 80;
    case SchemeType::https:
    case SchemeType::wss:
      return 443;
    case SchemeType::ftp:
      return 21;
    default:
      return -1;
  }
}

constexpr bool is_scheme_char(char c) {
  return is_ascii_alpha(c) || is_ascii_digit(c) || c == '+' || c == '-' || c == '.';
}

constexpr bool is_slash_or_backslash(char c) {
  return c == '/' || c == '\\';
}

bool is_windows_drive_letter(std::string_view s) {
  return s.size() == 2 && is_ascii_alpha(s[0]) && (s[1] == ':' || s[1] == '|');
}

bool is_percent_2e(std::string_view s) {
  return s.size() == 3 && s[0] == '%' && s[1] == '2' && (s[2] == 'e' || s[2] == 'E');
}

bool is_single_dot_segment(std::string_view s) {
  return s == "." || is_percent_2e(s);
}

bool is_double_dot_segment(std::string_view s) {
  switch (s.size()) {
    case 2:
      return s == "..";
    case 4:
      return (s[0] == '.' && is_percent_2e(s.substr(1))) ||
             (is_percent_2e(s.substr(0, 3)) && s[3] == '.');
    case 6:
      return is_percent_2e(s.substr(0, 3)) && is_percent_2e(s.substr(3));
    default:
      return false;
  }
}

}  // namespace

class UrlBuilder {
 public:
  [[nodiscard]] std::expected<Url, UrlError> run(std::string_view in);

 private:
  using Status = std::expected<void, UrlErrorKind>;

  bool special() const { return type_ != SchemeType::other; }

  [[nodiscard]] Status after_scheme(std::string_view rest);
  [[nodiscard]] Status authority(std::string_view rest);
  [[nodiscard]] Status file(std::string_view rest);
  [[nodiscard]] Status port(std::string_view digits);
  void no_host();
  std::string_view path(std::string_view s);
  void shorten_path();
  void opaque_path(std::string_view s);
  void query_and_fragment(std::string_view s);

  std::string href_;
  SchemeType type_ = SchemeType::other;
  std::size_t scheme_end_ = 0;
  std::size_t username_end_ = 0;
  std::size_t host_start_ = 0;
  std::size_t host_end_ = 0;
  std::size_t path_start_ = 0;
  std::size_t query_start_ = std::string::npos;
  std::size_t fragment_start_ = std::string::npos;
  std::uint16_t port_ = 0;
  bool has_port_ = false;
  bool has_host_ = false;
  bool opaque_path_ = false;
};

std::expected<Url, UrlError> UrlBuilder::run(std::string_view in) {
  // Without a base, anything that is not "scheme:" is a relative URL and cannot be resolved.
  if (in.empty() || !is_ascii_alpha(in[0])) {
    return std::unexpected(UrlError{UrlErrorKind::relative_url_without_base});
  }
  std::size_t i = 1;
  while (i < in.size() && is_scheme_char(in[i])) ++i;
  if (i >= in.size() || in[i] != ':') {
    return std::unexpected(UrlError{UrlErrorKind::relative_url_without_base});
  }
  href_.reserve(in.size() + 16);
  for (std::size_t k = 0; k < i; ++k) href_.push_back(ascii_lower(in[k]));
  scheme_end_ = i;
  href_.push_back(':');
  type_ = classify_scheme(std::string_view(href_).substr(0, i));

  if (const Status s = after_scheme(in.substr(i + 1)); !s) {
    return std::unexpected(UrlError{s.error()});
  }

  // Offsets are stored in 32 bits; the last one present is the largest.
  constexpr std::size_t limit = UINT32_MAX - 1;
  if (path_start_ > limit || (query_start_ != std::string::npos && query_start_ > limit) ||
      (fragment_start_ != std::string::npos && fragment_start_ > limit)) {
    return std::unexpected(UrlError{UrlErrorKind::too_long});
  }
  Url url;
  url.href_ = std::move(href_);
  url.scheme_end_ = static_cast<std::uint32_t>(scheme_end_);
  url.username_end_ = static_cast<std::uint32_t>(username_end_);
  url.host_start_ = static_cast<std::uint32_t>(host_start_);
  url.host_end_ = static_cast<std::uint32_t>(host_end_);
  url.path_start_ = static_cast<std::uint32_t>(path_start_);
  url.query_start_ =
      query_start_ == std::string::npos ? Url::npos : static_cast<std::uint32_t>(query_start_);
  url.fragment_start_ = fragment_start_ == std::string::npos
                            ? Url::npos
                            : static_cast<std::uint32_t>(fragment_start_);
  url.port_ = port_;
  url.has_port_ = has_port_;
  url.has_host_ = has_host_;
  url.opaque_path_ = opaque_path_;
  url.special_ = special();
  return url;
}

UrlBuilder::Status UrlBuilder::after_scheme(std::string_view rest) {
  if (type_ == SchemeType::file) return file(rest);
  if (special()) {
    // Special schemes take any number of slashes, forward or backward, before the authority.
    std::size_t k = 0;
    while (k < rest.size() && is_slash_or_backslash(rest[k])) ++k;
    return authority(rest.substr(k));
  }
  if (rest.starts_with("//")) return authority(rest.substr(2));
  no_host();
  if (rest.starts_with('/')) {
    path_start_ = href_.size();
    const std::string_view tail = path(rest.substr(1));
    // A host-less path starting with an empty segment would read back as an authority.
    if (href_.size() - path_start_ >= 2 && href_[path_start_ + 1] == '/') {
      href_.insert(path_start_, "/.");
      path_start_ += 2;
    }
    query_and_fragment(tail);
  } else {
    opaque_path(rest);
  }
  return {};
}

void UrlBuilder::no_host() {
  username_end_ = host_start_ = host_end_ = href_.size();
  has_host_ = false;
}

UrlBuilder::Status UrlBuilder::authority(std::string_view rest) {
  has_host_ = true;
  href_.append("//");
  const bool is_special = special();
  std::size_t end = 0;
  while (end < rest.size()) {
    const char c = rest[end];
    if (c == '/' || c == '?' || c == '#' || (is_special && c == '\\')) break;
    ++end;
  }
  const std::string_view auth = rest.substr(0, end);

  // Credentials are everything before the last '@'; earlier ones end up encoded as %40.
  std::string_view host_port = auth;
  const std::size_t at = auth.rfind('@');
  if (at != std::string_view::npos) {
    host_port = auth.substr(at + 1);
    if (host_port.empty()) return std::unexpected(UrlErrorKind::empty_host);
    const std::string_view userinfo = auth.substr(0, at);
    const std::size_t colon = userinfo.find(':');
    percent_encode(href_, userinfo.substr(0, colon), EncodeSet::userinfo);
    username_end_ = href_.size();
    if (colon != std::string_view::npos && colon + 1 < userinfo.size()) {
      href_.push_back(':');
      percent_encode(href_, userinfo.substr(colon + 1), EncodeSet::userinfo);
    }
    if (href_.size() > scheme_end_ + 3) href_.push_back('@');
  } else {
    username_end_ = href_.size();
  }
  host_start_ = href_.size();

  // The port starts at the first ':' outside brackets.
  std::size_t colon = std::string_view::npos;
  bool inside_brackets = false;
  for (std::size_t k = 0; k < host_port.size(); ++k) {
    const char c = host_port[k];
    if (c == '[') inside_brackets = true;
    if (c == ']') inside_brackets = false;
    if (c == ':' && !inside_brackets) {
      colon = k;
      break;
    }
  }
  const std::string_view host_text = host_port.substr(0, colon);
  if (host_text.empty() && (is_special || colon != std::string_view::npos)) {
    return std::unexpected(UrlErrorKind::empty_host);
  }
  if (const Status s = parse_host(host_text, is_special, href_); !s) return s;
  host_end_ = href_.size();
  if (colon != std::string_view::npos) {
    if (const Status s = port(host_port.substr(colon + 1)); !s) return s;
  }

  std::string_view tail = rest.substr(end);
  path_start_ = href_.size();
  if (is_special) {
    if (!tail.empty() && is_slash_or_backslash(tail[0])) tail.remove_prefix(1);
    tail = path(tail);
  } else if (tail.starts_with('/')) {
    tail = path(tail.substr(1));
  }
  query_and_fragment(tail);
  return {};
}

UrlBuilder::Status UrlBuilder::port(std::string_view digits) {
  if (digits.empty()) return {};
  std::uint32_t value = 0;
  for (char c : digits) {
    if (!is_ascii_digit(c)) return std::unexpected(UrlErrorKind::invalid_port_number);
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::unexpected(UrlErrorKind::invalid_port_number);
  }
  if (static_cast<int>(value) == default_port(type_)) return {};
  has_port_ = true;
  port_ = static_cast<std::uint16_t>(value);
  char buf[5];
  const auto r = std::to_chars(buf, buf + sizeof buf, port_);
  href_.push_back(':');
  href_.append(buf, r.ptr);
  return {};
}

UrlBuilder::Status UrlBuilder::file(std::string_view rest) {
  // A file URL always has a host, empty unless written after two slashes.
  has_host_ = true;
  href_.append("//");
  username_end_ = host_start_ = host_end_ = href_.size();
  std::string_view tail = rest;
  if (rest.size() >= 2 && is_slash_or_backslash(rest[0]) && is_slash_or_backslash(rest[1])) {
    tail = rest.substr(2);
    std::size_t end = 0;
    while (end < tail.size() && !is_slash_or_backslash(tail[end]) && tail[end] != '?' &&
           tail[end] != '#') {
      ++end;
    }
    const std::string_view host_text = tail.substr(0, end);
    // "file://C:/x" names a drive, not a host: the letters start the path instead.
    if (!is_windows_drive_letter(host_text)) {
      if (!host_text.empty()) {
        if (const Status s = parse_host(host_text, true, href_); !s) return s;
        if (std::string_view(href_).substr(host_start_) == "localhost") href_.resize(host_start_);
      }
      host_end_ = href_.size();
      tail.remove_prefix(end);
      if (!tail.empty() && is_slash_or_backslash(tail[0])) tail.remove_prefix(1);
    }
  } else if (!rest.empty() && is_slash_or_backslash(rest[0])) {
    tail = rest.substr(1);
  }
  path_start_ = href_.size();
  query_and_fragment(path(tail));
  return {};
}

std::string_view UrlBuilder::path(std::string_view s) {
  const bool is_special = special();
  std::size_t p = 0;
  while (true) {
    std::size_t q = p;
    while (q < s.size()) {
      const char c = s[q];
      if (c == '/' || c == '?' || c == '#' || (is_special && c == '\\')) break;
      ++q;
    }
    const std::string_view segment = s.substr(p, q - p);
    const bool slash = q < s.size() && (s[q] == '/' || (is_special && s[q] == '\\'));
    if (is_double_dot_segment(segment)) {
      shorten_path();
      if (!slash) href_.push_back('/');
    } else if (is_single_dot_segment(segment)) {
      if (!slash) href_.push_back('/');
    } else {
      href_.push_back('/');
      if (type_ == SchemeType::file && href_.size() - 1 == path_start_ &&
          is_windows_drive_letter(segment)) {
        href_.push_back(segment[0]);
        href_.push_back(':');
      } else {
        percent_encode(href_, segment, EncodeSet::path);
      }
    }
    if (!slash) return s.substr(q);
    p = q + 1;
  }
}

void UrlBuilder::shorten_path() {
  const std::size_t len = href_.size() - path_start_;
  if (len == 0) return;
  // A file URL never climbs above its drive letter.
  if (type_ == SchemeType::file && len == 3 && is_ascii_alpha(href_[path_start_ + 1]) &&
      href_[path_start_ + 2] == ':') {
    return;
  }
  href_.resize(href_.rfind('/'));
}

void UrlBuilder::opaque_path(std::string_view s) {
  opaque_path_ = true;
  path_start_ = href_.size();
  const std::size_t end = std::min(s.find_first_of("?#"), s.size());
  // A space right before the query or fragment is escaped, so that the serialisation, once its
  // query and fragment are taken away, does not end in a space that a re-parse would strip.
  const bool space_before_tail = end < s.size() && end > 0 && s[end - 1] == ' ';
  percent_encode(href_, s.substr(0, space_before_tail ? end - 1 : end), EncodeSet::c0_control);
  if (space_before_tail) href_.append("%20");
  query_and_fragment(s.substr(end));
}

void UrlBuilder::query_and_fragment(std::string_view s) {
  if (s.starts_with('?')) {
    query_start_ = href_.size();
    href_.push_back('?');
    const std::size_t hash = std::min(s.find('#'), s.size());
    percent_encode(href_, s.substr(1, hash - 1),
                   special() ? EncodeSet::special_query : EncodeSet::query);
    s.remove_prefix(hash);
  }
  if (s.starts_with('#')) {
    fragment_start_ = href_.size();
    href_.push_back('#');
    percent_encode(href_, s.substr(1), EncodeSet::fragment);
  }
}

}  // namespace detail

std::expected<Url, UrlError> parse_url(std::string_view input) {
  std::string storage;
  const std::string_view text = detail::prepare_input(input, storage);
  return detail::UrlBuilder().run(text);
}

}  // namespace zelk::url
