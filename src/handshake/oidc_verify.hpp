#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "core/aid.hpp"
#include "handshake/handshake_error.hpp"
#include "handshake/jwks.hpp"
#include "handshake/payloads.hpp"

namespace zelk {

// The tolerance on an OIDC token's issue time, either side of now.
inline constexpr std::int64_t kOidcIatToleranceSecs = 300;

// What the verifier supplies besides the descriptor; borrowed for the call.
struct OidcVerifyContext {
  std::string_view expected_audience;          // the verifier's own AID text
  std::string_view expected_nonce;             // the pop_nonce of the payload, as received
  std::span<const std::string> trust_anchors;  // issuer texts, compared byte for byte
  const JwksResolver& resolver;
  const Aid& subject_aid;  // the peer's AID; the token's cnf must name its key's thumbprint
  std::int64_t iat_tolerance_secs = kOidcIatToleranceSecs;
  std::int64_t now = 0;
};

// Checks an "oidc" descriptor and its token, in a fixed order: descriptor shape, issuer among the
// trust anchors (before the token is read), token shape, header, issuer URL, one resolve, key
// selection, signature (before the payload is decoded), then the claims iss, aud, sub, exp
// (exp == now fails), iat, nonce and cnf. Only the selected key is tried.
[[nodiscard]] std::expected<void, HandshakeError> verify_oidc_identity(
    const IdentityDescriptor& descriptor, const OidcVerifyContext& context);

}  // namespace zelk
