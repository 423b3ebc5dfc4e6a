#include "handshake/identity_proof.hpp"

#include <algorithm>
#include <charconv>
#include <utility>

#include "core/aid.hpp"
#include "crypto/detached.hpp"
#include "crypto/random.hpp"
#include "formats/base64url.hpp"

namespace zelk {
namespace {

constexpr std::string_view kPinnedKeyTag = "zelk-pinned-key-v1";

IdentityDescriptor oidc_descriptor(const url::Url& issuer, const std::string& subject,
                                   std::string token) {
  IdentityDescriptor out;
  out.type = IdentityType::Oidc;
  out.issuer = issuer.href();
  out.subject = subject;
  out.proof = std::move(token);
  return out;
}

[[nodiscard]] std::expected<IdentityDescriptor, HandshakeError> pinned_key_proof(
    const PinnedKeyIdentity& identity, const ProofBinding& binding, const SigningKey& key) {
  if (key.suite() != KeySuite::Ed25519)
    return identity_failure(
        "pinned_key identity requires an Ed25519 signing key (v0.1 wire format encodes a 32-byte "
        "raw public key); use OIDC identity for P-256 agents");
  auto input = pinned_key_signing_input(binding);
  if (!input) return std::unexpected(std::move(input.error()));
  IdentityDescriptor out;
  out.type = IdentityType::PinnedKey;
  out.subject = identity.subject;
  out.proof = sign_detached(key, *input);
  out.public_key = b64url_encode(key.public_key());
  return out;
}

}  // namespace

std::expected<std::string, HandshakeError> new_pop_nonce() {
  std::array<std::uint8_t, 16> bytes{};
  if (auto filled = random_bytes(bytes); !filled)
    return std::unexpected(HandshakeError::rng(filled.error().message()));
  return b64url_encode(bytes);
}

std::expected<Bytes, HandshakeError> pinned_key_signing_input(const ProofBinding& binding) {
  auto nonce = b64url_decode(binding.nonce);
  if (!nonce) return identity_failure("pop_nonce is not valid base64url");
  char timestamp[24];
  const auto [timestamp_end, ec] =
      std::to_chars(timestamp, timestamp + sizeof timestamp, binding.timestamp);
  const std::string message_id = binding.message_id.to_string();

  Bytes out;
  out.reserve(kPinnedKeyTag.size() + binding.prover_aid.text().size() +
              binding.verifier_aid.text().size() + message_id.size() +
              static_cast<std::size_t>(timestamp_end - timestamp) + nonce->size() + 5);
  auto item = [&out](std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
  };
  item(kPinnedKeyTag);
  item(binding.prover_aid.text());
  item(binding.verifier_aid.text());
  item(message_id);
  item(std::string_view(timestamp, timestamp_end));
  out.insert(out.end(), nonce->begin(), nonce->end());
  return out;
}

std::expected<IdentityDescriptor, HandshakeError> build_identity_proof(
    const LocalIdentity& identity, const ProofBinding& binding, const SigningKey& key) {
  if (const auto* pinned = std::get_if<PinnedKeyIdentity>(&identity))
    return pinned_key_proof(*pinned, binding, key);
  if (const auto* fixed = std::get_if<OidcIdentity>(&identity))
    return oidc_descriptor(fixed->issuer, fixed->subject, fixed->token);
  const auto& minted = std::get<OidcMintedIdentity>(identity);
  auto token = minted.minter(binding.nonce);
  if (!token) return identity_failure("oidc mint_jwt callback failed: " + token.error());
  return oidc_descriptor(minted.issuer, minted.subject, std::move(*token));
}

std::expected<void, HandshakeError> verify_pinned_identity(const IdentityDescriptor& descriptor,
                                                           const ProofBinding& binding) {
  const std::optional<Bytes> aid_key = aid_ed25519_key_bytes(binding.prover_aid);
  if (!aid_key) return identity_failure("pinned_key requires an Ed25519 sender AID");
  if (!descriptor.public_key) return identity_failure("pinned_key missing public_key");
  auto public_key = b64url_decode(*descriptor.public_key);
  if (!public_key) return identity_failure("public_key malformed base64url");
  if (public_key->size() != 32) return identity_failure("public_key must decode to 32 bytes");
  if (*public_key != *aid_key) return identity_failure("public_key does not match sender AID");
  // The bytes are the AID's own, so the key remembered for the AID is this key.
  auto key = verifying_key_from_aid(binding.prover_aid);
  if (!key) return identity_failure("public_key not Ed25519");
  auto input = pinned_key_signing_input(binding);
  if (!input) return std::unexpected(std::move(input.error()));
  if (auto verified = verify_detached(*key, *input, descriptor.proof); !verified)
    return identity_failure(verified.error().kind == CryptoError::Kind::SignatureParse
                                ? "proof malformed"
                                : "pinned_key signature invalid");
  return {};
}

}  // namespace zelk
