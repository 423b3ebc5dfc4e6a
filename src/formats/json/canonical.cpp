#include "formats/json/canonical.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "formats/json/float_text.hpp"
#include "formats/json/small_vector.hpp"
#include "formats/json/writer.hpp"
#include "formats/utf8.hpp"

namespace zelk::json {
namespace {

// Reads a UTF-8 name as UTF-16 code units. Names held by a Value are valid UTF-8; should one not
// be, each byte that does not start a well-formed sequence stands for itself, which keeps the
// order total (the sort relies on that) without any undefined behaviour.
class Utf16Units {
 public:
  Utf16Units(std::string_view s, std::size_t pos) : text_(s), pos_(pos) {}

  // False at the end of the name.
  bool next(char16_t& unit) {
    if (low_ != 0) {
      unit = low_;
      low_ = 0;
      return true;
    }
    if (pos_ >= text_.size()) return false;
    const std::uint32_t cp = decode();
    if (cp >= 0x10000) {
      unit = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      low_ = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit = static_cast<char16_t>(cp);
    }
    return true;
  }

 private:
  std::uint32_t decode() {
    const Utf8Sequence seq = decode_utf8(text_, pos_);
    if (!seq.valid) return static_cast<unsigned char>(text_[pos_++]);  // starts no sequence
    pos_ += seq.length;
    return seq.cp;
  }

  std::string_view text_;
  std::size_t pos_;
  char16_t low_ = 0;  // pending trailing surrogate
};

// Three-way comparison of two names by their UTF-16 code units.
int compare_utf16(std::string_view a, std::string_view b) {
  // Common case: a shared ASCII prefix is compared as bytes; ASCII bytes are their own code
  // units, so both names sit on a character boundary where it ends.
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i] && static_cast<unsigned char>(a[i]) < 0x80) ++i;
  if (i == n) return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  const auto ca = static_cast<unsigned char>(a[i]);
  const auto cb = static_cast<unsigned char>(b[i]);
  if (ca < 0x80 && cb < 0x80) return ca < cb ? -1 : 1;

  // UTF-16 order differs from byte order for U+E000..U+FFFF against supplementary characters,
  // so the rest is compared unit by unit.
  Utf16Units ua(a, i);
  Utf16Units ub(b, i);
  for (;;) {
    char16_t x = 0;
    char16_t y = 0;
    const bool has_x = ua.next(x);
    const bool has_y = ub.next(y);
    if (!has_x || !has_y) return has_x == has_y ? 0 : (has_x ? 1 : -1);
    if (x != y) return x < y ? -1 : 1;
  }
}

// Members of one object are contiguous, so the address breaks ties between equal names (only
// possible in an object built without the duplicate check) in stored order.
bool member_before(const Member* a, const Member* b) {
  const int c = compare_utf16(a->name, b->name);
  if (c != 0) return c < 0;
  return std::less<const Member*>{}(a, b);
}

struct Frame {
  const Value* container;
  std::size_t order_begin;  // objects: where their sorted members start in the order buffer
  std::size_t count;
  std::size_t next;
};

}  // namespace

// Iterative so that a deeply nested value cannot exhaust the call stack. Objects are not copied:
// each gets a sorted run of member pointers in one shared buffer, released when it is closed.
std::expected<void, CanonicalJsonError> append_canonical(const Value& value, std::string& out) {
  const std::size_t original_size = out.size();
  SmallVector<Frame, 32> stack;
  SmallVector<const Member*, 64> order;
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
      case Value::Kind::NegInt:
        append_ecmascript_number(current->number_as_double(), out);
        break;
      case Value::Kind::Float:
        if (!std::isfinite(current->as_float())) {
          out.resize(original_size);
          return std::unexpected(CanonicalJsonError{"invalid float value"});
        }
        append_ecmascript_number(current->as_float(), out);
        break;
      case Value::Kind::String:
        // RFC 8785 escapes exactly what the compact writer escapes.
        write_json_string(current->as_string(), out);
        break;
      case Value::Kind::Array:
        out.push_back('[');
        stack.push_back(Frame{current, 0, current->as_array().size(), 0});
        break;
      case Value::Kind::Object: {
        out.push_back('{');
        const Object& o = current->as_object();
        const std::size_t begin = order.size();
        for (const Member& m : o) order.push_back(&m);
        std::sort(order.data() + begin, order.data() + order.size(), member_before);
        stack.push_back(Frame{current, begin, o.size(), 0});
        break;
      }
    }

    // Find the next value to write, closing every container that is finished.
    current = nullptr;
    while (current == nullptr && !stack.empty()) {
      Frame& top = stack.back();
      const bool is_array = top.container->is_array();
      if (top.next < top.count) {
        if (top.next > 0) out.push_back(',');
        if (is_array) {
          current = &top.container->as_array()[top.next];
        } else {
          const Member* m = order.data()[top.order_begin + top.next];
          write_json_member_name(m->name, out);
          current = &m->value;
        }
        ++top.next;
      } else {
        out.push_back(is_array ? ']' : '}');
        if (!is_array) order.truncate(top.order_begin);
        stack.pop_back();
      }
    }
  }
  return {};
}

std::expected<std::string, CanonicalJsonError> canonical_json(const Value& value) {
  std::string out;
  out.reserve(256);
  if (auto r = append_canonical(value, out); !r) return std::unexpected(r.error());
  return out;
}

}  // namespace zelk::json
