#pragma once

// The Manifest, an agent's signed self-description, with its parts and their JSON forms. Reading
// is strict (unknown, repeated and missing members refused); writing follows the declared order.
// Building and signing live in builder.hpp, verification in verify.hpp.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "core/aid.hpp"
#include "core/aid_json.hpp"
#include "core/extensions.hpp"
#include "formats/json/error.hpp"
#include "formats/json/reader.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"

namespace zelk {

inline constexpr std::string_view kManifestVersion = "zelk/0.2";

// How the agent proves its identity in a handshake. The values are the wire order.
enum class IdentityType : std::uint8_t { Oidc = 0, PinnedKey = 1 };

// "oidc" or "pinned_key".
std::string_view identity_type_name(IdentityType type);

// Reading does not tie issuer or public_key to the type; building and verification do.
struct IdentityHint {
  IdentityType type = IdentityType::PinnedKey;
  std::string subject;
  std::optional<std::string> issuer;
  std::optional<std::string> public_key;
  friend bool operator==(const IdentityHint&, const IdentityHint&) = default;
};

// Proof that the signer holds the private key: a detached signature over the SHA-256 of the
// decoded challenge bytes.
struct ManifestPop {
  std::string challenge;
  std::string signature;
  friend bool operator==(const ManifestPop&, const ManifestPop&) = default;
};

// Members in declared order, which is also the array form's order and the written order. Texts
// and lists are held as read: no rule on their contents, and the times are not compared.
struct Manifest {
  std::string version;
  Aid aid;
  std::optional<std::string> display_name;
  IdentityHint identity_hint;
  std::string handshake_endpoint;
  std::vector<std::string> accepted_trust_anchors;
  std::optional<std::vector<std::string>> accepted_identity_types;
  std::optional<std::vector<std::string>> accepted_signature_algorithms;
  std::vector<std::string> offered_capabilities;
  std::optional<std::vector<std::string>> required_peer_capabilities;
  ManifestPop proof_of_possession;
  std::int64_t published_at = 0;
  std::int64_t expires_at = 0;
  std::optional<json::Object> extensions;  // sorted by name; present-but-empty differs from absent
  std::string signature;
  friend bool operator==(const Manifest&, const Manifest&) = default;
};

// The published wire wrapper: {"manifest": ...}.
struct ManifestEnvelope {
  Manifest manifest;
  friend bool operator==(const ManifestEnvelope&, const ManifestEnvelope&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::EnumTraits<zelk::IdentityType> {
  static constexpr std::string_view names[] = {"oidc", "pinned_key"};
};

template <>
struct zelk::json::RecordTraits<zelk::IdentityHint> {
  using H = zelk::IdentityHint;
  static constexpr std::string_view name = "IdentityHint";
  static constexpr std::tuple members{
      member::required("type", &H::type),
      member::required("subject", &H::subject),
      member::optional_left_off("issuer", &H::issuer),
      member::optional_left_off("public_key", &H::public_key),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::ManifestPop> {
  using P = zelk::ManifestPop;
  static constexpr std::string_view name = "ManifestPop";
  static constexpr std::tuple members{
      member::required("challenge", &P::challenge),
      member::required("signature", &P::signature),
  };
};

// An array form that ends early leaves the optional members it did not reach absent; the last
// member is required, so only a complete array of 15 elements reads.
template <>
struct zelk::json::RecordTraits<zelk::Manifest> {
  using M = zelk::Manifest;
  static constexpr std::string_view name = "Manifest";
  static constexpr std::tuple members{
      member::required("version", &M::version),
      member::required("aid", &M::aid),
      member::optional_left_off("display_name", &M::display_name),
      member::required("identity_hint", &M::identity_hint),
      member::required("handshake_endpoint", &M::handshake_endpoint),
      member::required("accepted_trust_anchors", &M::accepted_trust_anchors),
      member::optional_left_off("accepted_identity_types", &M::accepted_identity_types),
      member::optional_left_off("accepted_signature_algorithms", &M::accepted_signature_algorithms),
      member::required("offered_capabilities", &M::offered_capabilities),
      member::optional_left_off("required_peer_capabilities", &M::required_peer_capabilities),
      member::required("proof_of_possession", &M::proof_of_possession),
      member::required("published_at", &M::published_at),
      member::required("expires_at", &M::expires_at),
      member::optional_left_off("extensions", &M::extensions, via<json::SortedObjectCodec>),
      member::required("signature", &M::signature),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::ManifestEnvelope> {
  static constexpr std::string_view name = "ManifestEnvelope";
  static constexpr std::tuple members{
      member::required("manifest", &zelk::ManifestEnvelope::manifest),
  };
};

namespace zelk {

// ---- reading from JSON text (messages end with " at line L column C") --------------------------

// The whole document: one envelope value with optional whitespace around it.
[[nodiscard]] std::expected<ManifestEnvelope, json::JsonError> decode_manifest_envelope(
    std::string_view text);
// One value from `reader`, which is left just after it (or failed, holding the same error).
[[nodiscard]] std::expected<Manifest, json::JsonError> decode_manifest(json::Reader& reader);
[[nodiscard]] std::expected<IdentityHint, json::JsonError> decode_identity_hint(
    json::Reader& reader);
[[nodiscard]] std::expected<ManifestPop, json::JsonError> decode_manifest_pop(json::Reader& reader);
[[nodiscard]] std::expected<IdentityType, json::JsonError> identity_type_from_str(
    json::Reader& reader);

// ---- reading from a parsed value (the same rules; no duplicates seen, no positions) -----------

[[nodiscard]] std::expected<Manifest, json::JsonError> manifest_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<IdentityHint, json::JsonError> identity_hint_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<ManifestPop, json::JsonError> manifest_pop_from_value(
    const json::Value& value);
// The string, or the one-member object whose value is null, of a `type` member.
[[nodiscard]] std::expected<IdentityType, json::JsonError> identity_type_from_value(
    const json::Value& value);

// ---- writing ---------------------------------------------------------------------------------

// Compact envelope text {"manifest":{...}}: members in declared order, absent optional members
// left out, extensions sorted (written even when empty), the aid as the text it was read from.
std::string encode_manifest_envelope(const ManifestEnvelope& envelope);
std::string encode_manifest_envelope(const Manifest& manifest);

// The Manifest's JSON object, members in declared order.
json::Value manifest_to_value(const Manifest& manifest);
// Adds (or replaces) "manifest" in a payload object under construction. Writing a Manifest into
// a value tree cannot fail.
void manifest_envelope_to_value(json::Object& object, const Manifest& manifest);
// Adds "proof_of_possession": {"challenge", "signature"}.
void manifest_pop_to_value(json::Object& object, const ManifestPop& pop);
// Adds "issuer" with the text, or null for an absent issuer.
void write_issuer_value_member(json::Object& object, const std::optional<std::string>& issuer);

}  // namespace zelk
