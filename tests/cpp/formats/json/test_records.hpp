#pragma once

// Small records in the shapes the protocol uses, for the reader tests.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "formats/json/record.hpp"
#include "formats/uuid.hpp"

namespace zelk::json::testing {

// Two required texts.
struct JwsHeader {
  std::string alg;
  std::string typ;
  friend bool operator==(const JwsHeader&, const JwsHeader&) = default;
};

// Two signed integers.
struct Rec {
  std::int64_t n = 0;
  std::int64_t m = 0;
};

struct Unsigned {
  std::uint64_t u = 0;
};

struct Small {
  std::int32_t i = 0;
  std::uint8_t b = 0;
};

struct Flags {
  bool on = false;
  double ratio = 0;
};

struct IdRec {
  Uuid id;
};

enum class IdentityType { Oidc, PinnedKey };

// type; issuer (may be left off); subject; ext (may be left off).
struct Descriptor {
  IdentityType type = IdentityType::Oidc;
  std::optional<std::string> issuer;
  std::string subject;
  std::optional<Object> ext;
  friend bool operator==(const Descriptor&, const Descriptor&) = default;
};

struct AudName {
  static constexpr std::string_view name = "Aud";
};
using Aud = std::variant<std::string, std::vector<std::string>>;
using AudCodec = UntaggedVariant<AudName, std::string, std::vector<std::string>>;

// aud (string or list of strings) first, then an integer.
struct AudRec {
  Aud aud;
  std::int64_t n = 0;
  friend bool operator==(const AudRec&, const AudRec&) = default;
};

struct Cnf {
  std::string jkt;
  friend bool operator==(const Cnf&, const Cnf&) = default;
};

// A required nested record, a list, an optional free map, a Value and an optional member that
// may not be left off in array form.
struct Claims {
  std::string ver;
  std::vector<std::string> grants;
  Cnf cnf;
  Value payload;
  std::optional<std::string> note;
  std::optional<Object> ext;
  friend bool operator==(const Claims&, const Claims&) = default;
};

// Undeclared members are skipped.
struct Lenient {
  std::string alg;
  std::optional<std::string> kid;
  friend bool operator==(const Lenient&, const Lenient&) = default;
};

struct Empty {};

// A member held in a Value, to build nesting.
struct Holder {
  Value v;
};

// An optional member after which a required one follows, as in the envelope.
struct Tail {
  std::string a;
  std::optional<Object> extensions;
  std::string signature;
};

// A text member turned into a number by a converter.
struct Even {
  std::int64_t value = 0;
};
struct EvenRule {
  using type = Even;
  static std::expected<Even, std::string> parse(std::string text) {
    if (text.empty() || text.size() % 2 != 0) return std::unexpected("odd text `" + text + "`");
    return Even{static_cast<std::int64_t>(text.size())};
  }
  static std::string_view text(const Even& e) { return e.value == 2 ? "xx" : "xxxx"; }
};
struct EvenRec {
  Even e;
  std::optional<Even> f;
};

// A voucher member that writers always emit (null when absent) and a sorted map.
struct Commit {
  std::string tct;
  std::optional<std::string> grant_voucher;
  std::optional<Object> extensions;
};

}  // namespace zelk::json::testing

namespace zelk::json {

template <>
struct RecordTraits<testing::JwsHeader> {
  static constexpr std::string_view name = "JwsHeader";
  static constexpr std::tuple members{
      member::required("alg", &testing::JwsHeader::alg),
      member::required("typ", &testing::JwsHeader::typ),
  };
};

template <>
struct RecordTraits<testing::Rec> {
  static constexpr std::string_view name = "Rec";
  static constexpr std::tuple members{
      member::required("n", &testing::Rec::n),
      member::required("m", &testing::Rec::m),
  };
};

template <>
struct RecordTraits<testing::Unsigned> {
  static constexpr std::string_view name = "Unsigned";
  static constexpr std::tuple members{member::required("u", &testing::Unsigned::u)};
};

template <>
struct RecordTraits<testing::Small> {
  static constexpr std::string_view name = "Small";
  static constexpr std::tuple members{
      member::required("i", &testing::Small::i),
      member::required("b", &testing::Small::b),
  };
};

template <>
struct RecordTraits<testing::Flags> {
  static constexpr std::string_view name = "Flags";
  static constexpr std::tuple members{
      member::required("on", &testing::Flags::on),
      member::required("ratio", &testing::Flags::ratio),
  };
};

template <>
struct RecordTraits<testing::IdRec> {
  static constexpr std::string_view name = "IdRec";
  static constexpr std::tuple members{member::required("id", &testing::IdRec::id)};
};

template <>
struct EnumTraits<testing::IdentityType> {
  static constexpr std::string_view names[] = {"oidc", "pinned_key"};
};

template <>
struct RecordTraits<testing::Descriptor> {
  static constexpr std::string_view name = "Desc";
  static constexpr std::tuple members{
      member::required("type", &testing::Descriptor::type),
      member::optional_left_off("issuer", &testing::Descriptor::issuer),
      member::required("subject", &testing::Descriptor::subject),
      member::optional_left_off("ext", &testing::Descriptor::ext, via<SortedObjectCodec>),
  };
};

template <>
struct RecordTraits<testing::AudRec> {
  static constexpr std::string_view name = "AudRec";
  static constexpr std::tuple members{
      member::required("aud", &testing::AudRec::aud, via<testing::AudCodec>),
      member::required("n", &testing::AudRec::n),
  };
};

template <>
struct RecordTraits<testing::Cnf> {
  static constexpr std::string_view name = "Cnf";
  static constexpr std::tuple members{member::required("jkt", &testing::Cnf::jkt)};
};

template <>
struct RecordTraits<testing::Claims> {
  static constexpr std::string_view name = "Claims";
  static constexpr std::tuple members{
      member::required("ver", &testing::Claims::ver),
      member::required("grants", &testing::Claims::grants),
      member::required("cnf", &testing::Claims::cnf),
      member::required("payload", &testing::Claims::payload),
      member::optional("note", &testing::Claims::note),
      member::optional_left_off("ext", &testing::Claims::ext),
  };
};

template <>
struct RecordTraits<testing::Lenient> {
  static constexpr std::string_view name = "Lenient";
  static constexpr bool ignore_unknown = true;
  static constexpr std::tuple members{
      member::required("alg", &testing::Lenient::alg),
      member::optional_left_off("kid", &testing::Lenient::kid),
  };
};

template <>
struct RecordTraits<testing::Empty> {
  static constexpr std::string_view name = "Empty";
  static constexpr std::tuple<> members{};
};

template <>
struct RecordTraits<testing::Holder> {
  static constexpr std::string_view name = "Holder";
  static constexpr std::tuple members{member::required("v", &testing::Holder::v)};
};

template <>
struct RecordTraits<testing::Tail> {
  static constexpr std::string_view name = "Tail";
  static constexpr std::tuple members{
      member::required("a", &testing::Tail::a),
      member::optional_left_off("extensions", &testing::Tail::extensions),
      member::required("signature", &testing::Tail::signature),
  };
};

template <>
struct RecordTraits<testing::EvenRec> {
  static constexpr std::string_view name = "EvenRec";
  static constexpr std::tuple members{
      member::required("e", &testing::EvenRec::e, via<ConvertedString<testing::EvenRule>>),
      member::optional("f", &testing::EvenRec::f, via<ConvertedString<testing::EvenRule>>),
  };
};

template <>
struct RecordTraits<testing::Commit> {
  static constexpr std::string_view name = "Commit";
  static constexpr std::tuple members{
      member::required("tct", &testing::Commit::tct),
      member::optional("grant_voucher", &testing::Commit::grant_voucher, write_null),
      member::optional("extensions", &testing::Commit::extensions, via<SortedObjectCodec>),
  };
};

}  // namespace zelk::json
