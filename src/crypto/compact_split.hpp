#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

namespace zelk {

// The three segments of a compact token, each a part of the token text.
struct JwsSegments {
  std::string_view header;
  std::string_view payload;
  std::string_view signature;
};

// Whether a segment may be empty: the system's own tokens refuse it, OIDC tokens leave an empty
// segment to the decoding that follows.
enum class EmptySegments : std::uint8_t { Refused, Allowed };

// Why a token's text did not split; each reader words it in its own error.
struct CompactSplitError {
  enum class Kind : std::uint8_t {
    SegmentCount,  // not exactly two full stops
    EmptySegment,  // three segments, one of them empty (only when refused)
  };
  Kind kind = Kind::SegmentCount;
  std::size_t segments = 0;  // SegmentCount: how many segments the full stops make
};

// The one split of a compact token at its two full stops. Counting the segments is left to the
// failure, so a good token is scanned once.
[[nodiscard]] inline std::expected<JwsSegments, CompactSplitError> split_compact_token(
    std::string_view token, EmptySegments empty) {
  const std::size_t first = token.find('.');
  const std::size_t second =
      first == std::string_view::npos ? std::string_view::npos : token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
    return std::unexpected(
        CompactSplitError{CompactSplitError::Kind::SegmentCount,
                          static_cast<std::size_t>(std::ranges::count(token, '.')) + 1});
  JwsSegments s{token.substr(0, first), token.substr(first + 1, second - first - 1),
                token.substr(second + 1)};
  if (empty == EmptySegments::Refused &&
      (s.header.empty() || s.payload.empty() || s.signature.empty()))
    return std::unexpected(CompactSplitError{CompactSplitError::Kind::EmptySegment});
  return s;
}

}  // namespace zelk
