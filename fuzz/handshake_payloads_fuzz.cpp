// The handshake payload readers and the identity descriptor: the generic record read of the text
// against the payload readers' value path, and every accepted payload written back reading as the
// same payload.
#include "fuzz_support.hpp"
#include "handshake/payloads.hpp"

namespace {

using namespace zelk;

template <typename T, typename FromValue, typename ToValue>
void check(std::string_view text, FromValue from_value, ToValue to_value) {
  fuzz::check_record_reader(
      text, [](std::string_view t) { return json::read_record<T>(t); }, from_value, to_value);
  fuzz::check_preparsed_read<T>(text);
}

json::Value descriptor_value(const IdentityDescriptor& descriptor) {
  json::Object object;
  identity_descriptor_to_value(object, descriptor);
  const json::Value* written = object.find("identity");
  ZELK_FUZZ_CHECK(written != nullptr && object.size() == 1, "identity member not written");
  return *written;
}

}  // namespace

// The first byte chooses the payload kind; the rest is its text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text = fuzz::text_of(data + 1, size - 1);
  switch (data[0] % 5) {
    case 0:
      check<IdentityDescriptor>(text, identity_descriptor_from_value, descriptor_value);
      break;
    case 1:
      check<MutualHelloPayload>(text, mutual_hello_from_value, mutual_hello_to_value);
      break;
    case 2:
      check<MutualHelloAckPayload>(text, mutual_hello_ack_from_value, mutual_hello_ack_to_value);
      break;
    case 3:
      check<MutualCommitPayload>(text, mutual_commit_from_value, mutual_commit_to_value);
      break;
    default:
      check<MutualCommitAckPayload>(text, mutual_commit_ack_from_value, mutual_commit_ack_to_value);
      break;
  }
  return 0;
}
