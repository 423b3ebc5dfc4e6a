#include "session_bundle/bundle.hpp"

#include <utility>

#include "crypto/detached.hpp"
#include "formats/json/writer.hpp"

namespace zelk {

std::expected<SessionTrustBundle, json::JsonError> decode_session_bundle_envelope(
    std::string_view text) {
  auto envelope = json::read_record<SessionBundleEnvelope>(text);
  if (!envelope) return std::unexpected(std::move(envelope.error()));
  return std::move(envelope->session_bundle);
}

std::expected<SessionTrustBundle, json::JsonError> decode_session_trust_bundle(
    json::Reader& reader) {
  return json::read_one<SessionTrustBundle>(reader);
}

std::expected<ParticipantEntry, json::JsonError> decode_participant_entry(json::Reader& reader) {
  return json::read_one<ParticipantEntry>(reader);
}

std::string encode_session_bundle_envelope(const SessionTrustBundle& bundle) {
  std::string out;
  out.reserve(128);
  out += '{';
  json::write_json_member_name("session_bundle", out);
  json::write_record(bundle, out);
  out += '}';
  return out;
}

std::expected<std::string, SessionBundleError> bundle_signing_bytes(
    const SessionTrustBundle& bundle) {
  auto bytes = body_signing_bytes(json::record_to_value(bundle));
  if (!bytes) return std::unexpected(SessionBundleError::canonicalization(bytes.error().message()));
  return std::move(*bytes);
}

}  // namespace zelk
