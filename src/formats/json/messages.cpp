#include "formats/json/messages.hpp"

#include <charconv>

#include "formats/json/float_text.hpp"
#include "formats/json/value.hpp"
#include "formats/utf8.hpp"

namespace zelk::json {

void Expected::append_to(std::string& out) const {
  out += text;
  out += name;
}

Found Found::of_number(const Number& n) {
  switch (n.kind) {
    case Number::Kind::PosInt:
      return of_unsigned(n.pos);
    case Number::Kind::NegInt:
      return of_signed(n.neg);
    case Number::Kind::Float:
      break;
  }
  return of_float(n.real);
}

Found Found::of_value(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Null:
      return null();
    case Value::Kind::Bool:
      return of_bool(v.as_bool());
    case Value::Kind::PosInt:
      return of_unsigned(v.as_pos_int());
    case Value::Kind::NegInt:
      return of_signed(v.as_neg_int());
    case Value::Kind::Float:
      return of_float(v.as_float());
    case Value::Kind::String:
      return of_string(v.as_string());
    case Value::Kind::Array:
      return sequence();
    case Value::Kind::Object:
      break;
  }
  return map();
}

namespace {

template <typename Int>
void append_int(Int v, std::string& out) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec == std::errc()) out.append(buf, end);
}

void append_hex_escape(char prefix, std::uint32_t v, std::string& out) {
  char buf[12];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, 16);
  out += '\\';
  out += prefix;
  out += '{';
  if (ec == std::errc()) out.append(buf, end);
  out += '}';
}

}  // namespace

// Shows any string unambiguously. The module's list of missing grants has a writer of its own,
// since its fixed text differs: it escapes only controls and a few invisible format and separator
// characters (not other spaces, marks, private-use or unassigned code points), writes \u{fffd}
// instead of \x{h} for a byte that starts no sequence, and decodes overlong forms, surrogates
// and values past U+10FFFF as code points.
void append_quoted_for_message(std::string_view text, std::string& out) {
  out += '"';
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        case 0:
          out += "\\0";
          break;
        default:
          if (c < 0x20 || c == 0x7F)
            append_hex_escape('u', c, out);
          else
            out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const Utf8Sequence seq = decode_utf8(text, i);
    if (!seq.valid) {
      append_hex_escape('x', c, out);
      ++i;
      continue;
    }
    if (is_escaped_in_message(seq.cp))
      append_hex_escape('u', static_cast<std::uint32_t>(seq.cp), out);
    else
      out.append(text.substr(i, seq.length));
    i += seq.length;
  }
  out += '"';
}

void append_found(const Found& found, std::string& out) {
  switch (found.kind) {
    case Found::Kind::Null:
      out += "null";
      return;
    case Found::Kind::Bool:
      out += found.boolean ? "boolean `true`" : "boolean `false`";
      return;
    case Found::Kind::Unsigned:
      out += "integer `";
      append_int(found.pos, out);
      out += '`';
      return;
    case Found::Kind::Signed:
      out += "integer `";
      append_int(found.neg, out);
      out += '`';
      return;
    case Found::Kind::Float:
      out += "floating point `";
      append_float_text(found.real, out);
      out += '`';
      return;
    case Found::Kind::String:
      out += "string ";
      append_quoted_for_message(found.text, out);
      return;
    case Found::Kind::Sequence:
      out += "sequence";
      return;
    case Found::Kind::Map:
      out += "map";
      return;
  }
}

std::string invalid_type_message(const Found& found, const Expected& expected) {
  std::string out = "invalid type: ";
  append_found(found, out);
  out += ", expected ";
  expected.append_to(out);
  return out;
}

std::string invalid_value_message(const Found& found, const Expected& expected) {
  std::string out = "invalid value: ";
  append_found(found, out);
  out += ", expected ";
  expected.append_to(out);
  return out;
}

std::string invalid_length_message(std::size_t length, const Expected& expected) {
  std::string out = "invalid length ";
  append_int(length, out);
  out += ", expected ";
  expected.append_to(out);
  return out;
}

void append_name_list(std::span<const std::string_view> names, std::string& out) {
  if (names.size() >= 3) out += "one of ";
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " or " : ", ";
    out += '`';
    out += names[i];
    out += '`';
  }
}

std::string unknown_field_message(std::string_view name, std::span<const std::string_view> names) {
  std::string out = "unknown field `";
  out += name;
  if (names.empty()) {
    out += "`, there are no fields";
    return out;
  }
  out += "`, expected ";
  append_name_list(names, out);
  return out;
}

std::string unknown_variant_message(std::string_view text,
                                    std::span<const std::string_view> names) {
  std::string out = "unknown variant `";
  out += text;
  if (names.empty()) {
    out += "`, there are no variants";
    return out;
  }
  out += "`, expected ";
  append_name_list(names, out);
  return out;
}

std::string duplicate_field_message(std::string_view name) {
  std::string out = "duplicate field `";
  out += name;
  out += '`';
  return out;
}

std::string missing_field_message(std::string_view name) {
  std::string out = "missing field `";
  out += name;
  out += '`';
  return out;
}

std::string untagged_mismatch_message(std::string_view name) {
  std::string out = "data did not match any variant of untagged enum ";
  out += name;
  return out;
}

}  // namespace zelk::json
