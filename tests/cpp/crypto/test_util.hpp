#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/bytes.hpp"

namespace zelk::test {

inline Bytes hex(std::string_view text) {
  auto nibble = [](char c) -> std::uint8_t {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return static_cast<std::uint8_t>(c - 'A' + 10);
  };
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
  return out;
}

inline std::array<std::uint8_t, 32> hex32(std::string_view text) {
  std::array<std::uint8_t, 32> out{};
  const Bytes b = hex(text);
  for (std::size_t i = 0; i < out.size() && i < b.size(); ++i) out[i] = b[i];
  return out;
}

// RFC 8032 section 7.1, test 1.
inline constexpr std::string_view kRfc8032Secret1 =
    "9d61b19deffd5a60ba844af492ec2cc44449c5697b326919703bac031cae7f60";
inline constexpr std::string_view kRfc8032Public1B64 =
    "11qYAYKxCrfVS_7TyWQHOg7hcvPapiMlrwIaaPcHURo";

// RFC 6979 A.2.5: the P-256 private scalar.
inline constexpr std::string_view kRfc6979Scalar =
    "C9AFA9D845BA75166B5C215767B1D6934E50C3DB36E89B127B8A622B120F6721";

}  // namespace zelk::test
