// TCT and grant voucher verification over fuzzed claims, re-signed by the fixed issuer key so the
// checks after the signature are reached. An accepted token satisfies every check the verifier
// promises; the same claims read strictly give the same record.
#include "base/saturating.hpp"
#include "crypto/jws.hpp"
#include "fuzz_support.hpp"
#include "tct/claims.hpp"
#include "tct/verify.hpp"

namespace {

using namespace zelk;

constexpr std::int64_t kNow = 1'700'000'000;
constexpr std::int64_t kSkew = 60;
constexpr std::int64_t kManifestExpiresAt = kNow + 86'400;
// Claims naming this identifier are revoked.
constexpr std::string_view kRevokedJti = "00000000-0000-4000-8000-000000000000";

void check_tct(std::string_view payload) {
  const SigningKey& issuer = fuzz::ed25519_key();
  const Aid& audience = fuzz::peer_key().aid();
  const std::string token =
      fuzz::sign_token(issuer, jws_header_text(issuer.suite(), kTctTyp), payload);
  const RevocationCheck revoked = [](const Uuid& jti) { return jti.to_string() == kRevokedJti; };
  const TctVerifyOptions options{.issuer = issuer.aid(),
                                 .expected_audience = audience,
                                 .now = kNow,
                                 .manifest_expires_at = kManifestExpiresAt,
                                 .revocation = &revoked,
                                 .clock_skew_secs = kSkew};
  auto verified = verify_tct_jws(token, options);
  if (!verified) return;
  const TctClaims& c = verified->claims();
  ZELK_FUZZ_CHECK(verified->token() == token, token);
  auto strict = read_tct_claims(payload);
  ZELK_FUZZ_CHECK(strict && *strict == c, token);
  ZELK_FUZZ_CHECK(c.ver == "zelk/0.2", c.ver);
  ZELK_FUZZ_CHECK(c.iss == issuer.aid(), c.iss.text());
  ZELK_FUZZ_CHECK(c.aud == audience && c.sub == audience, c.aud.text());
  ZELK_FUZZ_CHECK(c.exp >= kNow - kSkew && c.iat <= kNow + kSkew, token);
  ZELK_FUZZ_CHECK(c.exp <= kManifestExpiresAt, token);
  ZELK_FUZZ_CHECK(!c.grants.empty(), token);
  ZELK_FUZZ_CHECK(c.cnf.jkt == *jwk_thumbprint(fuzz::peer_key().verifying_key()), c.cnf.jkt);
  ZELK_FUZZ_CHECK(c.jti.to_string() != kRevokedJti, token);
}

void check_voucher(std::string_view payload) {
  const SigningKey& issuer = fuzz::ed25519_key();
  const std::string token =
      fuzz::sign_token(issuer, jws_header_text(issuer.suite(), kGrantVoucherTyp), payload);
  auto verified = verify_grant_voucher_jws(token, issuer.aid());
  if (!verified) return;
  const GrantVoucherClaims& c = verified->claims();
  ZELK_FUZZ_CHECK(verified->token() == token, token);
  auto strict = read_grant_voucher_claims(payload);
  ZELK_FUZZ_CHECK(strict && *strict == c, token);
  ZELK_FUZZ_CHECK(c.ver == "zelk/0.2" && c.iss == issuer.aid(), token);
  ZELK_FUZZ_CHECK(!c.grants.empty(), token);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view payload = zelk::fuzz::text_of(data, size);
  check_tct(payload);
  check_voucher(payload);
  return 0;
}
