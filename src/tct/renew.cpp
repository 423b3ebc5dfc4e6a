#include "tct/renew.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/saturating.hpp"
#include "crypto/detached.hpp"
#include "formats/base64url.hpp"
#include "formats/json/parse.hpp"
#include "tct/claims.hpp"
#include "tct/payload_problem.hpp"
#include "tct/verify.hpp"

namespace zelk {
namespace {

using Kind = TctError::Kind;

// The presented token's claims, read without any check of the token itself. Unlike the
// verifier's pre-check, the duplicate scan and the parse run whatever the header says; only the
// undeclared-member check waits for the TCT type.
[[nodiscard]] std::expected<TctClaims, TctError> unverified_claims(const ParsedTct& token) {
  const CompactJws& jws = token.jws();
  if (!jws.payload_bytes()) return std::unexpected(TctError::wrap(jws.payload_bytes().error()));
  // The same scan as the verifier's pre-check; only its undeclared-member finding waits for
  // the TCT type.
  std::optional<PayloadProblem> problem = token.precheck_payload();
  if (problem && (problem->kind == PayloadProblem::Kind::Repeated || jws.typ_hint() == kTctTyp))
    return std::unexpected(from_payload_problem(std::move(*problem)));
  if (token.claims()) return *token.claims();
  const json::ParsedText* payload = jws.payload_json();
  if (payload == nullptr) {
    // Not JSON: only on this failing path is the text read again, for the parser's own message.
    auto parsed = json::parse_value(jws.payload_text());
    return std::unexpected(
        TctError::claims_malformed(parsed ? std::string("invalid JSON") : parsed.error().full()));
  }
  // Failures are told as read from the parsed value, without a position (an over-long array,
  // for one, is "invalid length" there rather than "trailing characters").
  auto claims = tct_claims_from_value(payload->value);
  if (!claims) return std::unexpected(tct_claims_read_error(claims.error()));
  return std::move(*claims);
}

}  // namespace

std::expected<TctRenewalPayload, json::JsonError> read_renewal_payload(std::string_view text) {
  return json::read_record<TctRenewalPayload>(text);
}

std::string write_renewal_payload(const TctRenewalPayload& payload) {
  std::string out;
  out.reserve(payload.current_tct.size() + payload.pop_nonce.size() + payload.pop_signature.size() +
              64);
  json::write_record(payload, out);
  return out;
}

TctRenewalPayload build_renewal_payload(std::string current_tct, ByteView nonce,
                                        const SigningKey& holder) {
  return TctRenewalPayload{
      .current_tct = std::move(current_tct),
      .pop_nonce = b64url_encode(nonce),
      .pop_signature = sign_detached(holder, nonce),
  };
}

std::expected<MintedTct, TctError> renew_tct(const TctRenewalPayload& payload,
                                             const SigningKey& issuer,
                                             std::int64_t manifest_expires_at, std::int64_t now,
                                             std::int64_t new_ttl_secs) {
  // The token is split, decoded and parsed once; every step below reads that one form.
  auto token = ParsedTct::parse(payload.current_tct);
  if (!token) return std::unexpected(TctError::wrap(std::move(token.error())));
  auto claims = unverified_claims(*token);
  if (!claims) return std::unexpected(std::move(claims.error()));

  // Checking the audience against the token's own reduces to aud == sub.
  const TctVerifyOptions options{
      .issuer = issuer.aid(), .expected_audience = claims->aud, .now = now};
  auto verified = verify_tct_jws(*token, options);
  if (!verified) return std::unexpected(std::move(verified.error()));
  const TctClaims& current = verified->claims();

  auto holder_key = verifying_key_from_aid(current.sub);
  if (!holder_key) return std::unexpected(TctError::wrap(std::move(holder_key.error())));
  auto nonce = b64url_decode(payload.pop_nonce);
  if (!nonce)
    return std::unexpected(
        TctError::claims_malformed("pop_nonce: " + std::string(nonce.error().message())));
  if (!verify_detached(*holder_key, ByteView(*nonce), payload.pop_signature))
    return std::unexpected(TctError::of(Kind::SignatureInvalid));

  if (manifest_expires_at <= now) return std::unexpected(TctError::of(Kind::OutsideValidity));
  const std::int64_t lifetime = std::min(saturating_sub(manifest_expires_at, now), new_ttl_secs);
  if (lifetime <= 0) return std::unexpected(TctError::of(Kind::OutsideValidity));

  TctIssueParams params = set_issue_grants(new_tct_issue_params(issuer), current.grants);
  params.subject = current.sub;
  params.audience = current.aud;
  params.subject_pubkey = std::move(*holder_key);
  params.iat = now;
  params.ttl_secs = lifetime;
  params.with_voucher = true;
  return mint_tct(std::move(params));
}

}  // namespace zelk
