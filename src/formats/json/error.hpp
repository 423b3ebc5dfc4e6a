#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelk::json {

// A failure of the JSON reader: the message, and where in the text it surfaced. Errors found while
// reading an already parsed value carry no position (line 0).
struct JsonError {
  std::string message;
  std::size_t line = 0;  // 1-based; 0 when the error has no position
  std::size_t column = 0;

  bool has_position() const { return line != 0; }
  // The message followed by " at line L column C" when the error has a position.
  std::string full() const;

  friend bool operator==(const JsonError&, const JsonError&) = default;
};

// Line and column after the first `count` bytes of `text`: only LF starts a line, columns count
// bytes, and the column is 0 right after an LF.
void position_after(std::string_view text, std::size_t count, std::size_t& line,
                    std::size_t& column);

// A message that already ends in " at line L column C" (a converter passing on another reader's
// message) gives up that suffix to the error's position. Leaves `error` alone otherwise.
void take_position_suffix(JsonError& error);

}  // namespace zelk::json
