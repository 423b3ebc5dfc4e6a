#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "crypto/area_error.hpp"
#include "manifest/manifest_error.hpp"
#include "tct/tct_error.hpp"

namespace zelk {

// The kinds of HandshakeError. Each shows a fixed text, some followed by what it carries.
enum class HandshakeErrorKind : std::uint8_t {
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

// The one error type of the handshake: OIDC token checks, identity proofs, peer identity checks
// and the handshake steps. Besides the shared layout it carries an issuer and the errors of the
// Manifest and TCT checks it wraps.
struct HandshakeError : AreaError<HandshakeError, HandshakeErrorKind, HandshakeErrorKind::State> {
  std::string issuer{};
  ManifestError manifest{};
  TctError tct{};

  std::string message() const;
  friend bool operator==(const HandshakeError&, const HandshakeError&) = default;

  [[nodiscard]] static HandshakeError invalid_envelope(std::string message) {
    return of(Kind::InvalidEnvelope, std::move(message));
  }
  [[nodiscard]] static HandshakeError identity(std::string message) {
    return of(Kind::IdentityVerification, std::move(message));
  }
  [[nodiscard]] static HandshakeError issuer_key_resolution(std::string issuer,
                                                            std::string reason) {
    return {{Kind::IssuerKeyResolution, std::move(reason)}, std::move(issuer)};
  }
  [[nodiscard]] static HandshakeError state(std::string message) {
    return of(Kind::State, std::move(message));
  }
  using AreaError::wrap;
  [[nodiscard]] static HandshakeError wrap(ManifestError error) {
    HandshakeError out = of(Kind::ManifestVerification);
    out.manifest = std::move(error);
    return out;
  }
  [[nodiscard]] static HandshakeError wrap(TctError error) {
    HandshakeError out = of(Kind::TctFailure);
    out.tct = std::move(error);
    return out;
  }
};

// The failed result of an identity check: IdentityVerification carrying `message`.
[[nodiscard]] inline std::unexpected<HandshakeError> identity_failure(std::string message) {
  return std::unexpected(HandshakeError::identity(std::move(message)));
}

}  // namespace zelk
