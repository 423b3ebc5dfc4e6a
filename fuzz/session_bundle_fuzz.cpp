// Session bundle envelopes: text path against value path and the written envelope reading back.
// Then the bundle is made genuine: each participant's `tct` holds TCT claims that the coordinator's
// key signs, an `expires_at` of 0 becomes the participants' least `exp`, and the coordinator signs
// the bundle. A bundle that verifies keeps every promise: version, expiry, membership, the least
// exp, and each participant either active or (revoked) dropped, in order.
#include <algorithm>
#include <limits>

#include "core/envelope.hpp"
#include "crypto/detached.hpp"
#include "crypto/jws.hpp"
#include "fuzz_support.hpp"
#include "session_bundle/bundle.hpp"
#include "session_bundle/verify.hpp"
#include "tct/claims.hpp"

namespace {

using namespace zelk;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::string_view kRevokedJti = "00000000-0000-4000-8000-000000000000";

std::expected<SessionTrustBundle, json::JsonError> bundle_from_value(const json::Value& value) {
  auto envelope = json::record_from_value<SessionBundleEnvelope>(value);
  if (!envelope) return std::unexpected(std::move(envelope.error()));
  return std::move(envelope->session_bundle);
}

json::Value bundle_to_value(const SessionTrustBundle& bundle) {
  return json::record_to_value(SessionBundleEnvelope{bundle});
}

void check_genuine(SessionTrustBundle bundle) {
  const SigningKey& coordinator = fuzz::key_for_aid(bundle.coordinator.text());
  std::int64_t least_exp = std::numeric_limits<std::int64_t>::max();
  for (ParticipantEntry& entry : bundle.participants) {
    if (auto claims = read_tct_claims(entry.tct)) least_exp = std::min(least_exp, claims->exp);
    entry.tct =
        fuzz::sign_token(coordinator, jws_header_text(coordinator.suite(), kTctTyp), entry.tct);
  }
  if (bundle.expires_at == 0) bundle.expires_at = least_exp;
  auto signing_bytes = bundle_signing_bytes(bundle);
  if (!signing_bytes) return;
  bundle.signature = sign_detached(coordinator, *signing_bytes);

  const RevocationCheck revoked = [](const Uuid& jti) { return jti.to_string() == kRevokedJti; };
  const Aid& verifier = fuzz::peer_key().aid();
  auto verified = verify_bundle(bundle, verifier, kNow, &revoked);
  // The carried form verifies the same way.
  const std::string carried = encode_session_bundle_envelope(bundle);
  auto reread = decode_session_bundle_envelope(carried);
  ZELK_FUZZ_CHECK(reread && *reread == bundle, carried);
  auto again = verify_bundle(*reread, verifier, kNow, &revoked);
  ZELK_FUZZ_CHECK(again.has_value() == verified.has_value(), carried);
  if (!verified) {
    ZELK_FUZZ_CHECK(again.error().message() == verified.error().message(), carried);
    return;
  }
  ZELK_FUZZ_CHECK(*again == *verified, carried);
  ZELK_FUZZ_CHECK(bundle.version == kProtocolVersion && bundle.expires_at >= kNow, carried);
  ZELK_FUZZ_CHECK(bundle.coordinator.text() == coordinator.aid().text(), carried);
  ZELK_FUZZ_CHECK(find_participant(bundle.participants, verifier), carried);
  ZELK_FUZZ_CHECK(bundle.expires_at == least_exp, carried);
  ZELK_FUZZ_CHECK(!verified->dropped_aids || !verified->dropped_aids->empty(), carried);
  std::size_t active = 0, dropped = 0;
  for (const ParticipantEntry& entry : bundle.participants) {
    auto claims = decode_participant_tct(entry.tct);
    ZELK_FUZZ_CHECK(claims.has_value(), entry.tct);
    ZELK_FUZZ_CHECK(claims->sub == entry.aid && claims->iss == bundle.coordinator, entry.tct);
    if (claims->jti.to_string() == kRevokedJti) {
      ZELK_FUZZ_CHECK(verified->dropped_aids && dropped < verified->dropped_aids->size() &&
                          (*verified->dropped_aids)[dropped++] == entry.aid.text(),
                      carried);
    } else {
      ZELK_FUZZ_CHECK(active < verified->active_aids.size() &&
                          verified->active_aids[active++] == entry.aid.text(),
                      carried);
    }
  }
  ZELK_FUZZ_CHECK(active == verified->active_aids.size(), carried);
  ZELK_FUZZ_CHECK(dropped == (verified->dropped_aids ? verified->dropped_aids->size() : 0),
                  carried);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::text_of(data, size);
  fuzz::check_record_reader(text, decode_session_bundle_envelope, bundle_from_value,
                            bundle_to_value);
  auto bundle = decode_session_bundle_envelope(text);
  if (!bundle) return 0;
  const std::string written = encode_session_bundle_envelope(*bundle);
  auto reread = decode_session_bundle_envelope(written);
  ZELK_FUZZ_CHECK(reread && *reread == *bundle, written);
  // Whatever the bundle holds, verification returns.
  (void)verify_bundle(*bundle, fuzz::peer_key().aid(), kNow);
  check_genuine(std::move(*bundle));
  return 0;
}
