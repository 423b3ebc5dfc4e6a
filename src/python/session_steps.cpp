#include "python/session_steps.hpp"

#include <string>
#include <utility>

#include "crypto/envelope_signing.hpp"
#include "crypto/random.hpp"
#include "python/clock.hpp"
#include "python/runtime/convert.hpp"

namespace zelk::py {

Result<MessageStamp> new_message_stamp() {
  auto id = new_uuid_v4();
  if (!id) return fail(PyError::panic(id.error().message()));
  ZELK_PY_TRY(std::int64_t now, system_now_secs());
  return MessageStamp{*id, now};
}

Result<std::string> new_uuid_text() {
  auto id = new_uuid_v4();
  if (!id) return fail(PyError::panic(id.error().message()));
  return id->to_string();
}

Result<ZelkEnvelope> read_envelope(std::string_view text) {
  auto envelope = decode_envelope(text);
  if (!envelope)
    return fail(PyError::value_error("invalid envelope JSON: " + envelope.error().full()));
  return std::move(*envelope);
}

PyError handshake_failure(const HandshakeError& error, std::optional<PyError>& panic) {
  if (panic) return std::move(*panic);
  return PyError::runtime_error(error.message());
}

Result<OwnedRef> signed_envelope_text(const SigningKey& key, MessageType type, json::Value payload,
                                      const MessageStamp& stamp) {
  auto envelope = sign_envelope(key, type, std::move(payload), stamp.id, stamp.timestamp);
  if (!envelope) return fail(PyError::runtime_error(envelope.error().message()));
  return py_str(encode_envelope(*envelope));
}

Result<OwnedRef> new_signed_envelope_text(const SigningKey& key, MessageType type,
                                          json::Value payload) {
  auto envelope = new_signed_envelope(key, type, std::move(payload));
  if (!envelope) {
    // The random source and the clock failing are the platform's fault, not the caller's.
    if (envelope.error().kind != EnvelopeSignError::Kind::Canonical)
      return fail(PyError::panic(envelope.error().message()));
    return fail(PyError::runtime_error(envelope.error().message()));
  }
  return py_str(encode_envelope(*envelope));
}

}  // namespace zelk::py
