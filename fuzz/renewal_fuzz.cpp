// The renewal payload reader (text path against value path, written form reading back) and the
// issuer's renewal over fuzzed claims: `current_tct` holds TCT claims that the fixed issuer key
// signs, and the holder's proof is made with the subject's fixed key over the decoded nonce, so
// the checks after both signatures are reached. A renewed token is a valid TCT for the same
// subject, audience and grants, issued now for the promised lifetime, with a fresh jti.
#include "base/saturating.hpp"
#include "crypto/jws.hpp"
#include "formats/base64url.hpp"
#include "fuzz_support.hpp"
#include "tct/claims.hpp"
#include "tct/renew.hpp"
#include "tct/verify.hpp"

namespace {

using namespace zelk;
using Payload = TctRenewalPayload;

constexpr std::int64_t kNow = 1'700'000'000;

void check_renewed(const Payload& given, std::int64_t manifest_expires_at, std::int64_t ttl) {
  const SigningKey& issuer = fuzz::ed25519_key();
  // Whatever the payload holds, renewal returns.
  (void)renew_tct(given, issuer, manifest_expires_at, kNow, ttl);

  const std::string current =
      fuzz::sign_token(issuer, jws_header_text(issuer.suite(), kTctTyp), given.current_tct);
  auto nonce = b64url_decode(given.pop_nonce);
  const Bytes nonce_bytes = nonce ? *nonce : Bytes(given.pop_nonce.begin(), given.pop_nonce.end());
  const Payload payload = build_renewal_payload(current, nonce_bytes, fuzz::peer_key());
  auto reread = read_renewal_payload(write_renewal_payload(payload));
  ZELK_FUZZ_CHECK(reread && *reread == payload, "a built payload does not read back");

  auto renewed = renew_tct(payload, issuer, manifest_expires_at, kNow, ttl);
  if (!renewed) return;
  auto old_claims = read_tct_claims(given.current_tct);
  ZELK_FUZZ_CHECK(old_claims.has_value(), given.current_tct);
  const TctClaims& c = renewed->claims;
  ZELK_FUZZ_CHECK(c.iss == issuer.aid() && c.sub == old_claims->sub && c.aud == old_claims->aud,
                  renewed->tct);
  ZELK_FUZZ_CHECK(c.grants == old_claims->grants && c.jti != old_claims->jti, renewed->tct);
  const std::int64_t lifetime = std::min(saturating_sub(manifest_expires_at, kNow), ttl);
  ZELK_FUZZ_CHECK(lifetime > 0 && c.iat == kNow && c.exp == saturating_add(kNow, lifetime),
                  renewed->tct);
  const TctVerifyOptions options{.issuer = issuer.aid(),
                                 .expected_audience = c.aud,
                                 .now = kNow,
                                 .manifest_expires_at = manifest_expires_at};
  auto verified = verify_tct_jws(renewed->tct, options);
  ZELK_FUZZ_CHECK(verified && verified->claims() == c,
                  verified ? renewed->tct : verified.error().message());
  ZELK_FUZZ_CHECK(renewed->grant_voucher.has_value(), renewed->tct);
  auto voucher = verify_grant_voucher_jws(*renewed->grant_voucher, issuer.aid());
  ZELK_FUZZ_CHECK(voucher && voucher->claims().sub == c.sub && voucher->claims().grants == c.grants,
                  *renewed->grant_voucher);
}

}  // namespace

// The first byte chooses the Manifest expiry and the asked lifetime; the rest is the payload.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr std::int64_t kOffsets[] = {-1, 0, 1, 600, 3600, INT64_MAX};
  const std::int64_t manifest_expires_at = saturating_add(kNow, kOffsets[data[0] % 6]);
  const std::int64_t ttl = kOffsets[(data[0] / 6) % 6];
  const std::string_view text = fuzz::text_of(data + 1, size - 1);
  fuzz::check_record_reader(text, read_renewal_payload, json::record_from_value<Payload>,
                            json::record_to_value<Payload>);
  fuzz::check_preparsed_read<Payload>(text);
  auto payload = read_renewal_payload(text);
  if (!payload) return 0;
  auto reread = read_renewal_payload(write_renewal_payload(*payload));
  ZELK_FUZZ_CHECK(reread && *reread == *payload, write_renewal_payload(*payload));
  check_renewed(*payload, manifest_expires_at, ttl);
  return 0;
}
