#include "tct/tct_error.hpp"

namespace zelk {

std::string TctError::message() const {
  switch (kind) {
    case Kind::UnsupportedVersion:
      return "TCT version is not supported";
    case Kind::SignatureInvalid:
      return "TCT signature is invalid";
    case Kind::IssuerMismatch:
      return "TCT issuer does not match the verifying key";
    case Kind::AudienceMismatch:
      return "TCT audience does not match";
    case Kind::OutsideValidity:
      return "TCT has expired or is not yet valid";
    case Kind::ExceedsManifest:
      return "TCT expires_at exceeds issuer Manifest expires_at";
    case Kind::JtiRevoked:
      return "TCT jti is revoked";
    case Kind::EmptyGrants:
      return "TCT grants must be non-empty";
    case Kind::WhitespaceInGrant:
      return "TCT grant must not contain whitespace: `" + detail + "`";
    case Kind::CnfMismatch:
      return "TCT cnf.jkt does not match the subject key";
    case Kind::ClaimsMalformed:
      return "claims malformed: " + detail;
    case Kind::UnknownField:
      return "unknown field: " + detail;
    case Kind::PopNonceEchoMismatch:
      return "PoP nonce echo mismatch";
    case Kind::PopSignatureFailed:
      return "PoP signature failed";
    case Kind::PopChallengeExpired:
      return "PoP challenge expired";
    case Kind::PopResponseJtiMismatch:
      return "PoP response jti mismatch";
    case Kind::MissingField:
    case Kind::Canonicalization:
    case Kind::Crypto:
      return shared_message();
  }
  return {};
}

}  // namespace zelk
