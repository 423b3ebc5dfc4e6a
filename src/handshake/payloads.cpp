#include "handshake/payloads.hpp"

#include "tct/tct_envelope.hpp"

namespace zelk {

std::expected<IdentityDescriptor, json::JsonError> identity_descriptor_from_value(
    const json::Value& value) {
  return json::record_from_value<IdentityDescriptor>(value);
}

std::expected<MutualHelloPayload, json::JsonError> mutual_hello_from_value(
    const json::Value& value) {
  return json::record_from_value<MutualHelloPayload>(value);
}

std::expected<MutualHelloAckPayload, json::JsonError> mutual_hello_ack_from_value(
    const json::Value& value) {
  return json::record_from_value<MutualHelloAckPayload>(value);
}

std::expected<MutualCommitPayload, json::JsonError> mutual_commit_from_value(
    const json::Value& value) {
  return json::record_from_value<MutualCommitPayload>(value);
}

std::expected<MutualCommitAckPayload, json::JsonError> mutual_commit_ack_from_value(
    const json::Value& value) {
  return json::record_from_value<MutualCommitAckPayload>(value);
}

void identity_descriptor_to_value(json::Object& object, const IdentityDescriptor& descriptor) {
  object.insert_or_assign("identity", json::record_to_value(descriptor));
}

json::Value mutual_hello_to_value(const MutualHelloPayload& payload) {
  return json::record_to_value(payload);
}

json::Value mutual_hello_ack_to_value(const MutualHelloAckPayload& payload) {
  return json::record_to_value(payload);
}

json::Value mutual_commit_to_value(const MutualCommitPayload& payload) {
  return json::record_to_value(payload);
}

json::Value mutual_commit_ack_to_value(const MutualCommitAckPayload& payload) {
  return json::record_to_value(payload);
}

std::string commit_result_json(std::string_view tct, const std::optional<std::string>& voucher) {
  return write_tct_envelope(tct, voucher);
}

}  // namespace zelk
