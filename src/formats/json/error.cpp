#include "formats/json/error.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zelk::json {

std::string JsonError::full() const {
  if (line == 0) return message;
  std::string out;
  out.reserve(message.size() + 32);
  out += message;
  out += " at line ";
  out += std::to_string(line);
  out += " column ";
  out += std::to_string(column);
  return out;
}

void position_after(std::string_view text, std::size_t count, std::size_t& line,
                    std::size_t& column) {
  count = std::min(count, text.size());
  std::size_t lines = 1;
  std::size_t line_start = 0;
  const char* data = text.data();
  for (std::size_t i = 0; i < count;) {
    const void* hit = std::memchr(data + i, '\n', count - i);
    if (hit == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(hit) - data) + 1;
    ++lines;
    line_start = i;
  }
  line = lines;
  column = count - line_start;
}

namespace {

// Parses a run of decimal digits; false when empty or beyond size_t.
bool parse_count(std::string_view digits, std::size_t& out) {
  if (digits.empty()) return false;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), out);
  return ec == std::errc() && end == digits.data() + digits.size();
}

std::size_t digit_run(std::string_view s, std::size_t from) {
  while (from < s.size() && s[from] >= '0' && s[from] <= '9') ++from;
  return from;
}

}  // namespace

void take_position_suffix(JsonError& error) {
  constexpr std::string_view kAtLine = " at line ";
  constexpr std::string_view kColumn = " column ";
  const std::string& msg = error.message;
  const std::size_t suffix = msg.rfind(kAtLine);
  if (suffix == std::string::npos) return;
  const std::size_t line_from = suffix + kAtLine.size();
  const std::size_t line_to = digit_run(msg, line_from);
  if (std::string_view(msg).substr(line_to).substr(0, kColumn.size()) != kColumn) return;
  const std::size_t column_from = line_to + kColumn.size();
  const std::size_t column_to = digit_run(msg, column_from);
  if (column_to != msg.size()) return;
  std::size_t line = 0;
  std::size_t column = 0;
  const std::string_view view(msg);
  if (!parse_count(view.substr(line_from, line_to - line_from), line)) return;
  if (!parse_count(view.substr(column_from, column_to - column_from), column)) return;
  error.message.resize(suffix);
  error.line = line;
  error.column = column;
}

}  // namespace zelk::json
