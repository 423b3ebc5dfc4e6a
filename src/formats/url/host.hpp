#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "formats/url/url.hpp"

namespace zelk::url::detail {

// Appends the serialised host parsed from `text` to `out`. Special URLs get domain, IPv4 and
// IPv6 hosts (`text` must not be empty); other URLs get opaque or IPv6 hosts. On failure `out`
// may hold a partial host, which the caller discards with the whole URL.
[[nodiscard]] std::expected<void, UrlErrorKind> parse_host(std::string_view text, bool special,
                                                           std::string& out);

}  // namespace zelk::url::detail
