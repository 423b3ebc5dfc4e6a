#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "crypto/crypto_error.hpp"
#include "manifest/manifest_error.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// The one error type of the handshake: OIDC token checks, identity proofs, peer identity checks
// and the handshake steps. Each kind shows a fixed text, some followed by what it carries.
struct HandshakeError {
  enum class Kind : std::uint8_t {
    InvalidEnvelope,           // detail: the message
    IncompatibleTrustAnchors,  //
    ManifestVerification,      // manifest: the wrapped error
    IdentityVerification,      // detail: the message
    IssuerKeyResolution,       // issuer, detail: the reason
    NonceMismatch,             //
    PopSignature,              //
    InsufficientGrants,        //
    GrantsExceedOffer,         //
    TctFailure,                // tct: the wrapped error
    Crypto,                    // crypto: the wrapped error, shown by its own text alone
    State,                     // detail: the message
    Rng,                       // detail: the random source's error text
    PolicyDenied,              //
  };
  Kind kind = Kind::State;
  std::string detail{};
  std::string issuer{};
  ManifestError manifest{};
  TctError tct{};
  CryptoError crypto{};

  std::string message() const;
  friend bool operator==(const HandshakeError&, const HandshakeError&) = default;

  [[nodiscard]] static HandshakeError of(Kind kind, std::string detail = {}) {
    return {kind, std::move(detail)};
  }
  [[nodiscard]] static HandshakeError invalid_envelope(std::string message) {
    return of(Kind::InvalidEnvelope, std::move(message));
  }
  [[nodiscard]] static HandshakeError identity(std::string message) {
    return of(Kind::IdentityVerification, std::move(message));
  }
  [[nodiscard]] static HandshakeError issuer_key_resolution(std::string issuer,
                                                            std::string reason) {
    return {Kind::IssuerKeyResolution, std::move(reason), std::move(issuer)};
  }
  [[nodiscard]] static HandshakeError state(std::string message) {
    return of(Kind::State, std::move(message));
  }
  [[nodiscard]] static HandshakeError rng(std::string text) {
    return of(Kind::Rng, std::move(text));
  }
  [[nodiscard]] static HandshakeError wrap(ManifestError error) {
    HandshakeError out{Kind::ManifestVerification};
    out.manifest = std::move(error);
    return out;
  }
  [[nodiscard]] static HandshakeError wrap(TctError error) {
    HandshakeError out{Kind::TctFailure};
    out.tct = std::move(error);
    return out;
  }
  [[nodiscard]] static HandshakeError wrap(CryptoError error) {
    HandshakeError out{Kind::Crypto};
    out.crypto = std::move(error);
    return out;
  }
};

// The failed result of an identity check: IdentityVerification carrying `message`.
[[nodiscard]] inline std::unexpected<HandshakeError> identity_failure(std::string message) {
  return std::unexpected(HandshakeError::identity(std::move(message)));
}

}  // namespace zelk
