#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "formats/json/error.hpp"
#include "formats/json/messages.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/value.hpp"

namespace zelk::json {

// The reading operations of Reader over an already parsed Value, so that typed readers written
// once read from text and from values alike. Errors carry no position; an object holds each
// name once, so no duplicate is ever seen; an array with elements left over after a record's
// members fails with "invalid length N, expected fewer elements in array".
class ValueReader {
 public:
  static constexpr bool from_text = false;

  explicit ValueReader(const Value& value) : current_(&value) {}

  Peek peek() const;

  bool failed() const { return failed_; }
  const JsonError& error() const { return error_; }
  [[nodiscard]] JsonError take_error() { return std::move(error_); }
  bool fail(std::string message);
  bool fail_here(std::string message) { return fail(std::move(message)); }
  [[nodiscard]] bool invalid_type(const Expected& expected);

  int take_null() const { return current_->is_null() ? 1 : 0; }
  bool read_string(std::string& out, const Expected& expected = {"a string"});
  bool read_string_view(std::string_view& out, const Expected& expected = {"a string"});
  bool read_bool(bool& out);
  bool read_number(Number& out, const Expected& expected);
  bool read_value(Value& out);
  bool read_object(Object& out, const Expected& expected = {"a map"});
  template <typename F>
  bool visit_value(F&& f) {
    return f(static_cast<const Value&>(*current_));
  }
  bool read_unit_variant(std::span<const std::string_view> names, std::size_t& index);

  struct ObjectCursor {
    const Member* next = nullptr;
    const Member* end = nullptr;
  };
  struct ArrayCursor {
    const Value* next = nullptr;
    const Value* end = nullptr;
    std::size_t size = 0;
  };
  bool begin_object(ObjectCursor& cursor);
  int next_key(ObjectCursor& cursor, std::string_view& name);
  bool begin_member_value(ObjectCursor& cursor);
  bool skip_member_value(ObjectCursor& cursor);
  bool end_object(ObjectCursor& cursor, bool ok);
  bool begin_array(ArrayCursor& cursor);
  int next_element(ArrayCursor& cursor);
  bool end_array(ArrayCursor& cursor, bool ok);

  bool finish() const { return !failed_; }

 private:
  const Value* current_;
  bool failed_ = false;
  JsonError error_;
};

}  // namespace zelk::json
