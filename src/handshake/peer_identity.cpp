#include "handshake/peer_identity.hpp"

#include <utility>

#include "handshake/oidc_verify.hpp"
#include "manifest/verify.hpp"

namespace zelk {
namespace {

[[nodiscard]] std::expected<void, HandshakeError> verify_pinned_peer(
    const ZelkEnvelope& envelope, const Manifest& peer_manifest,
    const IdentityDescriptor& descriptor, std::string_view peer_nonce,
    const PeerIdentityContext& context) {
  const ProofBinding binding{.prover_aid = peer_manifest.aid,
                             .verifier_aid = context.own_manifest.aid,
                             .message_id = envelope.message_id,
                             .timestamp = envelope.timestamp,
                             .nonce = peer_nonce};
  if (auto verified = verify_pinned_identity(descriptor, binding); !verified) return verified;
  if (context.trust_store != nullptr) {
    // The proof has just checked that the AID is an Ed25519 one.
    const Bytes key = *aid_ed25519_key_bytes(peer_manifest.aid);
    if (!context.trust_store->is_trusted(std::span<const std::uint8_t, 32>(key.data(), 32)))
      return identity_failure("pinned_key not in local trust store");
  }
  return {};
}

[[nodiscard]] std::expected<void, HandshakeError> verify_oidc_peer(
    const Manifest& peer_manifest, const IdentityDescriptor& descriptor,
    std::string_view peer_nonce, const PeerIdentityContext& context) {
  if (!descriptor.issuer) return identity_failure("oidc missing issuer");
  if (peer_manifest.identity_hint.issuer != descriptor.issuer)
    return identity_failure("issuer hint mismatch");
  const OidcVerifyContext oidc{.expected_audience = context.own_manifest.aid.text(),
                               .expected_nonce = peer_nonce,
                               .trust_anchors = context.trust_anchors,
                               .resolver = context.resolver,
                               .subject_aid = peer_manifest.aid,
                               .iat_tolerance_secs = kOidcIatToleranceSecs,
                               .now = context.now};
  return verify_oidc_identity(descriptor, oidc);
}

}  // namespace

std::expected<VerifyingKey, HandshakeError> verify_peer_identity(
    const ZelkEnvelope& envelope, const Manifest& peer_manifest,
    const IdentityDescriptor& descriptor, std::string_view peer_nonce,
    const PeerIdentityContext& context) {
  if (peer_manifest.aid != envelope.sender.agent_id)
    return std::unexpected(
        HandshakeError::invalid_envelope("manifest.aid does not match sender.agent_id"));
  if (auto valid = verify_manifest(peer_manifest, context.now); !valid)
    return std::unexpected(HandshakeError::wrap(std::move(valid.error())));
  const IdentityHint& hint = peer_manifest.identity_hint;
  if (descriptor.subject != hint.subject)
    return identity_failure("identity.subject != manifest.identity_hint.subject");
  if (descriptor.type != hint.type)
    return identity_failure("identity.type does not match manifest.identity_hint.type");

  auto proven = descriptor.type == IdentityType::PinnedKey
                    ? verify_pinned_peer(envelope, peer_manifest, descriptor, peer_nonce, context)
                    : verify_oidc_peer(peer_manifest, descriptor, peer_nonce, context);
  if (!proven) return std::unexpected(std::move(proven.error()));

  auto key = verifying_key_from_aid(peer_manifest.aid);
  if (!key) return std::unexpected(HandshakeError::wrap(std::move(key.error())));
  return std::move(*key);
}

}  // namespace zelk
