#include "handshake/state_machine.hpp"

#include <utility>

#include "handshake/peer_identity.hpp"
#include "handshake/token_exchange.hpp"

namespace zelk {

namespace {

using Kind = HandshakeError::Kind;

[[nodiscard]] std::expected<VerifyingKey, HandshakeError> check_peer_identity(
    const HandshakeContext& context, const ZelkEnvelope& envelope, const Manifest& peer_manifest,
    const IdentityDescriptor& peer_identity, std::string_view peer_nonce) {
  const PeerIdentityContext peer_context{.own_manifest = context.own_manifest,
                                         .trust_anchors = context.trust_anchors,
                                         .resolver = context.resolver,
                                         .trust_store = context.trust_store,
                                         .now = context.now};
  return verify_peer_identity(envelope, peer_manifest, peer_identity, peer_nonce, peer_context);
}

// Ends the handshake for good: whatever the state held is released.
template <typename State>
[[nodiscard]] std::unexpected<HandshakeError> fail_handshake(State& state, HandshakeError error) {
  state = HandshakeFailed{};
  return std::unexpected(std::move(error));
}

// The checks a commit and its acknowledgement share, against what the receiving side kept of its
// peer: a sender or nonce echo mismatch ends the handshake; a bad proof of possession or token
// leaves the state as it is.
template <typename State, typename Kept>
[[nodiscard]] std::expected<PeerTctCheck, HandshakeError> check_received_commit(
    State& state, const Kept& kept, const Aid& sender, const MutualCommitPayload& payload,
    const HandshakeContext& context, std::string_view sender_mismatch) {
  if (sender != kept.peer_aid)
    return fail_handshake(state, HandshakeError::invalid_envelope(std::string(sender_mismatch)));
  if (payload.pop_nonce_echo != kept.nonce)
    return fail_handshake(state, HandshakeError::of(Kind::NonceMismatch));
  if (auto pop = verify_pop(kept.peer_key, kept.nonce, payload.pop_signature); !pop)
    return std::unexpected(std::move(pop.error()));
  return verify_peer_tct_and_voucher(payload.tct, payload.grant_voucher, context, kept.peer_aid,
                                     kept.peer_manifest_expires_at, kept.peer_offered_capabilities);
}

}  // namespace

std::expected<MutualHelloPayload, HandshakeError> begin_hello(
    InitiatorState& state, const LocalIdentity& identity, const Aid& responder_aid,
    const Uuid& message_id, std::int64_t timestamp, std::vector<std::string> requested_grants,
    const SigningKey& signing_key, const Manifest& own_manifest) {
  auto nonce = new_pop_nonce();
  if (!nonce) return std::unexpected(std::move(nonce.error()));
  const ProofBinding binding{.prover_aid = signing_key.aid(),
                             .verifier_aid = responder_aid,
                             .message_id = message_id,
                             .timestamp = timestamp,
                             .nonce = *nonce};
  auto descriptor = build_identity_proof(identity, binding, signing_key);
  if (!descriptor) return std::unexpected(std::move(descriptor.error()));

  MutualHelloPayload payload{.identity = std::move(*descriptor),
                             .manifest = own_manifest,
                             .requested_grants = std::move(requested_grants),
                             .pop_nonce = *nonce,
                             .extensions = std::nullopt};
  state = HelloSent{.nonce = std::move(*nonce), .peer_aid = responder_aid};
  return payload;
}

std::expected<HelloAnswer, HandshakeError> on_hello(const ZelkEnvelope& envelope,
                                                    const MutualHelloPayload& payload,
                                                    const LocalIdentity& identity,
                                                    const Uuid& message_id, std::int64_t timestamp,
                                                    std::vector<std::string> requested_grants,
                                                    const HandshakeContext& context) {
  auto peer_key =
      check_peer_identity(context, envelope, payload.manifest, payload.identity, payload.pop_nonce);
  if (!peer_key) return std::unexpected(std::move(peer_key.error()));
  auto nonce = new_pop_nonce();
  if (!nonce) return std::unexpected(std::move(nonce.error()));
  const ProofBinding binding{.prover_aid = context.signing_key.aid(),
                             .verifier_aid = payload.manifest.aid,
                             .message_id = message_id,
                             .timestamp = timestamp,
                             .nonce = *nonce};
  auto descriptor = build_identity_proof(identity, binding, context.signing_key);
  if (!descriptor) return std::unexpected(std::move(descriptor.error()));

  MutualHelloAckPayload answer{.identity = std::move(*descriptor),
                               .manifest = context.own_manifest,
                               .requested_grants = std::move(requested_grants),
                               .pop_nonce = *nonce,
                               .pop_nonce_echo = payload.pop_nonce,
                               .extensions = std::nullopt};
  HelloProcessed processed{.peer_key = std::move(*peer_key),
                           .peer_identity = payload.identity,
                           .nonce = std::move(*nonce),
                           .peer_nonce = payload.pop_nonce,
                           .peer_aid = payload.manifest.aid,
                           .peer_requested_grants = payload.requested_grants,
                           .peer_offered_capabilities = payload.manifest.offered_capabilities,
                           .peer_manifest_expires_at = payload.manifest.expires_at};
  return HelloAnswer{std::move(processed), std::move(answer)};
}

std::expected<MutualCommitPayload, HandshakeError> on_hello_ack(
    InitiatorState& state, const ZelkEnvelope& envelope, const MutualHelloAckPayload& payload,
    const HandshakeContext& context) {
  auto* sent = std::get_if<HelloSent>(&state);
  if (!sent) return std::unexpected(HandshakeError::state("on_hello_ack out of order"));
  if (envelope.sender.agent_id != sent->peer_aid)
    return fail_handshake(state, HandshakeError::invalid_envelope(
                                     "HELLO_ACK sender AID does not match the intended peer"));
  if (payload.manifest.aid != sent->peer_aid)
    return fail_handshake(state, HandshakeError::invalid_envelope(
                                     "HELLO_ACK manifest AID does not match the intended peer"));
  if (payload.pop_nonce_echo != sent->nonce)
    return fail_handshake(state, HandshakeError::of(Kind::NonceMismatch));
  auto peer_key =
      check_peer_identity(context, envelope, payload.manifest, payload.identity, payload.pop_nonce);
  if (!peer_key) return fail_handshake(state, std::move(peer_key.error()));

  // From here on a failure leaves HelloSent: a corrected answer may still come.
  auto minted = issue_peer_tct(context, payload.identity, payload.manifest.aid, *peer_key,
                               payload.requested_grants);
  if (!minted) return std::unexpected(std::move(minted.error()));
  auto pop = sign_pop(context.signing_key, payload.pop_nonce);
  if (!pop) return std::unexpected(std::move(pop.error()));

  std::string nonce = std::move(sent->nonce);
  state = CommitSent{.peer_key = std::move(*peer_key),
                     .nonce = std::move(nonce),
                     .peer_aid = payload.manifest.aid,
                     .peer_offered_capabilities = payload.manifest.offered_capabilities,
                     .peer_manifest_expires_at = payload.manifest.expires_at};
  return MutualCommitPayload{.tct = std::move(minted->tct),
                             .grant_voucher = std::move(minted->grant_voucher),
                             .pop_signature = std::move(*pop),
                             .pop_nonce_echo = payload.pop_nonce,
                             .extensions = std::nullopt};
}

std::expected<CommitAnswer, HandshakeError> on_commit(ResponderState& state, const Aid& sender,
                                                      const MutualCommitPayload& payload,
                                                      const HandshakeContext& context) {
  auto* processed = std::get_if<HelloProcessed>(&state);
  if (!processed) return std::unexpected(HandshakeError::state("on_commit out of order"));
  auto received =
      check_received_commit(state, *processed, sender, payload, context, "commit sender mismatch");
  if (!received) return std::unexpected(std::move(received.error()));
  // From here on a failure leaves HelloProcessed.
  auto minted = issue_peer_tct(context, processed->peer_identity, processed->peer_aid,
                               processed->peer_key, processed->peer_requested_grants);
  if (!minted) return std::unexpected(std::move(minted.error()));
  auto pop = sign_pop(context.signing_key, processed->peer_nonce);
  if (!pop) return std::unexpected(std::move(pop.error()));

  MutualCommitAckPayload ack;
  ack.tct = std::move(minted->tct);
  ack.grant_voucher = std::move(minted->grant_voucher);
  ack.pop_signature = std::move(*pop);
  ack.pop_nonce_echo = processed->peer_nonce;
  state = HandshakeComplete{};
  return CommitAnswer{std::move(ack), ReceivedTct{std::move(received->tct), payload.grant_voucher}};
}

std::expected<ReceivedTct, HandshakeError> on_commit_ack(InitiatorState& state, const Aid& sender,
                                                         const MutualCommitAckPayload& payload,
                                                         const HandshakeContext& context) {
  auto* sent = std::get_if<CommitSent>(&state);
  if (!sent) return std::unexpected(HandshakeError::state("on_commit_ack out of order"));
  auto received =
      check_received_commit(state, *sent, sender, payload, context, "commit_ack sender mismatch");
  if (!received) return std::unexpected(std::move(received.error()));
  state = HandshakeComplete{};
  return ReceivedTct{std::move(received->tct), payload.grant_voucher};
}

}  // namespace zelk
