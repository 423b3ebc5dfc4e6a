#pragma once

// Absolute URL parsing and serialisation (WHATWG URL Standard, no base URL).

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace zelk::url {

enum class UrlErrorKind : std::uint8_t {
  empty_host,
  invalid_international_domain_name,
  invalid_port_number,
  invalid_ipv4_address,
  invalid_ipv6_address,
  invalid_domain_character,
  relative_url_without_base,
  // The next two need a base URL or the host setter; parse_url never returns them.
  relative_url_with_opaque_base,
  host_setter_on_opaque_path,
  too_long,
};

struct UrlError {
  UrlErrorKind kind;

  // The fixed description of the failure, e.g. "empty host".
  std::string_view message() const noexcept;

  friend bool operator==(const UrlError&, const UrlError&) = default;
};

std::string_view url_error_message(UrlErrorKind kind) noexcept;

namespace detail {
class UrlBuilder;
}

// A parsed URL kept as its serialisation plus the offsets of its components; every accessor
// returns a view into href().
class Url {
 public:
  const std::string& href() const noexcept { return href_; }

  // Lower-cased, without the trailing ':'.
  std::string_view scheme() const noexcept {
    return std::string_view(href_).substr(0, scheme_end_);
  }
  std::string_view username() const noexcept;
  std::string_view password() const noexcept;
  bool has_host() const noexcept { return has_host_; }
  // Serialised host; empty when the URL has no host or an empty one.
  std::string_view host() const noexcept;
  std::optional<std::uint16_t> port() const noexcept;
  // Serialised path (the opaque path itself when has_opaque_path()).
  std::string_view path() const noexcept;
  // Without the leading '?' / '#'; nullopt when absent (distinct from present but empty).
  std::optional<std::string_view> query() const noexcept;
  std::optional<std::string_view> fragment() const noexcept;
  bool has_opaque_path() const noexcept { return opaque_path_; }
  bool is_special() const noexcept { return special_; }

  friend bool operator==(const Url& a, const Url& b) noexcept { return a.href_ == b.href_; }

 private:
  friend class detail::UrlBuilder;
  static constexpr std::uint32_t npos = UINT32_MAX;

  Url() = default;

  std::string href_;
  std::uint32_t scheme_end_ = 0;    // index of the ':' after the scheme
  std::uint32_t username_end_ = 0;  // ':' before the password, '@', or host_start_
  std::uint32_t host_start_ = 0;
  std::uint32_t host_end_ = 0;
  std::uint32_t path_start_ = 0;
  std::uint32_t query_start_ = npos;     // index of '?'
  std::uint32_t fragment_start_ = npos;  // index of '#'
  std::uint16_t port_ = 0;
  bool has_port_ = false;
  bool has_host_ = false;
  bool opaque_path_ = false;
  bool special_ = false;
};

// Parses `input` (raw bytes; invalid UTF-8 is read as U+FFFD) as an absolute URL.
[[nodiscard]] std::expected<Url, UrlError> parse_url(std::string_view input);

}  // namespace zelk::url
