#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "formats/bytes.hpp"

namespace zelk {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest sha256(ByteView data);
inline Sha256Digest sha256(std::string_view text) {
  return sha256(as_bytes(text));
}

// Lower-case hexadecimal form, two characters a byte.
std::string lower_hex(ByteView bytes);

}  // namespace zelk
