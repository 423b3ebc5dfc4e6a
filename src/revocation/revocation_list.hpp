#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/aid.hpp"
#include "core/aid_json.hpp"
#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"

namespace zelk {

// One revoked token identifier.
struct RevocationEntry {
  Uuid jti{};
  std::int64_t revoked_at = 0;
  std::optional<std::string> reason;
  friend bool operator==(const RevocationEntry&, const RevocationEntry&) = default;
};

// An issuer's snapshot of the tokens it has revoked: the signed body.
struct RevocationList {
  std::string version;  // not examined when read
  Aid issuer;
  std::int64_t published_at = 0;
  std::int64_t expires_at = 0;
  std::vector<RevocationEntry> entries;    // in the order read or supplied
  std::optional<json::Object> extensions;  // held sorted by name
  friend bool operator==(const RevocationList&, const RevocationList&) = default;
};

// The wire wrapper: the list and the detached signature over its canonical bytes, held as read.
struct RevocationListEnvelope {
  RevocationList revocation_list;
  std::string signature;
  friend bool operator==(const RevocationListEnvelope&, const RevocationListEnvelope&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::RevocationEntry> {
  using E = zelk::RevocationEntry;
  static constexpr std::string_view name = "RevocationEntry";
  static constexpr std::tuple members{
      member::required("jti", &E::jti),
      member::required("revoked_at", &E::revoked_at),
      member::optional_left_off("reason", &E::reason),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::RevocationList> {
  using L = zelk::RevocationList;
  static constexpr std::string_view name = "RevocationList";
  static constexpr std::tuple members{
      member::required("version", &L::version),
      member::required("issuer", &L::issuer),
      member::required("published_at", &L::published_at),
      member::required("expires_at", &L::expires_at),
      member::required("entries", &L::entries),
      member::optional_left_off("extensions", &L::extensions, via<json::SortedObjectCodec>),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::RevocationListEnvelope> {
  using V = zelk::RevocationListEnvelope;
  static constexpr std::string_view name = "RevocationListEnvelope";
  static constexpr std::tuple members{
      member::required("revocation_list", &V::revocation_list),
      member::required("signature", &V::signature),
  };
};

namespace zelk {

// Strict reading of the whole text, map or array form at every level; messages end with the
// position of the fault.
[[nodiscard]] std::expected<RevocationListEnvelope, json::JsonError> decode_revocation_envelope(
    std::string_view text);

// Compact JSON, members in declared order, absent reason and extensions left out, jti in
// lower-case hyphenated form. This is the carried form, not the signing input.
std::string encode_revocation_envelope(const RevocationListEnvelope& envelope);

}  // namespace zelk
