#pragma once

// IPv4 and IPv6 host forms: parsing as the URL Standard reads them, and their serialisation.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelk::url::detail {

using Ipv6Address = std::array<std::uint16_t, 8>;

// True when the last dot-separated label (ignoring one trailing empty label) is a number, which
// makes the whole domain an IPv4 address or a failure.
bool ends_in_a_number(std::string_view domain) noexcept;

std::optional<std::uint32_t> parse_ipv4(std::string_view text) noexcept;
void serialize_ipv4(std::uint32_t address, std::string& out);

// `text` is the inside of the brackets.
std::optional<Ipv6Address> parse_ipv6(std::string_view text) noexcept;
// Appends the bracketed, compressed form.
void serialize_ipv6(const Ipv6Address& address, std::string& out);

}  // namespace zelk::url::detail
