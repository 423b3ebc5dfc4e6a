#include "crypto/envelope_signing.hpp"

#include "base/clock.hpp"
#include "crypto/detached.hpp"
#include "crypto/random.hpp"
#include "crypto/sha256.hpp"

namespace zelk {

std::expected<ZelkEnvelope, json::CanonicalJsonError> sign_envelope(const SigningKey& key,
                                                                    MessageType type,
                                                                    json::Value payload,
                                                                    const Uuid& message_id,
                                                                    std::int64_t timestamp) {
  auto canonical = json::canonical_json(payload);
  if (!canonical) return std::unexpected(std::move(canonical.error()));
  const std::string text =
      envelope_signing_text(message_id, timestamp, key.aid_text(), lower_hex(sha256(*canonical)));
  ZelkEnvelope envelope;
  envelope.version = std::string(kProtocolVersion);
  envelope.message_type = type;
  envelope.message_id = message_id;
  envelope.timestamp = timestamp;
  envelope.sender.agent_id = key.aid();
  envelope.payload = std::move(payload);
  envelope.signature = sign_detached(key, text);
  return envelope;
}

std::expected<ZelkEnvelope, EnvelopeSignError> new_signed_envelope(const SigningKey& key,
                                                                   MessageType type,
                                                                   json::Value payload) {
  using Kind = EnvelopeSignError::Kind;
  auto id = new_uuid_v4();
  if (!id) return std::unexpected(EnvelopeSignError{Kind::Random, id.error().message()});
  auto now = unix_now_secs();
  if (!now) return std::unexpected(EnvelopeSignError{Kind::Clock, now.error().message()});
  auto envelope = sign_envelope(key, type, std::move(payload), *id, *now);
  if (!envelope)
    return std::unexpected(EnvelopeSignError{Kind::Canonical, envelope.error().message()});
  return std::move(*envelope);
}

}  // namespace zelk
