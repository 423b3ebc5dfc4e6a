#pragma once

// How each member type is read, written and turned into a Value. A codec is a struct of static
// functions:
//
//   template <typename Src> static bool read(Src& src, T& out);   // Src: Reader or ValueReader
//   static void write(const T& value, std::string& out);          // compact JSON
//   static Value to_value(const T& value);
//
// `read` uses only the operations that Reader and ValueReader share, so one routine reads from
// text and from parsed values. On failure it returns false after src.fail...(); a message raised
// with src.fail_here() is placed just after the value read last (use it for checks of a scalar),
// one raised with src.fail() is placed by the enclosing object or array (checks of a whole value).
//
// Codec<T> is the default codec of a type; records (RecordTraits) and enumerations (EnumTraits)
// get theirs in record.hpp. The hooks below build codecs for converted strings, untagged
// alternatives and checked values.

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "formats/json/float_text.hpp"
#include "formats/json/messages.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/value.hpp"
#include "formats/json/value_reader.hpp"
#include "formats/json/writer.hpp"
#include "formats/uuid.hpp"

namespace zelk::json {

template <typename T>
struct Codec;

// Writes an Object in its stored order.
void write_object(const Object& object, std::string& out);

namespace detail {

template <typename I>
constexpr std::string_view integer_name() {
  if constexpr (std::is_signed_v<I>) {
    if constexpr (sizeof(I) == 1) return "i8";
    if constexpr (sizeof(I) == 2) return "i16";
    if constexpr (sizeof(I) == 4) return "i32";
    if constexpr (sizeof(I) == 8) return "i64";
  } else {
    if constexpr (sizeof(I) == 1) return "u8";
    if constexpr (sizeof(I) == 2) return "u16";
    if constexpr (sizeof(I) == 4) return "u32";
    if constexpr (sizeof(I) == 8) return "u64";
  }
}

template <typename I>
void append_integer(I value, std::string& out) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  if (ec == std::errc()) out.append(buf, end);
}

}  // namespace detail

// ---- scalars ------------------------------------------------------------------------------------

template <>
struct Codec<std::string> {
  template <typename Src>
  static bool read(Src& src, std::string& out) {
    return src.read_string(out);
  }
  static void write(const std::string& v, std::string& out) { write_json_string(v, out); }
  static Value to_value(const std::string& v) { return Value(v); }
};

template <>
struct Codec<bool> {
  template <typename Src>
  static bool read(Src& src, bool& out) {
    return src.read_bool(out);
  }
  static void write(bool v, std::string& out) { out += v ? "true" : "false"; }
  static Value to_value(bool v) { return Value(v); }
};

// Integers of any width: integers outside the type's range are "invalid value", floats (any
// number written with ".", "e" or "E") "invalid type".
template <typename I>
requires(std::integral<I> && !std::same_as<I, bool>) struct Codec<I> {
  template <typename Src>
  static bool read(Src& src, I& out) {
    constexpr Expected what{detail::integer_name<I>()};
    Number n;
    if (!src.read_number(n, what)) return false;
    switch (n.kind) {
      case Number::Kind::PosInt:
        if (n.pos <= static_cast<std::uint64_t>(std::numeric_limits<I>::max())) {
          out = static_cast<I>(n.pos);
          return true;
        }
        return src.fail_here(invalid_value_message(Found::of_unsigned(n.pos), what));
      case Number::Kind::NegInt:
        if constexpr (std::is_signed_v<I>) {
          if (n.neg >= static_cast<std::int64_t>(std::numeric_limits<I>::min())) {
            out = static_cast<I>(n.neg);
            return true;
          }
        }
        return src.fail_here(invalid_value_message(Found::of_signed(n.neg), what));
      case Number::Kind::Float:
        break;
    }
    return src.fail_here(invalid_type_message(Found::of_float(n.real), what));
  }
  static void write(I v, std::string& out) { detail::append_integer(v, out); }
  static Value to_value(I v) {
    if constexpr (std::is_signed_v<I>)
      return Value(static_cast<std::int64_t>(v));
    else
      return Value(static_cast<std::uint64_t>(v));
  }
};

// Any number; integers are converted.
template <>
struct Codec<double> {
  template <typename Src>
  static bool read(Src& src, double& out) {
    Number n;
    if (!src.read_number(n, {"f64"})) return false;
    out = n.kind == Number::Kind::PosInt   ? static_cast<double>(n.pos)
          : n.kind == Number::Kind::NegInt ? static_cast<double>(n.neg)
                                           : n.real;
    return true;
  }
  static void write(double v, std::string& out) {
    if (std::isfinite(v))
      append_float_text(v, out);
    else
      out += "null";
  }
  static Value to_value(double v) { return Value(v); }
};

// Any JSON value, held as read.
template <>
struct Codec<Value> {
  template <typename Src>
  static bool read(Src& src, Value& out) {
    return src.read_value(out);
  }
  static void write(const Value& v, std::string& out) { write_compact(v, out); }
  static Value to_value(const Value& v) { return v; }
};

// A free JSON object ("a map"): any names; a repeated name keeps its first position and last
// value, without error.
template <>
struct Codec<Object> {
  template <typename Src>
  static bool read(Src& src, Object& out) {
    return src.read_object(out);
  }
  static void write(const Object& v, std::string& out) { write_object(v, out); }
  static Value to_value(const Object& v) { return Value(v); }
};

// A free JSON object held sorted by name (byte order), as extension members are.
// Writing sorts as well, so a map built out of order in code never carries an order of its own.
struct SortedObjectCodec : Codec<Object> {
  template <typename Src>
  static bool read(Src& src, Object& out) {
    if (!src.read_object(out)) return false;
    out.sort_by_name();
    return true;
  }
  static void write(const Object& v, std::string& out);
  static Value to_value(const Object& v);
};

// A UUID in any of the text forms parse_uuid accepts; written lower-case hyphenated.
template <>
struct Codec<Uuid> {
  template <typename Src>
  static bool read(Src& src, Uuid& out) {
    std::string_view text;
    if (!src.read_string_view(text, {"a formatted UUID string"})) return false;
    auto parsed = parse_uuid(text);
    if (!parsed) return src.fail_here("UUID parsing failed: " + parsed.error().message());
    out = *parsed;
    return true;
  }
  static void write(const Uuid& v, std::string& out) {
    out += '"';
    v.append_to(out);
    out += '"';
  }
  static Value to_value(const Uuid& v) { return Value(v.to_string()); }
};

// ---- collections --------------------------------------------------------------------------------

// A JSON array ("a sequence") whose elements `Inner` reads.
template <typename Inner, typename T>
struct SeqCodec {
  template <typename Src>
  static bool read(Src& src, std::vector<T>& out) {
    if (src.peek() != Peek::Array) return src.invalid_type({"a sequence"});
    typename Src::ArrayCursor cursor;
    if (!src.begin_array(cursor)) return false;
    out.clear();
    // A parsed array knows its length: one allocation instead of regrowing.
    if constexpr (!Src::from_text) out.reserve(cursor.size);
    bool ok = true;
    for (;;) {
      const int r = src.next_element(cursor);
      if (r <= 0) {
        ok = r == 0;
        break;
      }
      out.emplace_back();
      if (!Inner::read(src, out.back())) {
        ok = false;
        break;
      }
    }
    return src.end_array(cursor, ok);
  }
  static void write(const std::vector<T>& v, std::string& out) {
    out += '[';
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (i > 0) out += ',';
      Inner::write(v[i], out);
    }
    out += ']';
  }
  static Value to_value(const std::vector<T>& v) {
    Array a;
    a.reserve(v.size());
    for (const T& e : v) a.push_back(Inner::to_value(e));
    return Value(std::move(a));
  }
};

template <typename T>
struct Codec<std::vector<T>> : SeqCodec<Codec<T>, T> {};

// null is absent; anything else is read by `Inner`.
template <typename Inner, typename T>
struct OptionalCodec {
  template <typename Src>
  static bool read(Src& src, std::optional<T>& out) {
    const int null = src.take_null();
    if (null < 0) return false;
    if (null == 1) {
      out.reset();
      return true;
    }
    if (!out) out.emplace();
    return Inner::read(src, *out);
  }
  static void write(const std::optional<T>& v, std::string& out) {
    if (v)
      Inner::write(*v, out);
    else
      out += "null";
  }
  static Value to_value(const std::optional<T>& v) { return v ? Inner::to_value(*v) : Value(); }
};

template <typename T>
struct Codec<std::optional<T>> : OptionalCodec<Codec<T>, T> {};

// ---- hooks --------------------------------------------------------------------------------------

// A JSON string turned into T by a converter; a refusal is placed just after the string.
//   struct Rule {
//     using type = T;
//     static std::expected<T, std::string> parse(std::string text);  // message on refusal
//     static std::string_view text(const T&);                       // the text written back
//     static constexpr std::string_view expected = "a string";      // optional
//   };
template <typename Rule>
struct ConvertedString {
  using T = typename Rule::type;
  static constexpr Expected expected() {
    if constexpr (requires { Rule::expected; })
      return {Rule::expected};
    else
      return {"a string"};
  }
  template <typename Src>
  static bool read(Src& src, T& out) {
    std::string text;
    if (!src.read_string(text, expected())) return false;
    std::expected<T, std::string> converted = Rule::parse(std::move(text));
    if (!converted) return src.fail_here(std::move(converted.error()));
    out = std::move(*converted);
    return true;
  }
  static void write(const T& v, std::string& out) { write_json_string(Rule::text(v), out); }
  static Value to_value(const T& v) { return Value(std::string(Rule::text(v))); }
};

// A value read by `Inner`, then checked as a whole; a refusal is placed by the enclosing object
// or array (after the value, whitespace, and a following bracket or comma).
//   struct Rule { static std::optional<std::string> check(const T&); };  // message on refusal
template <typename Inner, typename Rule>
struct Checked : Inner {
  template <typename Src, typename T>
  static bool read(Src& src, T& out) {
    if (!Inner::read(src, out)) return false;
    if (std::optional<std::string> refusal = Rule::check(out)) return src.fail(std::move(*refusal));
    return true;
  }
};

// Reads `v` with T's codec; nullopt when it does not fit.
template <typename T, typename C = Codec<T>>
std::optional<T> try_from_value(const Value& v) {
  ValueReader reader(v);
  T out{};
  if (!C::read(reader, out)) return std::nullopt;
  return out;
}

// Untagged alternatives: the value is read whole as generic JSON (syntax errors as usual), then
// offered to the alternatives; when none takes it, "data did not match any variant of untagged
// enum NAME", placed by the enclosing object or array (no position at top level).
//   struct Rule {
//     using type = T;
//     static constexpr std::string_view name = "Aud";
//     static std::optional<T> from_value(const Value&);
//     static Value to_value(const T&);
//   };
template <typename Rule>
struct Untagged {
  using T = typename Rule::type;
  template <typename Src>
  static bool read(Src& src, T& out) {
    return src.visit_value([&](const Value& v) {
      std::optional<T> taken = Rule::from_value(v);
      if (!taken) return src.fail(untagged_mismatch_message(Rule::name));
      out = std::move(*taken);
      return true;
    });
  }
  static void write(const T& v, std::string& out) { write_compact(Rule::to_value(v), out); }
  static Value to_value(const T& v) { return Rule::to_value(v); }
};

// The rule of Untagged for a std::variant whose alternatives are tried in order with their default
// codecs. `Name` supplies `static constexpr std::string_view name`.
template <typename Name, typename... Alts>
struct VariantAlternatives {
  using type = std::variant<Alts...>;
  static constexpr std::string_view name = Name::name;
  static std::optional<type> from_value(const Value& v) {
    std::optional<type> out;
    (try_one<Alts>(v, out) || ...);
    return out;
  }
  static Value to_value(const type& v) {
    return std::visit(
        [](const auto& alt) { return Codec<std::decay_t<decltype(alt)>>::to_value(alt); }, v);
  }

 private:
  template <typename A>
  static bool try_one(const Value& v, std::optional<type>& out) {
    std::optional<A> taken = try_from_value<A>(v);
    if (!taken) return false;
    out.emplace(std::in_place_type<A>, std::move(*taken));
    return true;
  }
};

template <typename Name, typename... Alts>
using UntaggedVariant = Untagged<VariantAlternatives<Name, Alts...>>;

}  // namespace zelk::json
