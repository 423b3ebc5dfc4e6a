#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/json/error.hpp"
#include "formats/json/messages.hpp"
#include "formats/json/value.hpp"

namespace zelk::json {

// What the next value starts with.
enum class Peek : std::uint8_t { End, Null, True, False, Number, String, Array, Object, Other };

// A pull reader over JSON text (bytes; strings must be UTF-8). Typed readers (see record.hpp) drive
// it token by token; the same operations exist on ValueReader, so one reading routine serves both.
//
// Every operation returns false (or -1) once it has failed; the first error is kept and later ones
// are dropped. Syntax errors get their position at once. Data errors ("invalid type", "unknown
// field", ...) get it at the first stamping point they pass: just after a scalar value, or, for
// errors raised at the level of an object or array, when that container gives up (after skipping
// whitespace and a directly following closing bracket, or a comma and the whitespace after it).
class Reader {
 public:
  static constexpr bool from_text = true;
  static constexpr int kMaxDepth = 128;  // the container that would use the last level fails

  explicit Reader(std::string_view text) : text_(text), pos_(0) {}

  // Skips whitespace and tells what the next value starts with.
  Peek peek();

  // --- failures -------------------------------------------------------------------------------
  bool failed() const { return failed_; }
  const JsonError& error() const { return error_; }
  [[nodiscard]] JsonError take_error() { return std::move(error_); }
  // A data error without a position yet: the enclosing container will place it.
  bool fail(std::string message);
  // A data error placed here, just after the value read last.
  bool fail_here(std::string message);
  // "invalid type: FOUND, expected WHAT" for the next value (scalars are read to show them; an
  // array or object is not entered). Syntax errors inside the value come first.
  [[nodiscard]] bool invalid_type(const Expected& expected);

  // --- scalars --------------------------------------------------------------------------------
  // 1 when the next value is null (now consumed), 0 when it is something else, -1 on error.
  int take_null();
  bool read_string(std::string& out, const Expected& expected = {"a string"});
  // The decoded string; valid until the reader is used again.
  bool read_string_view(std::string_view& out, const Expected& expected = {"a string"});
  bool read_bool(bool& out);
  bool read_number(Number& out, const Expected& expected);
  // Any JSON value (objects keep the first position and the last value of a repeated name).
  bool read_value(Value& out);
  bool read_object(Object& out, const Expected& expected = {"a map"});
  // Parses the next value into a Value and hands it to `f` (returns what f returns).
  template <typename F>
  bool visit_value(F&& f) {
    Value v;
    return read_value(v) && f(static_cast<const Value&>(v));
  }
  // A unit variant as a string, or as an object with one member whose value is null.
  bool read_unit_variant(std::span<const std::string_view> names, std::size_t& index);

  // --- containers -----------------------------------------------------------------------------
  struct ObjectCursor {
    bool first = true;
  };
  struct ArrayCursor {
    bool first = true;
  };
  // Precondition: peek() returned Object / Array.
  [[nodiscard]] bool begin_object(ObjectCursor& cursor);
  // 1: a member name was read into `name` (valid until the reader is used again); 0: the object
  // ends here; -1: error.
  [[nodiscard]] int next_key(ObjectCursor& cursor, std::string_view& name);
  // Reads the ':' before a member's value.
  [[nodiscard]] bool begin_member_value(ObjectCursor& cursor);
  // Reads the ':' and the member's value, checked as strictly as any value, and drops it
  // (undeclared members of readers that ignore them).
  [[nodiscard]] bool skip_member_value(ObjectCursor& cursor);
  // Closes the object; when `ok` is false, places a pending data error instead.
  [[nodiscard]] bool end_object(ObjectCursor& cursor, bool ok);
  [[nodiscard]] bool begin_array(ArrayCursor& cursor);
  // 1: an element follows; 0: the array ends here; -1: error.
  [[nodiscard]] int next_element(ArrayCursor& cursor);
  // Closes the array: anything but ']' after the last element read is "trailing characters" (or
  // "trailing comma"). When `ok` is false, places a pending data error instead.
  [[nodiscard]] bool end_array(ArrayCursor& cursor, bool ok);

  // --- whole documents --------------------------------------------------------------------------
  // Only whitespace may follow the value read.
  [[nodiscard]] bool finish();
  std::size_t offset() const { return pos_; }
  std::string_view text() const { return text_; }
  // True once read_value has met a name repeated in one object (and kept its last value).
  bool saw_repeated_name() const { return repeated_name_; }
  // True once skip_member_value has passed over a value without reading it.
  bool skipped_member() const { return skipped_member_; }

 private:
  bool at_end() const { return pos_ >= text_.size(); }
  unsigned char byte() const { return static_cast<unsigned char>(text_[pos_]); }
  int peek_byte();  // after whitespace; -1 at the end

  // Syntax errors: `at` counts the byte at the current offset, `before` does not.
  bool syntax_at(std::string_view message);
  bool syntax_before(std::string_view message);
  void set_error(std::string message, std::size_t count);
  void place_pending();  // gives an unplaced data error the current offset

  bool enter();  // uses one nesting level; fails at the last
  void leave() { ++depth_left_; }

  bool parse_ident(std::string_view rest);
  bool parse_number(Number& out);
  bool parse_long_integer(bool negative, std::uint64_t significand, Number& out);
  bool parse_decimal(bool negative, std::uint64_t significand, std::int64_t exponent, Number& out);
  bool parse_exponent(bool negative, std::uint64_t significand, std::int64_t exponent, Number& out);
  [[nodiscard]] bool finish_float(bool negative, std::uint64_t significand, std::int64_t exponent,
                                  Number& out);
  // After the opening quote. Appends to `out` when given; otherwise leaves the text in `view`,
  // pointing into the input or into scratch_.
  bool parse_string(std::string* out, std::string_view* view);
  bool parse_escape(std::string& out);
  bool parse_hex4(std::uint32_t& out);
  bool parse_colon();
  bool read_object_members(Object& out);
  bool read_array_elements(Array& out);

  std::string_view text_;
  std::size_t pos_;
  std::size_t number_start_ = 0;  // where the number being parsed began, sign included
  int depth_left_ = kMaxDepth;
  bool failed_ = false;
  bool repeated_name_ = false;
  bool skipped_member_ = false;
  JsonError error_;
  std::string scratch_;
};

}  // namespace zelk::json
