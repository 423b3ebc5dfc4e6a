#pragma once

// A party's own identity proof in a hello, and the check of a peer's pinned-key proof.

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "core/aid.hpp"
#include "crypto/keys.hpp"
#include "formats/bytes.hpp"
#include "formats/url/url.hpp"
#include "formats/uuid.hpp"
#include "handshake/handshake_error.hpp"
#include "handshake/payloads.hpp"

namespace zelk {

// What an identity proof is bound to; borrowed for the call.
struct ProofBinding {
  const Aid& prover_aid;
  const Aid& verifier_aid;
  Uuid message_id{};       // of the envelope that carries the proof
  std::int64_t timestamp;  // of that envelope
  std::string_view nonce;  // the prover's own pop_nonce text, not decoded
};

// Mints a fresh OIDC token for a nonce: the token text, or a failure text. Called synchronously,
// at most once per proof. A broken invariant inside it may be thrown as an exception; the proof
// builder holds nothing that would leak and lets it pass to the caller.
using OidcMinter = std::function<std::expected<std::string, std::string>(std::string_view nonce)>;

// Optional local store of trusted pinned keys.
class TrustStore {
 public:
  virtual ~TrustStore() = default;
  [[nodiscard]] virtual bool is_trusted(std::span<const std::uint8_t, 32> ed25519_key) const = 0;
};

// How an agent proves its own identity.
struct PinnedKeyIdentity {
  std::string subject;
};
// A token obtained in advance, presented unchanged.
struct OidcIdentity {
  url::Url issuer;
  std::string subject;
  std::string token;
};
// A token minted for each proof's nonce.
struct OidcMintedIdentity {
  url::Url issuer;
  std::string subject;
  OidcMinter minter;
};
using LocalIdentity = std::variant<PinnedKeyIdentity, OidcIdentity, OidcMintedIdentity>;

// 22 base64url characters encoding 16 bytes of the operating system's random source; Rng when the
// source fails.
[[nodiscard]] std::expected<std::string, HandshakeError> new_pop_nonce();

// "zelk-pinned-key-v1" NUL prover NUL verifier NUL message-id NUL timestamp NUL nonce-bytes.
// IdentityVerification "pop_nonce is not valid base64url" when the nonce does not decode.
[[nodiscard]] std::expected<Bytes, HandshakeError> pinned_key_signing_input(
    const ProofBinding& binding);

// The descriptor this party presents. Pinned key: an Ed25519 signature over the digest of the
// signing input, with the public key; OIDC: the issuer's serialised URL and the token (minted for
// the binding's nonce when the identity holds a minter). The OIDC forms do not use the key.
[[nodiscard]] std::expected<IdentityDescriptor, HandshakeError> build_identity_proof(
    const LocalIdentity& identity, const ProofBinding& binding, const SigningKey& key);

// The peer's pinned-key proof: its public key must be the 32 bytes of the prover AID and a valid
// Ed25519 key, and the proof must verify over the binding.
[[nodiscard]] std::expected<void, HandshakeError> verify_pinned_identity(
    const IdentityDescriptor& descriptor, const ProofBinding& binding);

}  // namespace zelk
