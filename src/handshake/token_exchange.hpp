#pragma once

// The token work of the handshake steps: issuing the peer's TCT and grant voucher, checking the
// ones the peer issued, and signing and checking proofs of possession over nonces. Nothing here
// changes a handshake state.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "handshake/context.hpp"
#include "handshake/handshake_error.hpp"
#include "tct/mint.hpp"
#include "tct/verify.hpp"

namespace zelk {

// A TCT never lives longer than this, whatever the own Manifest allows.
inline constexpr std::int64_t kHandshakeTctMaxLifetimeSecs = 3600;

// The requested grants that the own Manifest offers (through the grant policy when there is
// one), minted for the peer's key with a voucher, valid from now until the earlier of the own
// Manifest's expiry and an hour from now.
[[nodiscard]] std::expected<MintedTct, HandshakeError> issue_peer_tct(
    const HandshakeContext& context, const IdentityDescriptor& peer_identity, const Aid& peer_aid,
    const VerifyingKey& peer_key, const std::vector<std::string>& requested_grants);

struct PeerTctCheck {
  VerifiedTct tct;
  // Present only when the status check restricted the TCT's grants.
  std::optional<std::vector<std::string>> effective_grants;
};

// The TCT the peer issued to us (signed by the peer, addressed to the own Manifest's aid, within
// the peer Manifest's lifetime), its voucher mirroring it, its grants within the peer's offer,
// the status check, and the own required peer capabilities against the effective grants.
[[nodiscard]] std::expected<PeerTctCheck, HandshakeError> verify_peer_tct_and_voucher(
    std::string_view tct, const std::optional<std::string>& voucher,
    const HandshakeContext& context, const Aid& peer_aid, std::int64_t peer_manifest_expires_at,
    const std::vector<std::string>& peer_offered_capabilities);

// Detached signature over the SHA-256 of the peer's decoded nonce.
[[nodiscard]] std::expected<std::string, HandshakeError> sign_pop(const SigningKey& key,
                                                                  std::string_view peer_nonce);

// Any failure (nonce, signature text or signature) is PopSignature.
[[nodiscard]] std::expected<void, HandshakeError> verify_pop(const VerifyingKey& peer_key,
                                                             std::string_view own_nonce,
                                                             std::string_view pop_signature);

}  // namespace zelk
