#include "revocation/revocation_list.hpp"

namespace zelk {

std::expected<RevocationListEnvelope, json::JsonError> decode_revocation_envelope(
    std::string_view text) {
  return json::read_record<RevocationListEnvelope>(text);
}

std::string encode_revocation_envelope(const RevocationListEnvelope& envelope) {
  std::string out;
  out.reserve(256 + envelope.revocation_list.entries.size() * 80);
  json::write_record(envelope, out);
  return out;
}

}  // namespace zelk
