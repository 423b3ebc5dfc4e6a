#pragma once

// Pieces the handshake methods of both session classes share: reading a received envelope,
// stamping and signing a reply, and raising a handshake step's failure.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "formats/json/error.hpp"
#include "formats/json/value.hpp"
#include "formats/uuid.hpp"
#include "handshake/handshake_error.hpp"
#include "python/runtime/error.hpp"
#include "python/session.hpp"

namespace zelk::py {

// The identifier and time of an envelope drawn before its payload is made, because an identity
// proof in the payload is bound to them.
struct MessageStamp {
  Uuid id;
  std::int64_t timestamp = 0;
};

// A fresh version-4 UUID, then the clock. Either failing is a broken invariant.
[[nodiscard]] Result<MessageStamp> new_message_stamp();

// A fresh version-4 UUID as lower-case hyphenated text.
[[nodiscard]] Result<std::string> new_uuid_text();

// "invalid envelope JSON: <error>" for text that is not an envelope.
[[nodiscard]] Result<ZelkEnvelope> read_envelope(std::string_view text);

// A received message: its envelope and the payload decoded from a copy of the envelope's
// payload value.
template <class Payload>
struct ReceivedMessage {
  ZelkEnvelope envelope;
  Payload payload;
};

template <class Payload>
using PayloadReader = std::expected<Payload, json::JsonError> (*)(const json::Value&);

// The envelope first ("invalid envelope JSON: <error>"), then its payload as the step expects it
// ("invalid <what> payload: <error>").
template <class Payload>
[[nodiscard]] Result<ReceivedMessage<Payload>> read_message(std::string_view text,
                                                            std::string_view what,
                                                            PayloadReader<Payload> read_payload) {
  ZELK_PY_TRY(ZelkEnvelope envelope, read_envelope(text));
  auto payload = read_payload(envelope.payload);
  if (!payload)
    return fail(PyError::value_error("invalid " + std::string(what) +
                                     " payload: " + payload.error().full()));
  return ReceivedMessage<Payload>{std::move(envelope), std::move(*payload)};
}

// RuntimeError with the step's text alone, unless a PanicException came out of oidc_mint_jwt
// during the step: that goes on instead.
[[nodiscard]] PyError handshake_failure(const HandshakeError& error, std::optional<PyError>& panic);

// The payload signed into an envelope with the given stamp, as compact JSON text.
[[nodiscard]] Result<OwnedRef> signed_envelope_text(const SigningKey& key, MessageType type,
                                                    json::Value payload, const MessageStamp& stamp);
// The same with an identifier and time drawn now.
[[nodiscard]] Result<OwnedRef> new_signed_envelope_text(const SigningKey& key, MessageType type,
                                                        json::Value payload);

}  // namespace zelk::py
