#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>

#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "handshake/handshake_error.hpp"
#include "handshake/identity_proof.hpp"
#include "handshake/jwks.hpp"
#include "handshake/payloads.hpp"
#include "manifest/manifest.hpp"

namespace zelk {

// The verifying side of a hello; borrowed for the call.
struct PeerIdentityContext {
  const Manifest& own_manifest;
  std::span<const std::string> trust_anchors;
  const JwksResolver& resolver;
  const TrustStore* trust_store = nullptr;  // no store: the trust-store check is skipped
  std::int64_t now = 0;
};

// The whole check of a peer's identity in a received hello, in order: the payload's Manifest aid
// equals the envelope sender, the Manifest verifies at now, the descriptor's subject and type
// match the Manifest's identity hint, then the pinned-key proof (bound to the envelope's
// message_id and timestamp and the peer's nonce, and optionally the trust store) or the OIDC token.
// Of the envelope only sender, message_id and timestamp are read. Returns the peer's key.
[[nodiscard]] std::expected<VerifyingKey, HandshakeError> verify_peer_identity(
    const ZelkEnvelope& envelope, const Manifest& peer_manifest,
    const IdentityDescriptor& descriptor, std::string_view peer_nonce,
    const PeerIdentityContext& context);

}  // namespace zelk
