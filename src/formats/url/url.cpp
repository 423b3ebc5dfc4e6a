#include "formats/url/url.hpp"

namespace zelk::url {

std::string_view url_error_message(UrlErrorKind kind) noexcept {
  switch (kind) {
    case UrlErrorKind::empty_host:
      return "empty host";
    case UrlErrorKind::invalid_international_domain_name:
      return "invalid international domain name";
    case UrlErrorKind::invalid_port_number:
      return "invalid port number";
    case UrlErrorKind::invalid_ipv4_address:
      return "invalid IPv4 address";
    case UrlErrorKind::invalid_ipv6_address:
      return "invalid IPv6 address";
    case UrlErrorKind::invalid_domain_character:
      return "invalid domain character";
    case UrlErrorKind::relative_url_without_base:
      return "relative URL without a base";
    case UrlErrorKind::relative_url_with_opaque_base:
      return "relative URL with a cannot-be-a-base base";
    case UrlErrorKind::host_setter_on_opaque_path:
      return "a cannot-be-a-base URL doesn\u2019t have a host to set";
    case UrlErrorKind::too_long:
      return "URLs more than 4 GB are not supported";
  }
  return "invalid URL";
}

std::string_view UrlError::message() const noexcept {
  return url_error_message(kind);
}

std::string_view Url::username() const noexcept {
  if (!has_host_) return {};
  const std::size_t start = std::size_t{scheme_end_} + 3;
  return std::string_view(href_).substr(start, username_end_ - start);
}

std::string_view Url::password() const noexcept {
  if (!has_host_ || username_end_ >= host_start_ || href_[username_end_] != ':') return {};
  return std::string_view(href_).substr(username_end_ + 1, host_start_ - 1 - (username_end_ + 1));
}

std::string_view Url::host() const noexcept {
  if (!has_host_) return {};
  return std::string_view(href_).substr(host_start_, host_end_ - host_start_);
}

std::optional<std::uint16_t> Url::port() const noexcept {
  if (!has_port_) return std::nullopt;
  return port_;
}

std::string_view Url::path() const noexcept {
  std::size_t end = href_.size();
  if (query_start_ != npos) {
    end = query_start_;
  } else if (fragment_start_ != npos) {
    end = fragment_start_;
  }
  return std::string_view(href_).substr(path_start_, end - path_start_);
}

std::optional<std::string_view> Url::query() const noexcept {
  if (query_start_ == npos) return std::nullopt;
  const std::size_t end = fragment_start_ != npos ? fragment_start_ : href_.size();
  return std::string_view(href_).substr(query_start_ + 1, end - (query_start_ + 1));
}

std::optional<std::string_view> Url::fragment() const noexcept {
  if (fragment_start_ == npos) return std::nullopt;
  return std::string_view(href_).substr(fragment_start_ + 1);
}

}  // namespace zelk::url
