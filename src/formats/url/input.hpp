#pragma once

#include <string>
#include <string_view>

namespace zelk::url::detail {

// Turns raw bytes into the text the parser reads: ill-formed UTF-8 becomes U+FFFD, leading and
// trailing C0 controls and spaces are dropped, and every TAB, LF and CR is removed. Returns a
// view of `raw` when nothing needs rewriting, else a view of `storage`.
std::string_view prepare_input(std::string_view raw, std::string& storage);

}  // namespace zelk::url::detail
