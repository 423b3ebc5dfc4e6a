#pragma once

#include <string_view>

namespace zelk {

// True when the UTF-8 text holds a character with the Unicode White_Space property. Bytes that
// do not form a UTF-8 sequence are not white space.
[[nodiscard]] bool has_white_space(std::string_view text);

}  // namespace zelk
