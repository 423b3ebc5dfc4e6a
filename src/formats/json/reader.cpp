#include "formats/json/reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "formats/utf8.hpp"

namespace zelk::json {
namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kExpMax = std::numeric_limits<std::int32_t>::max();

constexpr bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
constexpr bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

// Bytes a string holds as themselves with no closer look: printable ASCII but '"' and '\'.
constexpr std::array<bool, 256> make_plain_table() {
  std::array<bool, 256> t{};
  for (int c = 0x20; c < 0x80; ++c) t[c] = true;
  t['"'] = false;
  t['\\'] = false;
  return t;
}
constexpr std::array<bool, 256> kPlain = make_plain_table();

// Whether significand * 10 + digit would not fit 64 bits.
constexpr bool grows_past_u64(std::uint64_t significand, unsigned digit) {
  return significand > kU64Max / 10 || (significand == kU64Max / 10 && digit > kU64Max % 10);
}

int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr std::string_view kControlInString =
    "control character (\\u0000-\\u001F) found while parsing a string";

}  // namespace

// ---- failures -----------------------------------------------------------------------------------

void Reader::set_error(std::string message, std::size_t count) {
  if (failed_) return;
  failed_ = true;
  error_.message = std::move(message);
  position_after(text_, count, error_.line, error_.column);
}

bool Reader::syntax_at(std::string_view message) {
  set_error(std::string(message), std::min(pos_ + 1, text_.size()));
  return false;
}

bool Reader::syntax_before(std::string_view message) {
  set_error(std::string(message), pos_);
  return false;
}

bool Reader::fail(std::string message) {
  if (failed_) return false;
  failed_ = true;
  error_.message = std::move(message);
  error_.line = 0;
  error_.column = 0;
  take_position_suffix(error_);
  return false;
}

bool Reader::fail_here(std::string message) {
  if (failed_) return false;
  fail(std::move(message));
  place_pending();
  return false;
}

void Reader::place_pending() {
  if (failed_ && error_.line == 0) position_after(text_, pos_, error_.line, error_.column);
}

// ---- tokens -------------------------------------------------------------------------------------

int Reader::peek_byte() {
  while (pos_ < text_.size() && is_space(byte())) ++pos_;
  return pos_ < text_.size() ? byte() : -1;
}

Peek Reader::peek() {
  const int c = peek_byte();
  switch (c) {
    case -1:
      return Peek::End;
    case 'n':
      return Peek::Null;
    case 't':
      return Peek::True;
    case 'f':
      return Peek::False;
    case '"':
      return Peek::String;
    case '[':
      return Peek::Array;
    case '{':
      return Peek::Object;
    default:
      return c == '-' || is_digit(static_cast<unsigned char>(c)) ? Peek::Number : Peek::Other;
  }
}

bool Reader::enter() {
  if (--depth_left_ == 0) return syntax_at("recursion limit exceeded");
  ++pos_;
  return true;
}

bool Reader::parse_ident(std::string_view rest) {
  for (char expected : rest) {
    if (at_end()) return syntax_before("EOF while parsing a value");
    if (text_[pos_++] != expected) return syntax_before("expected ident");
  }
  return true;
}

bool Reader::parse_colon() {
  const int c = peek_byte();
  if (c == ':') {
    ++pos_;
    return true;
  }
  return syntax_at(c < 0 ? "EOF while parsing an object" : "expected `:`");
}

// ---- numbers ------------------------------------------------------------------------------------
// Integers are taken digit by digit. A float's text, once its syntax is checked, is converted as a
// whole to the correctly rounded double (what RFC 8785 peers read); the digits kept in a 64-bit
// significand and the decimal exponent only tell an overflow from an underflow.

bool Reader::parse_number(Number& out) {
  number_start_ = pos_;
  bool negative = false;
  if (byte() == '-') {
    ++pos_;
    negative = true;
  }
  if (at_end()) return syntax_before("EOF while parsing a value");
  const unsigned char first = byte();
  ++pos_;
  std::uint64_t significand = 0;
  if (first == '0') {
    if (!at_end() && is_digit(byte())) return syntax_at("invalid number");
  } else if (first >= '1' && first <= '9') {
    significand = first - '0';
    while (!at_end() && is_digit(byte())) {
      const unsigned digit = byte() - '0';
      if (grows_past_u64(significand, digit)) return parse_long_integer(negative, significand, out);
      ++pos_;
      significand = significand * 10 + digit;
    }
  } else {
    return syntax_before("invalid number");
  }
  if (!at_end()) {
    if (byte() == '.') return parse_decimal(negative, significand, 0, out);
    if (byte() == 'e' || byte() == 'E') return parse_exponent(negative, significand, 0, out);
  }
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;  // |i64 min|
  if (!negative) {
    out = {.kind = Number::Kind::PosInt, .pos = significand};
  } else if (significand == 0 || significand > kMinMagnitude) {
    out = {.kind = Number::Kind::Float, .real = -static_cast<double>(significand)};
  } else {
    const std::int64_t value = significand == kMinMagnitude
                                   ? std::numeric_limits<std::int64_t>::min()
                                   : -static_cast<std::int64_t>(significand);
    out = {.kind = Number::Kind::NegInt, .neg = value};
  }
  return true;
}

bool Reader::parse_long_integer(bool negative, std::uint64_t significand, Number& out) {
  std::int64_t exponent = 0;
  while (!at_end()) {
    const unsigned char c = byte();
    if (is_digit(c)) {
      ++pos_;
      ++exponent;
    } else if (c == '.') {
      return parse_decimal(negative, significand, exponent, out);
    } else if (c == 'e' || c == 'E') {
      return parse_exponent(negative, significand, exponent, out);
    } else {
      break;
    }
  }
  return finish_float(negative, significand, exponent, out);
}

bool Reader::parse_decimal(bool negative, std::uint64_t significand, std::int64_t exponent,
                           Number& out) {
  ++pos_;  // '.'
  bool any_digit = false;
  while (!at_end() && is_digit(byte())) {
    const unsigned digit = byte() - '0';
    ++pos_;
    any_digit = true;
    if (grows_past_u64(significand, digit)) {
      while (!at_end() && is_digit(byte())) ++pos_;
      break;
    }
    significand = significand * 10 + digit;
    --exponent;
  }
  if (!any_digit) return syntax_at(at_end() ? "EOF while parsing a value" : "invalid number");
  if (!at_end() && (byte() == 'e' || byte() == 'E'))
    return parse_exponent(negative, significand, exponent, out);
  return finish_float(negative, significand, exponent, out);
}

bool Reader::parse_exponent(bool negative, std::uint64_t significand, std::int64_t exponent,
                            Number& out) {
  ++pos_;  // 'e' or 'E'
  bool positive_exp = true;
  if (!at_end() && byte() == '+') {
    ++pos_;
  } else if (!at_end() && byte() == '-') {
    ++pos_;
    positive_exp = false;
  }
  if (at_end()) return syntax_before("EOF while parsing a value");
  const unsigned char first = byte();
  ++pos_;
  if (!is_digit(first)) return syntax_before("invalid number");
  std::int64_t exp = first - '0';
  while (!at_end() && is_digit(byte())) {
    const int digit = byte() - '0';
    ++pos_;
    if (exp > kExpMax / 10 || (exp == kExpMax / 10 && digit > kExpMax % 10)) {
      // Beyond any representable scale: infinite (refused) or zero.
      if (significand != 0 && positive_exp) return syntax_before("number out of range");
      while (!at_end() && is_digit(byte())) ++pos_;
      out = {.kind = Number::Kind::Float, .real = negative ? -0.0 : 0.0};
      return true;
    }
    exp = exp * 10 + digit;
  }
  return finish_float(negative, significand, positive_exp ? exponent + exp : exponent - exp, out);
}

bool Reader::finish_float(bool negative, std::uint64_t significand, std::int64_t exponent,
                          Number& out) {
  const char* first = text_.data() + number_start_;
  const char* last = text_.data() + pos_;
  double f = 0.0;
  const auto [end, ec] = std::from_chars(first, last, f);
  if (ec == std::errc::result_out_of_range) {
    // Out of range either way: beyond the largest double (refused) or below the smallest
    // subnormal (zero). significand * 10^exponent has at least one non-zero digit here.
    std::int64_t decimal_exponent = exponent;
    for (std::uint64_t s = significand; s >= 10; s /= 10) ++decimal_exponent;
    if (decimal_exponent >= 0) return syntax_before("number out of range");
    f = negative ? -0.0 : 0.0;  // from_chars keeps the sign itself, but not on underflow
  } else if (ec != std::errc() || end != last) {
    return syntax_before("invalid number");  // not reached: the syntax was checked above
  }
  out = {.kind = Number::Kind::Float, .real = f};
  return true;
}

// ---- strings ------------------------------------------------------------------------------------

bool Reader::parse_hex4(std::uint32_t& out) {
  if (text_.size() - pos_ < 4) {
    pos_ = text_.size();
    return syntax_before("EOF while parsing a string");
  }
  std::uint32_t v = 0;
  bool valid = true;
  for (int i = 0; i < 4; ++i) {
    const int d = hex_digit(byte());
    ++pos_;
    if (d < 0) valid = false;
    v = (v << 4) | static_cast<std::uint32_t>(d < 0 ? 0 : d);
  }
  if (!valid) return syntax_before("invalid escape");
  out = v;
  return true;
}

bool Reader::parse_escape(std::string& out) {
  if (at_end()) return syntax_before("EOF while parsing a string");
  const char c = text_[pos_++];
  switch (c) {
    case '"':
    case '\\':
    case '/':
      out += c;
      return true;
    case 'b':
      out += '\b';
      return true;
    case 'f':
      out += '\f';
      return true;
    case 'n':
      out += '\n';
      return true;
    case 'r':
      out += '\r';
      return true;
    case 't':
      out += '\t';
      return true;
    case 'u':
      break;
    default:
      return syntax_before("invalid escape");
  }
  std::uint32_t first = 0;
  if (!parse_hex4(first)) return false;
  if (first >= 0xDC00 && first <= 0xDFFF)
    return syntax_before("lone leading surrogate in hex escape");
  if (first < 0xD800 || first > 0xDBFF) {
    append_utf8(first, out);
    return true;
  }
  // A leading surrogate must be followed by the escape of a trailing one.
  if (at_end()) return syntax_before("EOF while parsing a string");
  if (byte() != '\\') {
    ++pos_;
    return syntax_before("unexpected end of hex escape");
  }
  ++pos_;
  if (at_end()) return syntax_before("EOF while parsing a string");
  if (byte() != 'u') {
    ++pos_;
    return syntax_before("unexpected end of hex escape");
  }
  ++pos_;
  std::uint32_t second = 0;
  if (!parse_hex4(second)) return false;
  if (second < 0xDC00 || second > 0xDFFF)
    return syntax_before("lone leading surrogate in hex escape");
  append_utf8(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), out);
  return true;
}

bool Reader::parse_string(std::string* out, std::string_view* view) {
  const char* data = text_.data();
  const std::size_t size = text_.size();
  std::size_t start = pos_;
  std::string* sink = out;  // a view needs scratch_ only once an escape appears
  bool bad_utf8 = false;    // reported after the closing quote: other errors in the string win
  for (;;) {
    while (pos_ < size && kPlain[static_cast<unsigned char>(data[pos_])]) ++pos_;
    if (pos_ >= size) return syntax_before("EOF while parsing a string");
    const auto c = static_cast<unsigned char>(data[pos_]);
    if (c == '"') {
      if (sink != nullptr) {
        sink->append(data + start, pos_ - start);
        if (view != nullptr) *view = *sink;
      } else {
        *view = text_.substr(start, pos_ - start);
      }
      ++pos_;
      if (bad_utf8) return syntax_before("invalid unicode code point");
      return true;
    }
    if (c == '\\') {
      if (sink == nullptr) {
        scratch_.clear();
        sink = &scratch_;
      }
      sink->append(data + start, pos_ - start);
      ++pos_;
      if (!parse_escape(*sink)) return false;
      start = pos_;
      continue;
    }
    if (c < 0x20) {
      ++pos_;
      return syntax_before(kControlInString);
    }
    if (!bad_utf8) {
      const Utf8Sequence seq = decode_utf8(text_, pos_);
      if (seq.valid) {
        pos_ += seq.length;
        continue;
      }
      bad_utf8 = true;
    }
    ++pos_;
  }
}

// ---- typed scalars ------------------------------------------------------------------------------

bool Reader::invalid_type(const Expected& expected) {
  const int c = peek_byte();
  switch (c) {
    case -1:
      return syntax_at("EOF while parsing a value");
    case 'n':
      ++pos_;
      if (!parse_ident("ull")) return false;
      return fail_here(invalid_type_message(Found::null(), expected));
    case 't':
      ++pos_;
      if (!parse_ident("rue")) return false;
      return fail_here(invalid_type_message(Found::of_bool(true), expected));
    case 'f':
      ++pos_;
      if (!parse_ident("alse")) return false;
      return fail_here(invalid_type_message(Found::of_bool(false), expected));
    case '"': {
      ++pos_;
      std::string_view s;
      if (!parse_string(nullptr, &s)) return false;
      return fail_here(invalid_type_message(Found::of_string(s), expected));
    }
    case '[':
      return fail_here(invalid_type_message(Found::sequence(), expected));
    case '{':
      return fail_here(invalid_type_message(Found::map(), expected));
    default:
      break;
  }
  if (c != '-' && !is_digit(static_cast<unsigned char>(c))) return syntax_at("expected value");
  Number n;
  if (!parse_number(n)) return false;
  return fail_here(invalid_type_message(Found::of_number(n), expected));
}

int Reader::take_null() {
  if (failed_) return -1;
  if (peek_byte() != 'n') return 0;
  ++pos_;
  return parse_ident("ull") ? 1 : -1;
}

bool Reader::read_string(std::string& out, const Expected& expected) {
  if (peek_byte() != '"') return invalid_type(expected);
  ++pos_;
  out.clear();
  return parse_string(&out, nullptr);
}

bool Reader::read_string_view(std::string_view& out, const Expected& expected) {
  if (peek_byte() != '"') return invalid_type(expected);
  ++pos_;
  return parse_string(nullptr, &out);
}

bool Reader::read_bool(bool& out) {
  const int c = peek_byte();
  if (c == 't') {
    ++pos_;
    out = true;
    return parse_ident("rue");
  }
  if (c == 'f') {
    ++pos_;
    out = false;
    return parse_ident("alse");
  }
  return invalid_type({"a boolean"});
}

bool Reader::read_number(Number& out, const Expected& expected) {
  const int c = peek_byte();
  if (c == '-' || (c >= 0 && is_digit(static_cast<unsigned char>(c)))) return parse_number(out);
  return invalid_type(expected);
}

bool Reader::read_value(Value& out) {
  const int c = peek_byte();
  switch (c) {
    case -1:
      return syntax_at("EOF while parsing a value");
    case 'n':
      ++pos_;
      out = Value();
      return parse_ident("ull");
    case 't':
      ++pos_;
      out = Value(true);
      return parse_ident("rue");
    case 'f':
      ++pos_;
      out = Value(false);
      return parse_ident("alse");
    case '"': {
      ++pos_;
      std::string s;
      if (!parse_string(&s, nullptr)) return false;
      out = Value(std::move(s));
      return true;
    }
    case '[': {
      if (!enter()) return false;
      Array elements;
      if (!read_array_elements(elements)) return false;
      out = Value(std::move(elements));
      return true;
    }
    case '{': {
      if (!enter()) return false;
      Object members;
      if (!read_object_members(members)) return false;
      out = Value(std::move(members));
      return true;
    }
    default:
      break;
  }
  if (c != '-' && !is_digit(static_cast<unsigned char>(c))) return syntax_at("expected value");
  Number n;
  if (!parse_number(n)) return false;
  switch (n.kind) {
    case Number::Kind::PosInt:
      out = Value(n.pos);
      break;
    case Number::Kind::NegInt:
      out = Value(n.neg);
      break;
    case Number::Kind::Float:
      out = Value(n.real);
      break;
  }
  return true;
}

bool Reader::read_array_elements(Array& out) {
  ArrayCursor cursor;
  for (;;) {
    const int r = next_element(cursor);
    if (r < 0) return false;
    if (r == 0) break;
    if (out.capacity() == 0) out.reserve(4);  // arrays of protocol texts are short
    out.emplace_back();
    if (!read_value(out.back())) return false;
  }
  return end_array(cursor, true);
}

bool Reader::read_object_members(Object& out) {
  ObjectCursor cursor;
  std::string_view name;
  for (;;) {
    const int r = next_key(cursor, name);
    if (r < 0) return false;
    if (r == 0) break;
    std::string key(name);
    if (!parse_colon()) return false;
    Value value;
    if (!read_value(value)) return false;
    if (Value* existing = out.find(key)) {
      repeated_name_ = true;
      *existing = std::move(value);
    } else {
      out.push_back_unchecked(std::move(key), std::move(value));
    }
  }
  return end_object(cursor, true);
}

bool Reader::read_object(Object& out, const Expected& expected) {
  if (peek_byte() != '{') return invalid_type(expected);
  if (!enter()) return false;
  out = Object();
  return read_object_members(out);
}

bool Reader::read_unit_variant(std::span<const std::string_view> names, std::size_t& index) {
  auto lookup = [&](std::string_view text) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i] == text) {
        index = i;
        return true;
      }
    }
    return fail_here(unknown_variant_message(text, names));
  };
  int c = peek_byte();
  if (c == '"') {
    ++pos_;
    std::string_view text;
    return parse_string(nullptr, &text) && lookup(text);
  }
  if (c != '{') return syntax_at(c < 0 ? "EOF while parsing a value" : "expected value");
  // {"variant": null}
  if (!enter()) return false;
  if (peek_byte() != '"') return invalid_type({"variant identifier"});
  ++pos_;
  std::string_view text;
  if (!parse_string(nullptr, &text) || !lookup(text) || !parse_colon()) return false;
  if (peek_byte() != 'n') return invalid_type({"unit"});
  ++pos_;
  if (!parse_ident("ull")) return false;
  c = peek_byte();
  if (c != '}') return syntax_before(c < 0 ? "EOF while parsing an object" : "expected value");
  ++pos_;
  leave();
  return true;
}

// ---- containers ---------------------------------------------------------------------------------

bool Reader::begin_object(ObjectCursor& cursor) {
  cursor.first = true;
  return enter();
}

int Reader::next_key(ObjectCursor& cursor, std::string_view& name) {
  int c = peek_byte();
  if (c == '}') return 0;
  if (c < 0) return syntax_at("EOF while parsing an object"), -1;
  if (!cursor.first) {
    if (c != ',') return syntax_at("expected `,` or `}`"), -1;
    ++pos_;
    c = peek_byte();
  }
  cursor.first = false;
  if (c == '"') {
    ++pos_;
    return parse_string(nullptr, &name) ? 1 : -1;
  }
  if (c == '}') return syntax_at("trailing comma"), -1;
  if (c < 0) return syntax_at("EOF while parsing a value"), -1;
  return syntax_at("key must be a string"), -1;
}

bool Reader::begin_member_value(ObjectCursor&) {
  return parse_colon();
}

bool Reader::skip_member_value(ObjectCursor&) {
  // An undeclared member's value is read as strictly as any other and then dropped: a reader that
  // ignores a member must not accept text that every other reader refuses.
  skipped_member_ = true;
  Value ignored;
  return parse_colon() && read_value(ignored);
}

bool Reader::end_object(ObjectCursor&, bool ok) {
  if (!ok) {
    if (failed_ && error_.line == 0) {
      if (peek_byte() == '}') ++pos_;
      place_pending();
    }
    return false;
  }
  const int c = peek_byte();
  if (c == '}') {
    ++pos_;
    leave();
    return true;
  }
  if (c == ',') return syntax_at("trailing comma");
  return syntax_at(c < 0 ? "EOF while parsing an object" : "trailing characters");
}

bool Reader::begin_array(ArrayCursor& cursor) {
  cursor.first = true;
  return enter();
}

int Reader::next_element(ArrayCursor& cursor) {
  int c = peek_byte();
  if (c == ']') return 0;
  if (c < 0) return syntax_at("EOF while parsing a list"), -1;
  if (!cursor.first) {
    if (c != ',') return syntax_at("expected `,` or `]`"), -1;
    ++pos_;
    c = peek_byte();
  }
  cursor.first = false;
  if (c == ']') return syntax_at("trailing comma"), -1;
  if (c < 0) return syntax_at("EOF while parsing a value"), -1;
  return 1;
}

bool Reader::end_array(ArrayCursor&, bool ok) {
  if (!ok) {
    if (failed_ && error_.line == 0) {
      const int c = peek_byte();
      if (c == ']') {
        ++pos_;
      } else if (c == ',') {
        ++pos_;
        peek_byte();
      }
      place_pending();
    }
    return false;
  }
  const int c = peek_byte();
  if (c == ']') {
    ++pos_;
    leave();
    return true;
  }
  if (c == ',') {
    ++pos_;
    return syntax_at(peek_byte() == ']' ? "trailing comma" : "trailing characters");
  }
  return syntax_at(c < 0 ? "EOF while parsing a list" : "trailing characters");
}

bool Reader::finish() {
  if (failed_) return false;
  if (peek_byte() >= 0) return syntax_at("trailing characters");
  return true;
}

}  // namespace zelk::json
