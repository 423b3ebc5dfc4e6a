#pragma once

// AID members of JSON records: read as a string and validated by parse_aid, a refusal placed just
// after the string with the AID error's message; written back as the text read.

#include "core/aid.hpp"
#include "formats/json/codec.hpp"

namespace zelk {

struct AidStringSpec {
  using type = Aid;
  [[nodiscard]] static std::expected<Aid, std::string> parse(std::string text) {
    auto aid = parse_aid_owned(std::move(text));
    if (!aid) return std::unexpected(aid.error().message());
    return std::move(*aid);
  }
  static std::string_view text(const Aid& aid) { return aid.text(); }
};

}  // namespace zelk

template <>
struct zelk::json::Codec<zelk::Aid> : zelk::json::ConvertedString<zelk::AidStringSpec> {};
