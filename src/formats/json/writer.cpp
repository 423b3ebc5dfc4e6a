#include "formats/json/writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>

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

struct Frame {
  const Value* container;
  std::size_t next;  // index of the next element or member to write
};

}  // namespace

void write_json_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  const char* p = text.data();
  const char* const end = p + text.size();
  const char* run = p;  // start of the bytes not yet copied
  for (; p < end; ++p) {
    const char esc = kEscape[static_cast<unsigned char>(*p)];
    if (esc == 0) continue;
    out.append(run, p);
    if (esc == 'u') {
      const unsigned c = static_cast<unsigned char>(*p);
      const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(u, sizeof u);
    } else {
      const char two[2] = {'\\', esc};
      out.append(two, sizeof two);
    }
    run = p + 1;
  }
  out.append(run, end);
  out.push_back('"');
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
          write_json_string(m.name, out);
          out.push_back(':');
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
