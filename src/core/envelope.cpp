#include "core/envelope.hpp"

#include <charconv>

namespace zelk {

using MessageTypeCodec = json::Codec<MessageType>;

std::string_view message_type_name(MessageType type) {
  return MessageTypeCodec::name_of(type);
}

std::optional<MessageType> message_type_variant_identifier(std::string_view name) {
  const auto names = MessageTypeCodec::names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<MessageType>(i);
  return std::nullopt;
}

std::expected<ZelkEnvelope, json::JsonError> decode_envelope(std::string_view text) {
  return json::read_record<ZelkEnvelope>(text);
}

std::string encode_envelope(const ZelkEnvelope& envelope) {
  std::string out;
  out.reserve(512);
  json::write_record(envelope, out);
  return out;
}

std::string envelope_signing_text(const Uuid& message_id, std::int64_t timestamp,
                                  std::string_view sender_aid, std::string_view payload_hash_hex) {
  std::string out;
  out.reserve(36 + 1 + 20 + 1 + sender_aid.size() + 1 + payload_hash_hex.size());
  message_id.append_to(out);
  out += '|';
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, timestamp);
  (void)ec;  // 24 characters hold every signed 64-bit value
  out.append(digits, end);
  out += '|';
  out += sender_aid;
  out += '|';
  out += payload_hash_hex;
  return out;
}

}  // namespace zelk
