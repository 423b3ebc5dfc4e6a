#pragma once

// The four-message mutual handshake: the initiator's hello, the responder's answer, the commit and
// its acknowledgement. The steps work on records; reading and signing envelopes is the caller's.
// Of a received envelope they use the sender, the message id and the timestamp only.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/aid.hpp"
#include "core/envelope.hpp"
#include "crypto/keys.hpp"
#include "formats/uuid.hpp"
#include "handshake/context.hpp"
#include "handshake/handshake_error.hpp"
#include "handshake/identity_proof.hpp"
#include "handshake/payloads.hpp"
#include "manifest/manifest.hpp"
#include "tct/verify.hpp"

namespace zelk {

// A session as it is made: no handshake yet.
struct NoHandshake {};
// The handshake ended: either both tokens were exchanged or a check failed for good.
struct HandshakeComplete {};
struct HandshakeFailed {};

// Initiator: the hello went out to the intended peer.
struct HelloSent {
  std::string nonce;  // our pop_nonce
  Aid peer_aid;       // the aid of the responder Manifest the caller named
};

// Initiator: the responder checked out and our commit went out.
struct CommitSent {
  VerifyingKey peer_key;
  std::string nonce;
  Aid peer_aid;
  std::vector<std::string> peer_offered_capabilities;
  std::int64_t peer_manifest_expires_at = 0;
};

// Responder: the initiator checked out and our answer went out.
struct HelloProcessed {
  VerifyingKey peer_key;
  IdentityDescriptor peer_identity;
  std::string nonce;       // our pop_nonce
  std::string peer_nonce;  // the initiator's pop_nonce
  Aid peer_aid;
  std::vector<std::string> peer_requested_grants;
  std::vector<std::string> peer_offered_capabilities;
  std::int64_t peer_manifest_expires_at = 0;
};

using InitiatorState =
    std::variant<NoHandshake, HelloSent, CommitSent, HandshakeComplete, HandshakeFailed>;
using ResponderState =
    std::variant<NoHandshake, HelloProcessed, HandshakeComplete, HandshakeFailed>;

// A TCT the peer issued to us, verified, with the voucher text it came with.
struct ReceivedTct {
  VerifiedTct tct;
  std::optional<std::string> grant_voucher;
};

struct HelloAnswer {
  HelloProcessed state;  // the caller stores it, replacing its earlier state
  MutualHelloAckPayload payload;
};

struct CommitAnswer {
  MutualCommitAckPayload payload;
  ReceivedTct received;
};

// The initiator's first step. The message id and timestamp are those of the "mutual_hello"
// envelope the caller will sign. On success the state becomes HelloSent whatever it was; on a
// failure it is left as it was.
[[nodiscard]] std::expected<MutualHelloPayload, HandshakeError> begin_hello(
    InitiatorState& state, const LocalIdentity& identity, const Aid& responder_aid,
    const Uuid& message_id, std::int64_t timestamp, std::vector<std::string> requested_grants,
    const SigningKey& signing_key, const Manifest& own_manifest);

// The responder's step on a hello. It does not look at any earlier state; the message id and
// timestamp are those of the answer envelope the caller will sign.
[[nodiscard]] std::expected<HelloAnswer, HandshakeError> on_hello(
    const ZelkEnvelope& envelope, const MutualHelloPayload& payload, const LocalIdentity& identity,
    const Uuid& message_id, std::int64_t timestamp, std::vector<std::string> requested_grants,
    const HandshakeContext& context);

// Needs HelloSent. A sender, Manifest aid or nonce echo other than expected, or a peer identity
// that does not verify, fails the handshake; failing to issue or sign leaves HelloSent.
[[nodiscard]] std::expected<MutualCommitPayload, HandshakeError> on_hello_ack(
    InitiatorState& state, const ZelkEnvelope& envelope, const MutualHelloAckPayload& payload,
    const HandshakeContext& context);

// Needs HelloProcessed. A sender or nonce echo mismatch fails the handshake; every later failure
// leaves HelloProcessed, ready for a corrected commit.
[[nodiscard]] std::expected<CommitAnswer, HandshakeError> on_commit(
    ResponderState& state, const Aid& sender, const MutualCommitPayload& payload,
    const HandshakeContext& context);

// Needs CommitSent. A sender or nonce echo mismatch fails the handshake; a bad proof of possession
// or token leaves CommitSent.
[[nodiscard]] std::expected<ReceivedTct, HandshakeError> on_commit_ack(
    InitiatorState& state, const Aid& sender, const MutualCommitAckPayload& payload,
    const HandshakeContext& context);

}  // namespace zelk
