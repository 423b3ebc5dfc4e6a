#include "crypto/crypto_error.hpp"

namespace zelk {

std::string CryptoError::message() const {
  switch (kind) {
    case Kind::Verification:
      return "signature verification failed";
    case Kind::SignatureParse:
      return "signature parsing failed: " + detail;
    case Kind::PublicKey:
      return "public key parsing failed: " + detail;
    case Kind::AidKey:
      return "AID does not yield a valid Ed25519 public key: " + detail;
    case Kind::AlgMismatch:
      return "JWS alg header does not match the signer AID's algorithm: " + detail;
    case Kind::TypMismatch:
      return "JWS typ header mismatch: expected " + detail + ", got " + got;
    case Kind::Malformed:
      return "compact JWS malformed: " + detail;
  }
  return {};
}

}  // namespace zelk
