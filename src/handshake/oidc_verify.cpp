#include "handshake/oidc_verify.hpp"

#include <algorithm>
#include <utility>

#include "crypto/compact_split.hpp"
#include "crypto/jwk.hpp"
#include "crypto/keys.hpp"
#include "formats/base64url.hpp"
#include "formats/url/url.hpp"
#include "handshake/oidc_claims.hpp"

namespace zelk {
namespace {

// The segments of a compact JWT; an empty one is left to the decoding of its turn.
[[nodiscard]] std::expected<JwsSegments, HandshakeError> split_jwt(std::string_view token) {
  auto segments = split_compact_token(token, EmptySegments::Allowed);
  // With empty segments allowed, only the count can be wrong.
  if (!segments)
    return identity_failure("malformed JWT: expected 3 dot-separated segments, got " +
                            std::to_string(segments.error().segments));
  return *segments;
}

// |now - iat| > tolerance, computed without overflow.
[[nodiscard]] bool iat_outside_tolerance(std::int64_t now, std::int64_t iat,
                                         std::int64_t tolerance) {
  __int128 difference = static_cast<__int128>(now) - static_cast<__int128>(iat);
  if (difference < 0) difference = -difference;
  return difference > static_cast<__int128>(tolerance);
}

// The claims, in their fixed order, once the signature has been accepted.
[[nodiscard]] std::expected<void, HandshakeError> check_claims(const OidcClaims& claims,
                                                               const IdentityDescriptor& descriptor,
                                                               const OidcVerifyContext& context) {
  if (claims.iss != *descriptor.issuer) return identity_failure("iss mismatch");
  if (!aud_contains(claims.aud, context.expected_audience)) return identity_failure("aud mismatch");
  if (claims.sub != descriptor.subject) return identity_failure("sub mismatch");
  if (claims.exp <= context.now) return identity_failure("jwt exp in the past");
  if (iat_outside_tolerance(context.now, claims.iat, context.iat_tolerance_secs))
    return identity_failure("iat outside tolerance");
  if (!claims.nonce) return identity_failure("missing nonce claim");
  if (*claims.nonce != context.expected_nonce) return identity_failure("nonce mismatch");
  if (!claims.cnf) return identity_failure("missing cnf claim");
  // The subject's key comes from a parsed AID, so only reading the key can fail here.
  auto jkt = aid_thumbprint(context.subject_aid);
  if (!jkt) return identity_failure("subject AID parse failed: " + jkt.error().message());
  if (claims.cnf->jkt != *jkt) return identity_failure("cnf.jkt mismatch");
  return {};
}

}  // namespace

std::expected<void, HandshakeError> verify_oidc_identity(const IdentityDescriptor& descriptor,
                                                         const OidcVerifyContext& context) {
  if (descriptor.public_key) return identity_failure("oidc descriptor must not carry public_key");
  if (!descriptor.issuer) return identity_failure("oidc descriptor missing issuer");
  const std::string& issuer = *descriptor.issuer;
  if (std::ranges::find(context.trust_anchors, issuer) == context.trust_anchors.end())
    return std::unexpected(HandshakeError::of(HandshakeError::Kind::IncompatibleTrustAnchors));

  auto segments = split_jwt(descriptor.proof);
  if (!segments) return std::unexpected(std::move(segments.error()));
  const auto [header_b64, payload_b64, signature_b64] = *segments;

  auto header_bytes = b64url_decode(header_b64);
  if (!header_bytes)
    return identity_failure("malformed JWT header b64: " +
                            std::string(header_bytes.error().message()));
  auto header = decode_jwt_header(as_text(*header_bytes));
  if (!header) return identity_failure("malformed JWT header json: " + header.error().full());

  auto issuer_url = url::parse_url(issuer);
  if (!issuer_url)
    return identity_failure("issuer not a URL: " + std::string(issuer_url.error().message()));
  auto keys = context.resolver.resolve(*issuer_url);
  if (!keys) return std::unexpected(map_resolver_error(issuer, keys.error()));
  if (keys->empty())
    return std::unexpected(
        HandshakeError::issuer_key_resolution(issuer, "issuer resolved zero candidate keys"));
  const Jwk* key = select_jwk(*keys, header->kid);
  if (key == nullptr) return identity_failure("no matching JWK");

  auto signature = b64url_decode(signature_b64);
  if (!signature)
    return identity_failure("malformed JWT signature b64: " +
                            std::string(signature.error().message()));
  // The signing input is the first two segments exactly as received.
  const std::string_view signing_input =
      std::string_view(descriptor.proof).substr(0, header_b64.size() + 1 + payload_b64.size());
  if (auto verified = verify_jws_with_jwk(*key, header->alg, as_bytes(signing_input), *signature);
      !verified)
    return identity_failure("jwt signature invalid: " + verified.error().message());

  auto payload = b64url_decode(payload_b64);
  if (!payload)
    return identity_failure("malformed JWT payload b64: " + std::string(payload.error().message()));
  auto claims = decode_oidc_claims(as_text(*payload));
  if (!claims) return identity_failure("malformed JWT claims: " + claims.error().full());
  return check_claims(*claims, descriptor, context);
}

}  // namespace zelk
