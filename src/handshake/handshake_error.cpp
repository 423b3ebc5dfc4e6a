#include "handshake/handshake_error.hpp"

namespace zelk {

std::string HandshakeError::message() const {
  switch (kind) {
    case Kind::InvalidEnvelope:
      return "invalid envelope: " + detail;
    case Kind::IncompatibleTrustAnchors:
      return "incompatible trust anchors";
    case Kind::ManifestVerification:
      return "manifest verification failed: " + manifest.message();
    case Kind::IdentityVerification:
      return "identity verification failed: " + detail;
    case Kind::IssuerKeyResolution:
      return "issuer key resolution failed for " + issuer + ": " + detail;
    case Kind::NonceMismatch:
      return "nonce mismatch";
    case Kind::PopSignature:
      return "pop signature verification failed";
    case Kind::InsufficientGrants:
      return "insufficient grants in peer-issued TCT";
    case Kind::GrantsExceedOffer:
      return "peer-issued TCT grants exceed the issuer's offered_capabilities";
    case Kind::TctFailure:
      return "TCT verification failed: " + tct.message();
    case Kind::State:
      return "handshake state error: " + detail;
    case Kind::PolicyDenied:
      return "policy denies handshake (empty grant intersection)";
    case Kind::Crypto:
    case Kind::Rng:
      return shared_message();
  }
  return {};
}

}  // namespace zelk
