#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "core/aid.hpp"
#include "core/aid_json.hpp"
#include "formats/json/error.hpp"
#include "formats/json/record.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"

namespace zelk {

inline constexpr std::string_view kProtocolVersion = "zelk/0.2";

// What an envelope's payload is; the wire names follow in this order.
enum class MessageType : std::uint8_t {
  MutualHello,
  MutualHelloAck,
  MutualCommit,
  MutualCommitAck,
  Tct,
  PopChallenge,
  PopResponse,
  Error,
};

struct Sender {
  Aid agent_id;
  friend bool operator==(const Sender&, const Sender&) = default;
};

// The signed message envelope of the handshake. Nothing here checks the signature: a received
// envelope is judged by what its payload carries.
struct ZelkEnvelope {
  std::string version;
  MessageType message_type = MessageType::MutualHello;
  Uuid message_id{};
  std::int64_t timestamp = 0;
  Sender sender;
  json::Value payload;                     // held as read, members in their order
  std::optional<json::Object> extensions;  // held sorted by name
  std::string signature;                   // any text on reading
  friend bool operator==(const ZelkEnvelope&, const ZelkEnvelope&) = default;
};

}  // namespace zelk

template <>
struct zelk::json::EnumTraits<zelk::MessageType> {
  static constexpr std::string_view names[] = {
      "mutual_hello", "mutual_hello_ack", "mutual_commit", "mutual_commit_ack",
      "tct",          "pop_challenge",    "pop_response",  "error",
  };
};

template <>
struct zelk::json::RecordTraits<zelk::Sender> {
  static constexpr std::string_view name = "Sender";
  static constexpr std::tuple members{member::required("agent_id", &zelk::Sender::agent_id)};
};

template <>
struct zelk::json::RecordTraits<zelk::ZelkEnvelope> {
  using E = zelk::ZelkEnvelope;
  static constexpr std::string_view name = "ZelkEnvelope";
  static constexpr std::tuple members{
      member::required("version", &E::version),
      member::required("message_type", &E::message_type),
      member::required("message_id", &E::message_id),
      member::required("timestamp", &E::timestamp),
      member::required("sender", &E::sender),
      member::required("payload", &E::payload),
      member::optional_left_off("extensions", &E::extensions, via<json::SortedObjectCodec>),
      member::required("signature", &E::signature),
  };
};

namespace zelk {

std::string_view message_type_name(MessageType type);
// The value of an exact (case-sensitive) wire name.
std::optional<MessageType> message_type_variant_identifier(std::string_view name);

// Strict reading of the whole text (map or array form).
[[nodiscard]] std::expected<ZelkEnvelope, json::JsonError> decode_envelope(std::string_view text);
// Compact JSON, members in declared order, extensions only when present.
std::string encode_envelope(const ZelkEnvelope& envelope);

// The text an envelope signature covers:
// message_id "|" timestamp "|" sender AID "|" SHA-256 of the canonical payload in lower-case hex.
std::string envelope_signing_text(const Uuid& message_id, std::int64_t timestamp,
                                  std::string_view sender_aid, std::string_view payload_hash_hex);

}  // namespace zelk
