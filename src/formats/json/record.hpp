#pragma once

// Declarative protocol records: a plain struct plus a RecordTraits specialisation naming the
// record and listing its members in declared order. Reading (from text or from a parsed Value),
// writing compact JSON and building a Value all follow that one list.
//
//   struct IdentityHint {
//     IdentityType type{};
//     std::string subject;
//     std::optional<std::string> issuer;
//     std::optional<std::string> public_key;
//   };
//   template <>
//   struct zelk::json::EnumTraits<IdentityType> {          // enum values 0..N-1 in this order
//     static constexpr std::string_view names[] = {"oidc", "pinned_key"};
//   };
//   template <>
//   struct zelk::json::RecordTraits<IdentityHint> {
//     static constexpr std::string_view name = "IdentityHint";   // "struct IdentityHint"
//     static constexpr std::tuple members{
//         member::required("type", &IdentityHint::type),
//         member::required("subject", &IdentityHint::subject),
//         member::optional_left_off("issuer", &IdentityHint::issuer),
//         member::optional_left_off("public_key", &IdentityHint::public_key),
//     };
//     // static constexpr bool ignore_unknown = true;  // skip undeclared members (outside tokens)
//   };
//
//   std::expected<IdentityHint, JsonError> hint = read_record<IdentityHint>(text);  // whole text
//   std::expected<IdentityHint, JsonError> same = record_from_value<IdentityHint>(value);
//   read_next(reader, hint_out);         // one value from a Reader, which is left after it
//   std::string json; write_record(*hint, json);
//   Value v = record_to_value(*hint);    // canonical form: canonical_json(v)
//
// Member kinds: member::required (the field is not std::optional; absent fails with "missing
// field"), member::optional (a std::optional field; absent or null both mean absent; in array
// form it must be present, possibly as null) and member::optional_left_off (also absent when an
// array form ends before it). Options after the field pointer:
//   via<C>      read/write the value (the optional's inner value) with codec C instead of Codec<T>
//               (e.g. ConvertedString<AidRule>, UntaggedVariant<...>, SortedObjectCodec, or a
//               codec derived from Codec<T> that only changes write/to_value);
//   write_null  writers emit "name":null for an absent optional instead of leaving it out.
// Records must be default-constructible; fields are overwritten as members are read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "formats/json/codec.hpp"
#include "formats/json/error.hpp"
#include "formats/json/parse.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/value.hpp"
#include "formats/json/value_reader.hpp"

namespace zelk::json {

template <typename T>
struct RecordTraits {};
template <typename E>
struct EnumTraits {};

template <typename T>
concept Record = requires {
  RecordTraits<T>::name;
  RecordTraits<T>::members;
};
template <typename E>
concept UnitEnum = std::is_enum_v<E> && requires {
  EnumTraits<E>::names;
};

enum class Presence : std::uint8_t { Required, Optional, LeftOff };

template <typename C>
struct Via {};
template <typename C>
inline constexpr Via<C> via{};
struct WriteNull {};
inline constexpr WriteNull write_null{};

template <typename Owner, typename Field, typename C>
struct MemberDef {
  using owner_type = Owner;
  using field_type = Field;
  using codec = C;
  std::string_view name;
  Field Owner::*field;
  Presence presence;
  bool write_null_when_absent;
};

namespace detail {

template <typename T>
struct optional_of {
  static constexpr bool value = false;
};
template <typename T>
struct optional_of<std::optional<T>> {
  static constexpr bool value = true;
  using inner = T;
};

template <typename... Opts>
struct Options {
  using via = void;
  static constexpr bool write_null = false;
};
template <typename C, typename... Rest>
struct Options<Via<C>, Rest...> : Options<Rest...> {
  using via = C;
};
template <typename... Rest>
struct Options<WriteNull, Rest...> : Options<Rest...> {
  static constexpr bool write_null = true;
};

template <typename Default, typename Via>
using or_default = std::conditional_t<std::is_void_v<Via>, Default, Via>;

}  // namespace detail

namespace member {

template <typename Owner, typename Field, typename... Opts>
constexpr auto required(std::string_view name, Field Owner::*field, Opts...) {
  static_assert(!detail::optional_of<Field>::value, "a required member is not std::optional");
  using O = detail::Options<Opts...>;
  using C = detail::or_default<Codec<Field>, typename O::via>;
  return MemberDef<Owner, Field, C>{name, field, Presence::Required, O::write_null};
}

template <typename Owner, typename Field, typename... Opts>
constexpr auto optional(std::string_view name, Field Owner::*field, Opts...) {
  static_assert(detail::optional_of<Field>::value, "an optional member is a std::optional");
  using Inner = typename detail::optional_of<Field>::inner;
  using O = detail::Options<Opts...>;
  using C = OptionalCodec<detail::or_default<Codec<Inner>, typename O::via>, Inner>;
  return MemberDef<Owner, Field, C>{name, field, Presence::Optional, O::write_null};
}

template <typename Owner, typename Field, typename... Opts>
constexpr auto optional_left_off(std::string_view name, Field Owner::*field, Opts... opts) {
  auto def = optional(name, field, opts...);
  def.presence = Presence::LeftOff;
  return def;
}

}  // namespace member

// Compile-time facts about a record's member list.
template <Record T>
struct RecordInfo {
  using Traits = RecordTraits<T>;
  using Members = std::remove_cvref_t<decltype(Traits::members)>;
  static constexpr std::size_t count = std::tuple_size_v<Members>;
  static_assert(count <= 64, "records have at most 64 members");

  static constexpr std::array<std::string_view, count> names = [] {
    std::array<std::string_view, count> out{};
    std::apply(
        [&](const auto&... def) {
          std::size_t i = 0;
          ((out[i++] = def.name), ...);
        },
        Traits::members);
    return out;
  }();

  static_assert(
      [] {
        for (std::size_t i = 0; i < count; ++i)
          for (std::size_t j = i + 1; j < count; ++j)
            if (names[i] == names[j]) return false;
        return true;
      }(),
      "member names of a record are distinct");

  static constexpr bool ignore_unknown = [] {
    if constexpr (requires { Traits::ignore_unknown; })
      return static_cast<bool>(Traits::ignore_unknown);
    else
      return false;
  }();

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  static constexpr std::size_t find(std::string_view name) {
    for (std::size_t i = 0; i < count; ++i)
      if (names[i] == name) return i;
    return npos;
  }

  // "struct NAME with K elements" ("1 element" when K is 1).
  static std::string array_description() {
    std::string out = "struct ";
    out += Traits::name;
    out += " with ";
    out += std::to_string(count);
    out += count == 1 ? " element" : " elements";
    return out;
  }
};

namespace detail {

template <typename T, std::size_t I>
constexpr const auto& member_def() {
  return std::get<I>(RecordTraits<T>::members);
}

template <typename T, std::size_t I, typename Src>
bool read_member(Src& src, T& out) {
  constexpr const auto& def = member_def<T, I>();
  using Def = std::remove_cvref_t<decltype(def)>;
  return Def::codec::read(src, out.*def.field);
}

template <typename T, typename Src, std::size_t... I>
bool read_member_at(Src& src, T& out, std::size_t index, std::index_sequence<I...>) {
  bool ok = false;
  [[maybe_unused]] const bool matched =
      ((index == I ? (ok = read_member<T, I>(src, out), true) : false) || ...);
  return ok;
}

// After the closing '}': the first required member not seen, in declared order, is missing;
// optional members not seen are absent.
template <typename T, typename Src, std::size_t... I>
bool settle_unseen(Src& src, T& out, std::uint64_t seen, std::index_sequence<I...>) {
  [[maybe_unused]] auto one = [&]<std::size_t J>(std::integral_constant<std::size_t, J>) {
    constexpr const auto& def = member_def<T, J>();
    if (seen & (std::uint64_t{1} << J)) return true;
    if constexpr (def.presence == Presence::Required) {
      return src.fail(missing_field_message(def.name));
    } else {
      (out.*def.field).reset();
      return true;
    }
  };
  return (one(std::integral_constant<std::size_t, I>{}) && ...);
}

template <typename T, typename Src>
bool read_map_form(Src& src, T& out) {
  using Info = RecordInfo<T>;
  using Seq = std::make_index_sequence<Info::count>;
  typename Src::ObjectCursor cursor;
  if (!src.begin_object(cursor)) return false;
  std::uint64_t seen = 0;
  auto members = [&] {
    std::string_view name;
    for (;;) {
      const int r = src.next_key(cursor, name);
      if (r <= 0) return r == 0;
      const std::size_t index = Info::find(name);
      if (index == Info::npos) {
        if constexpr (Info::ignore_unknown) {
          if (!src.skip_member_value(cursor)) return false;
          continue;
        } else {
          return src.fail(unknown_field_message(name, Info::names));
        }
      }
      const std::uint64_t bit = std::uint64_t{1} << index;
      if (seen & bit) return src.fail(duplicate_field_message(name));
      seen |= bit;
      if (!src.begin_member_value(cursor) || !read_member_at(src, out, index, Seq{})) return false;
    }
  };
  const bool ok = members() && settle_unseen(src, out, seen, Seq{});
  return src.end_object(cursor, ok);
}

template <typename T, std::size_t I, typename Src, typename Cursor>
bool read_array_member(Src& src, Cursor& cursor, T& out, bool& ended) {
  constexpr const auto& def = member_def<T, I>();
  if (!ended) {
    const int r = src.next_element(cursor);
    if (r < 0) return false;
    ended = r == 0;
  }
  if (!ended) return read_member<T, I>(src, out);
  if constexpr (def.presence == Presence::LeftOff) {
    (out.*def.field).reset();
    return true;
  } else {
    const std::string description = RecordInfo<T>::array_description();
    return src.fail(invalid_length_message(I, {description}));
  }
}

template <typename T, typename Src, std::size_t... I>
bool read_array_form(Src& src, T& out, std::index_sequence<I...>) {
  typename Src::ArrayCursor cursor;
  if (!src.begin_array(cursor)) return false;
  [[maybe_unused]] bool ended = false;
  const bool ok = (read_array_member<T, I>(src, cursor, out, ended) && ...);
  return src.end_array(cursor, ok);
}

template <typename T, std::size_t I>
void write_member(const T& record, std::string& out, bool& first) {
  constexpr const auto& def = member_def<T, I>();
  using Def = std::remove_cvref_t<decltype(def)>;
  const auto& field = record.*def.field;
  if constexpr (def.presence != Presence::Required) {
    if (!field && !def.write_null_when_absent) return;
  }
  if (!first) out += ',';
  first = false;
  write_json_string(def.name, out);
  out += ':';
  Def::codec::write(field, out);
}

template <typename T, std::size_t I>
void member_to_value(const T& record, Object& out) {
  constexpr const auto& def = member_def<T, I>();
  using Def = std::remove_cvref_t<decltype(def)>;
  const auto& field = record.*def.field;
  if constexpr (def.presence != Presence::Required) {
    if (!field && !def.write_null_when_absent) return;
  }
  out.push_back_unchecked(std::string(def.name), Def::codec::to_value(field));
}

}  // namespace detail

// A record in map form (JSON object) or array form (JSON array of the members in declared
// order); anything else is "invalid type: ..., expected struct NAME".
template <Record T>
struct Codec<T> {
  template <typename Src>
  static bool read(Src& src, T& out) {
    switch (src.peek()) {
      case Peek::Object:
        return detail::read_map_form(src, out);
      case Peek::Array:
        return detail::read_array_form(src, out, std::make_index_sequence<RecordInfo<T>::count>{});
      default:
        return src.invalid_type({"struct ", RecordTraits<T>::name});
    }
  }
  static void write(const T& record, std::string& out) {
    out += '{';
    bool first = true;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (detail::write_member<T, I>(record, out, first), ...);
    }
    (std::make_index_sequence<RecordInfo<T>::count>{});
    out += '}';
  }
  static Value to_value(const T& record) {
    Object object;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (detail::member_to_value<T, I>(record, object), ...);
    }
    (std::make_index_sequence<RecordInfo<T>::count>{});
    return Value(std::move(object));
  }
};

// An enumeration of unit variants, written as its wire name. From text: a string, or an object
// with one member named after the variant whose value is null; other values are "expected value".
template <UnitEnum E>
struct Codec<E> {
  static constexpr std::span<const std::string_view> names() { return EnumTraits<E>::names; }
  template <typename Src>
  static bool read(Src& src, E& out) {
    std::size_t index = 0;
    if (!src.read_unit_variant(names(), index)) return false;
    out = static_cast<E>(index);
    return true;
  }
  // The wire name; empty for a value outside the table.
  static std::string_view name_of(E v) {
    const auto index = static_cast<std::size_t>(v);
    return index < names().size() ? names()[index] : std::string_view();
  }
  static void write(E v, std::string& out) { write_json_string(name_of(v), out); }
  static Value to_value(E v) { return Value(name_of(v)); }
};

// ---- entry points -------------------------------------------------------------------------------

// Reads one value of type T from `reader` and leaves the reader just after it.
template <typename T>
bool read_next(Reader& reader, T& out) {
  return Codec<T>::read(reader, out);
}

// One value of type T from a nested reader: the value, or a copy of the reader's error (the
// reader stays failed so that an enclosing read stops too).
template <typename T>
[[nodiscard]] std::expected<T, JsonError> read_one(Reader& reader) {
  T out{};
  if (!Codec<T>::read(reader, out)) return std::unexpected(reader.error());
  return out;
}

// The whole text must be one value of type T, with optional whitespace around it.
template <typename T>
[[nodiscard]] std::expected<T, JsonError> read_json(std::string_view text) {
  Reader reader(text);
  T out{};
  if (!Codec<T>::read(reader, out) || !reader.finish()) return std::unexpected(reader.take_error());
  return out;
}

template <typename T>
[[nodiscard]] std::expected<T, JsonError> from_value(const Value& value) {
  ValueReader reader(value);
  T out{};
  if (!Codec<T>::read(reader, out)) return std::unexpected(reader.take_error());
  return out;
}

template <typename T>
void write_json(const T& value, std::string& out) {
  Codec<T>::write(value, out);
}

template <typename T>
std::string to_json_string(const T& value) {
  std::string out;
  out.reserve(128);
  Codec<T>::write(value, out);
  return out;
}

template <typename T>
Value to_value(const T& value) {
  return Codec<T>::to_value(value);
}

template <Record T>
[[nodiscard]] std::expected<T, JsonError> read_record(std::string_view text) {
  return read_json<T>(text);
}

template <Record T>
[[nodiscard]] std::expected<T, JsonError> record_from_value(const Value& value) {
  return from_value<T>(value);
}

// The same reading of a text that has already been parsed into `parsed` (null when it did not
// parse). The value is read when it holds everything the text said; the text is read when it
// repeated a name or the value is refused, so every failure is the text's, with its position.
template <Record T>
[[nodiscard]] std::expected<T, JsonError> read_record(std::string_view text,
                                                      const ParsedText* parsed) {
  if (parsed != nullptr && !parsed->repeated_names) {
    if (auto record = record_from_value<T>(parsed->value)) return record;
  }
  return read_json<T>(text);
}

// Compact JSON: members in declared order, absent optional members left out.
template <Record T>
void write_record(const T& record, std::string& out) {
  Codec<T>::write(record, out);
}

// The same members in the same order, as a Value (canonical forms: canonical_json of this).
template <Record T>
Value record_to_value(const T& record) {
  return Codec<T>::to_value(record);
}

}  // namespace zelk::json
