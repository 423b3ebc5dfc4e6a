#pragma once

// The session trust bundle: a coordinator's signed list of the participants of a multi-agent
// session, each with the TCT the coordinator issued to it. Reading is strict (unknown, repeated
// and missing members refused, no duplicate scan of the whole text); writing follows the declared
// order. Building and verification live in build.hpp and verify.hpp.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/aid.hpp"
#include "core/aid_json.hpp"
#include "crypto/jws.hpp"
#include "formats/json/error.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"
#include "session_bundle/bundle_error.hpp"
#include "tct/claims.hpp"
#include "tct/verify.hpp"

namespace zelk {

struct ParticipantEntry {
  Aid aid;          // held as the text it was read from
  std::string tct;  // compact JWS, not looked at when read
  friend bool operator==(const ParticipantEntry&, const ParticipantEntry&) = default;
};

// Members in declared order, which is also the written order, the array form's order and the
// order an unknown-field message lists. `issued_at` is carried and signed, never compared.
struct SessionTrustBundle {
  std::string version;
  Uuid session_id{};
  Aid coordinator;
  std::int64_t issued_at = 0;
  std::int64_t expires_at = 0;
  std::vector<ParticipantEntry> participants;  // duplicates allowed; may be empty when read
  std::optional<json::Object> extensions;      // a repeated name keeps its last value
  std::string signature;
  friend bool operator==(const SessionTrustBundle&, const SessionTrustBundle&) = default;
};

// The wire wrapper: {"session_bundle": ...}.
struct SessionBundleEnvelope {
  SessionTrustBundle session_bundle;
  friend bool operator==(const SessionBundleEnvelope&, const SessionBundleEnvelope&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::ParticipantEntry> {
  static constexpr std::string_view name = "ParticipantEntry";
  static constexpr std::tuple members{
      member::required("aid", &zelk::ParticipantEntry::aid),
      member::required("tct", &zelk::ParticipantEntry::tct),
  };
};

// An array form that ends right after `participants` leaves `extensions` absent and then fails
// for the missing signature, so only the complete eight elements read.
template <>
struct zelk::json::RecordTraits<zelk::SessionTrustBundle> {
  using B = zelk::SessionTrustBundle;
  static constexpr std::string_view name = "SessionTrustBundle";
  static constexpr std::tuple members{
      member::required("version", &B::version),
      member::required("session_id", &B::session_id),
      member::required("coordinator", &B::coordinator),
      member::required("issued_at", &B::issued_at),
      member::required("expires_at", &B::expires_at),
      member::required("participants", &B::participants),
      member::optional_left_off("extensions", &B::extensions),
      member::required("signature", &B::signature),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::SessionBundleEnvelope> {
  static constexpr std::string_view name = "SessionBundleEnvelope";
  static constexpr std::tuple members{
      member::required("session_bundle", &zelk::SessionBundleEnvelope::session_bundle),
  };
};

namespace zelk {

// ---- reading (messages end with " at line L column C") ----------------------------------------

// The whole text as one envelope, with optional whitespace around it; returns the bundle.
[[nodiscard]] std::expected<SessionTrustBundle, json::JsonError> decode_session_bundle_envelope(
    std::string_view text);
// One value from `reader`, which is left just after it (or failed, holding the same error).
[[nodiscard]] std::expected<SessionTrustBundle, json::JsonError> decode_session_trust_bundle(
    json::Reader& reader);
[[nodiscard]] std::expected<ParticipantEntry, json::JsonError> decode_participant_entry(
    json::Reader& reader);

// ---- writing ---------------------------------------------------------------------------------

// Compact envelope text {"session_bundle":{...}}: members in declared order, extensions only
// when present, the session id lower-case hyphenated, AIDs as the texts they were read from.
std::string encode_session_bundle_envelope(const SessionTrustBundle& bundle);

// ---- participant tokens and the signing input --------------------------------------------------

// The claims of a participant's TCT, decoded without checking anything: no header, signature,
// version, time or key binding. A token that does not split, repeated claims at any depth and a
// malformed payload are Canonicalization; an undeclared claim (also one inside cnf) is
// UnknownField.
[[nodiscard]] std::expected<TctClaims, SessionBundleError> decode_participant_tct(
    std::string_view tct);
// A participant's TCT split and decoded once, for decoding its claims and then verifying it; a
// token that does not split is Canonicalization "participant tct: " + the JWS error.
[[nodiscard]] std::expected<ParsedTct, SessionBundleError> parse_participant_tct(
    std::string_view tct);
// The same over a token already taken apart, which a verifier goes on to check.
[[nodiscard]] std::expected<TctClaims, SessionBundleError> decode_participant_tct(
    const ParsedTct& tct);

// The canonical form (RFC 8785) of every member but `signature`, extensions only when present:
// what the coordinator's signature covers. The session id enters as its standard text, whatever
// form it was read in.
[[nodiscard]] std::expected<std::string, SessionBundleError> bundle_signing_bytes(
    const SessionTrustBundle& bundle);

}  // namespace zelk
