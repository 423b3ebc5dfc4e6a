// The revocation list envelope reader: text path against value path, the carried form reading
// back as the same envelope, and the list re-signed by the fixed key verifying exactly when its
// version, expiry and issuer are right, before and after the carried form.
#include "core/envelope.hpp"
#include "fuzz_support.hpp"
#include "revocation/revocation_list.hpp"
#include "revocation/snapshot.hpp"

namespace {

using namespace zelk;
using Envelope = RevocationListEnvelope;

constexpr std::int64_t kNow = 1'700'000'000;

void check_resigned(const RevocationList& list) {
  const SigningKey& key = fuzz::ed25519_key();
  auto signed_envelope = sign_revocation_snapshot(list, key);
  ZELK_FUZZ_CHECK(signed_envelope.has_value(), "a list read from text fails to sign");
  ZELK_FUZZ_CHECK(signed_envelope->revocation_list == list, "signing changed the list");
  const bool should_verify = list.version == kProtocolVersion && list.expires_at >= kNow &&
                             list.issuer.text() == key.aid().text();
  auto verified = verify_revocation_snapshot(*signed_envelope, key.aid().text(), kNow);
  ZELK_FUZZ_CHECK(verified.has_value() == should_verify,
                  verified ? "accepted" : verified.error().message());
  // The signature covers the list, not the text it is carried in.
  const std::string carried = encode_revocation_envelope(*signed_envelope);
  auto reread = decode_revocation_envelope(carried);
  ZELK_FUZZ_CHECK(reread && *reread == *signed_envelope, carried);
  ZELK_FUZZ_CHECK(
      verify_revocation_snapshot(*reread, key.aid().text(), kNow).has_value() == should_verify,
      carried);
  // Any other expected issuer is refused.
  ZELK_FUZZ_CHECK(!verify_revocation_snapshot(*signed_envelope, fuzz::peer_key().aid().text(), kNow)
                       .has_value(),
                  carried);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  fuzz::check_record_reader(text, decode_revocation_envelope, json::record_from_value<Envelope>,
                            json::record_to_value<Envelope>);
  fuzz::check_preparsed_read<Envelope>(text);
  auto envelope = decode_revocation_envelope(text);
  if (!envelope) return 0;
  const std::string written = encode_revocation_envelope(*envelope);
  auto reread = decode_revocation_envelope(written);
  ZELK_FUZZ_CHECK(reread && *reread == *envelope, written);
  // Whatever the text held, verification of it returns.
  (void)verify_revocation_snapshot(*envelope, envelope->revocation_list.issuer.text(), kNow);
  check_resigned(envelope->revocation_list);
  return 0;
}
