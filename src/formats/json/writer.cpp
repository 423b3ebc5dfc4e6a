#include "formats/json/writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "formats/json/float_text.hpp"
#include "formats/json/small_vector.hpp"

namespace zelk::json {
namespace {

// For each byte: 0 when it is written as itself, otherwise the letter after the backslash
// ('u' for the \u00XX form).
constexpr std::array<char, 256> make_escape_table() {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\f'] = 'f';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\t'] = 't';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}
constexpr std::array<char, 256> kEscape = make_escape_table();

template <typename Int>
void append_integer(Int value, std::string& out) {
  char buf[24];  // 20 digits and a sign at most
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec == std::errc()) out.append(buf, end);
}

// True when any of the 8 bytes in `w` must be escaped: below 0x20, '"' or '\\'. Each test is
// the usual "some byte is zero / less than n" word trick; only whether any bit is set matters.
constexpr bool word_needs_escape(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHigh = 0x8080808080808080;
  const std::uint64_t quote = w ^ (kOnes * '"');
  const std::uint64_t backslash = w ^ (kOnes * '\\');
  const std::uint64_t control = (w - kOnes * 0x20) & ~w;
  const std::uint64_t is_quote = (quote - kOnes) & ~quote;
  const std::uint64_t is_backslash = (backslash - kOnes) & ~backslash;
  return ((control | is_quote | is_backslash) & kHigh) != 0;
}

// Index of the first byte from `from` on that must be escaped, or `size` if there is none.
std::size_t next_escape(const char* data, std::size_t size, std::size_t from) {
  std::size_t i = from;
  while (size - i >= 8) {  // i <= size always holds
    std::uint64_t w;
    std::memcpy(&w, data + i, 8);
    if (word_needs_escape(w)) break;
    i += 8;
  }
  while (i < size && kEscape[static_cast<unsigned char>(data[i])] == 0) ++i;
  return i;
}

// Writes `text` as a string literal, followed by `suffix` unless it is 0. Runs of bytes without
// anything to escape (nearly all strings are one such run) are copied in one append.
void append_literal(std::string_view text, char suffix, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char* const data = text.data();
  const std::size_t size = text.size();
  std::size_t esc_at = next_escape(data, size, 0);
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  while (esc_at < size) {
    out.append(data + run, esc_at - run);
    const unsigned c = static_cast<unsigned char>(data[esc_at]);
    const char esc = kEscape[c];
    if (esc == 'u') {
      const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(u, sizeof u);
    } else {
      const char two[2] = {'\\', esc};
      out.append(two, sizeof two);
    }
    run = esc_at + 1;
    esc_at = next_escape(data, size, run);
  }
  out.append(data + run, size - run);
  out.push_back('"');
  if (suffix != 0) out.push_back(suffix);
}

struct Frame {
  const Value* container;
  std::size_t next;  // index of the next element or member to write
};

}  // namespace

void write_json_string(std::string_view text, std::string& out) {
  append_literal(text, 0, out);
}

void write_json_member_name(std::string_view name, std::string& out) {
  append_literal(name, ':', out);
}

// Iterative so that a deeply nested value cannot exhaust the call stack.
void write_compact(const Value& value, std::string& out) {
  SmallVector<Frame, 32> stack;
  const Value* current = &value;
  while (current != nullptr) {
    switch (current->kind()) {
      case Value::Kind::Null:
        out += "null";
        break;
      case Value::Kind::Bool:
        out += current->as_bool() ? "true" : "false";
        break;
      case Value::Kind::PosInt:
        append_integer(current->as_pos_int(), out);
        break;
      case Value::Kind::NegInt:
        append_integer(current->as_neg_int(), out);
        break;
      case Value::Kind::Float:
        if (std::isfinite(current->as_float()))
          append_float_text(current->as_float(), out);
        else
          out += "null";
        break;
      case Value::Kind::String:
        write_json_string(current->as_string(), out);
        break;
      case Value::Kind::Array:
        out.push_back('[');
        stack.push_back(Frame{current, 0});
        break;
      case Value::Kind::Object:
        out.push_back('{');
        stack.push_back(Frame{current, 0});
        break;
    }

    // Find the next value to write, closing every container that is finished.
    current = nullptr;
    while (current == nullptr && !stack.empty()) {
      Frame& top = stack.back();
      if (top.container->is_array()) {
        const Array& a = top.container->as_array();
        if (top.next < a.size()) {
          if (top.next > 0) out.push_back(',');
          current = &a[top.next++];
        } else {
          out.push_back(']');
          stack.pop_back();
        }
      } else {
        const Object& o = top.container->as_object();
        if (top.next < o.size()) {
          if (top.next > 0) out.push_back(',');
          const Member& m = o.begin()[top.next++];
          write_json_member_name(m.name, out);
          current = &m.value;
        } else {
          out.push_back('}');
          stack.pop_back();
        }
      }
    }
  }
}

std::string to_compact_string(const Value& value) {
  std::string out;
  out.reserve(128);
  write_compact(value, out);
  return out;
}

}  // namespace zelk::json
