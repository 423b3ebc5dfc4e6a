#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "formats/json/canonical.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"

namespace zelk {

// Signs `payload` (taken over) into an envelope of version "zelk/0.2" from the key's AID. The
// signature covers the message identifier, the time, the sender and the canonical payload; the
// only failure is a payload the canonical writer refuses ("serialization failed: ...").
[[nodiscard]] std::expected<ZelkEnvelope, json::CanonicalJsonError> sign_envelope(
    const SigningKey& key, MessageType type, json::Value payload, const Uuid& message_id,
    std::int64_t timestamp);

// Why new_signed_envelope produced nothing. Random and Clock are broken invariants of the
// platform, not faults of the caller.
struct EnvelopeSignError {
  enum class Kind { Canonical, Random, Clock };
  Kind kind = Kind::Canonical;
  std::string text;  // the canonical writer's, the random source's or the clock's message
  std::string message() const { return text; }
  friend bool operator==(const EnvelopeSignError&, const EnvelopeSignError&) = default;
};

// sign_envelope with a fresh version-4 UUID (drawn first) and the current time.
[[nodiscard]] std::expected<ZelkEnvelope, EnvelopeSignError> new_signed_envelope(
    const SigningKey& key, MessageType type, json::Value payload);

}  // namespace zelk
