#include "manifest/manifest.hpp"

#include <utility>

namespace zelk {

std::string_view identity_type_name(IdentityType type) {
  return json::Codec<IdentityType>::name_of(type);
}

std::expected<ManifestEnvelope, json::JsonError> decode_manifest_envelope(std::string_view text) {
  return json::read_record<ManifestEnvelope>(text);
}

std::expected<Manifest, json::JsonError> decode_manifest(json::Reader& reader) {
  return json::read_one<Manifest>(reader);
}

std::expected<IdentityHint, json::JsonError> decode_identity_hint(json::Reader& reader) {
  return json::read_one<IdentityHint>(reader);
}

std::expected<ManifestPop, json::JsonError> decode_manifest_pop(json::Reader& reader) {
  return json::read_one<ManifestPop>(reader);
}

std::expected<IdentityType, json::JsonError> identity_type_from_str(json::Reader& reader) {
  return json::read_one<IdentityType>(reader);
}

std::expected<Manifest, json::JsonError> manifest_from_value(const json::Value& value) {
  return json::record_from_value<Manifest>(value);
}

std::expected<IdentityHint, json::JsonError> identity_hint_from_value(const json::Value& value) {
  return json::record_from_value<IdentityHint>(value);
}

std::expected<ManifestPop, json::JsonError> manifest_pop_from_value(const json::Value& value) {
  return json::record_from_value<ManifestPop>(value);
}

std::expected<IdentityType, json::JsonError> identity_type_from_value(const json::Value& value) {
  return json::from_value<IdentityType>(value);
}

std::string encode_manifest_envelope(const ManifestEnvelope& envelope) {
  return encode_manifest_envelope(envelope.manifest);
}

std::string encode_manifest_envelope(const Manifest& manifest) {
  std::string out;
  out.reserve(1024);
  out += '{';
  json::write_json_member_name("manifest", out);
  json::write_record(manifest, out);
  out += '}';
  return out;
}

json::Value manifest_to_value(const Manifest& manifest) {
  return json::record_to_value(manifest);
}

void manifest_envelope_to_value(json::Object& object, const Manifest& manifest) {
  object.insert_or_assign("manifest", manifest_to_value(manifest));
}

void manifest_pop_to_value(json::Object& object, const ManifestPop& pop) {
  object.insert_or_assign("proof_of_possession", json::record_to_value(pop));
}

void write_issuer_value_member(json::Object& object, const std::optional<std::string>& issuer) {
  object.insert_or_assign("issuer", issuer ? json::Value(*issuer) : json::Value());
}

}  // namespace zelk
