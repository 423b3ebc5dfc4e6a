#pragma once

// The payloads of the four handshake messages and the identity a party presents in a hello. They
// are read strictly from the payload value of a received envelope (map or array form; unknown and
// missing members refused; optional members absent or null) and written with their members in
// declared order, absent optional members left out.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "manifest/manifest.hpp"

namespace zelk {

struct IdentityDescriptor {
  IdentityType type = IdentityType::PinnedKey;
  std::optional<std::string> issuer;  // "oidc": the identity provider's URL text
  std::string subject;
  std::string proof;                       // detached signature text, or a compact JWT
  std::optional<std::string> public_key;   // "pinned_key": 43 base64url characters
  std::optional<json::Object> extensions;  // held sorted by name
  friend bool operator==(const IdentityDescriptor&, const IdentityDescriptor&) = default;
};

// Initiator to responder.
struct MutualHelloPayload {
  IdentityDescriptor identity;
  Manifest manifest;
  std::vector<std::string> requested_grants;
  std::string pop_nonce;
  std::optional<json::Object> extensions;
  friend bool operator==(const MutualHelloPayload&, const MutualHelloPayload&) = default;
};

// Responder to initiator.
struct MutualHelloAckPayload {
  IdentityDescriptor identity;
  Manifest manifest;
  std::vector<std::string> requested_grants;
  std::string pop_nonce;
  std::string pop_nonce_echo;  // the initiator's pop_nonce, as received
  std::optional<json::Object> extensions;
  friend bool operator==(const MutualHelloAckPayload&, const MutualHelloAckPayload&) = default;
};

// The commit and its acknowledgement carry the same members: the TCT the sender issues to the
// receiver, its grant voucher, the sender's proof of possession over the receiver's nonce, and
// that nonce echoed.
struct MutualCommitPayload {
  std::string tct;
  std::optional<std::string> grant_voucher;
  std::string pop_signature;
  std::string pop_nonce_echo;
  std::optional<json::Object> extensions;
  friend bool operator==(const MutualCommitPayload&, const MutualCommitPayload&) = default;
};

struct MutualCommitAckPayload : MutualCommitPayload {
  friend bool operator==(const MutualCommitAckPayload&, const MutualCommitAckPayload&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::RecordTraits<zelk::IdentityDescriptor> {
  using D = zelk::IdentityDescriptor;
  static constexpr std::string_view name = "IdentityDescriptor";
  static constexpr std::tuple members{
      member::required("type", &D::type),
      member::optional_left_off("issuer", &D::issuer),
      member::required("subject", &D::subject),
      member::required("proof", &D::proof),
      member::optional_left_off("public_key", &D::public_key),
      member::optional_left_off("extensions", &D::extensions, via<json::SortedObjectCodec>),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::MutualHelloPayload> {
  using P = zelk::MutualHelloPayload;
  static constexpr std::string_view name = "MutualHelloPayload";
  static constexpr std::tuple members{
      member::required("identity", &P::identity),
      member::required("manifest", &P::manifest),
      member::required("requested_grants", &P::requested_grants),
      member::required("pop_nonce", &P::pop_nonce),
      member::optional_left_off("extensions", &P::extensions, via<json::SortedObjectCodec>),
  };
};

template <>
struct zelk::json::RecordTraits<zelk::MutualHelloAckPayload> {
  using P = zelk::MutualHelloAckPayload;
  static constexpr std::string_view name = "MutualHelloAckPayload";
  static constexpr std::tuple members{
      member::required("identity", &P::identity),
      member::required("manifest", &P::manifest),
      member::required("requested_grants", &P::requested_grants),
      member::required("pop_nonce", &P::pop_nonce),
      member::required("pop_nonce_echo", &P::pop_nonce_echo),
      member::optional_left_off("extensions", &P::extensions, via<json::SortedObjectCodec>),
  };
};

namespace zelk::handshake_detail {

// The commit members, shared by both commit records; only the record name differs.
template <typename P>
inline constexpr std::tuple kCommitMembers{
    json::member::required("tct", &P::tct),
    json::member::optional_left_off("grant_voucher", &P::grant_voucher, json::write_null),
    json::member::required("pop_signature", &P::pop_signature),
    json::member::required("pop_nonce_echo", &P::pop_nonce_echo),
    json::member::optional_left_off("extensions", &P::extensions,
                                    json::via<json::SortedObjectCodec>),
};

}  // namespace zelk::handshake_detail

template <>
struct zelk::json::RecordTraits<zelk::MutualCommitPayload> {
  static constexpr std::string_view name = "MutualCommitPayload";
  static constexpr auto members = zelk::handshake_detail::kCommitMembers<zelk::MutualCommitPayload>;
};

template <>
struct zelk::json::RecordTraits<zelk::MutualCommitAckPayload> {
  static constexpr std::string_view name = "MutualCommitAckPayload";
  static constexpr auto members =
      zelk::handshake_detail::kCommitMembers<zelk::MutualCommitAckPayload>;
};

namespace zelk {

// ---- reading from a received envelope's payload value ------------------------------------------
[[nodiscard]] std::expected<IdentityDescriptor, json::JsonError> identity_descriptor_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<MutualHelloPayload, json::JsonError> mutual_hello_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<MutualHelloAckPayload, json::JsonError> mutual_hello_ack_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<MutualCommitPayload, json::JsonError> mutual_commit_from_value(
    const json::Value& value);
[[nodiscard]] std::expected<MutualCommitAckPayload, json::JsonError> mutual_commit_ack_from_value(
    const json::Value& value);

// ---- writing -----------------------------------------------------------------------------------
// Adds (or replaces) "identity" in a payload object under construction.
void identity_descriptor_to_value(json::Object& object, const IdentityDescriptor& descriptor);
// The payload objects, members in declared order; grant_voucher is always written (null when
// absent), other absent optional members are left out.
json::Value mutual_hello_to_value(const MutualHelloPayload& payload);
json::Value mutual_hello_ack_to_value(const MutualHelloAckPayload& payload);
json::Value mutual_commit_to_value(const MutualCommitPayload& payload);
json::Value mutual_commit_ack_to_value(const MutualCommitAckPayload& payload);

// {"tct":"…","grant_voucher":"…" or null}, compact.
std::string commit_result_json(std::string_view tct, const std::optional<std::string>& voucher);

}  // namespace zelk
