#include "session_bundle/bundle_error.hpp"

namespace zelk {

std::string SessionBundleError::message() const {
  switch (kind) {
    case Kind::VersionMismatch:
      return "bundle version mismatch";
    case Kind::SignatureInvalid:
      return "bundle signature is invalid";
    case Kind::Expired:
      return "bundle has expired";
    case Kind::ExpiryMismatch:
      return "bundle expires_at does not equal min(participant TCT expiries)";
    case Kind::IssuerMismatch:
      return "participant TCT issuer does not match coordinator";
    case Kind::AudienceMismatch:
      return "participant TCT audience does not match entry AID";
    case Kind::NotAMember:
      return "verifier is not a member of this bundle";
    case Kind::EmptyParticipants:
      return "participants array is empty";
    case Kind::ParticipantTct:
      return "participant TCT verification failed: " + tct.message();
    case Kind::UnknownField:
      return "unknown field: " + detail;
    case Kind::Canonicalization:
    case Kind::Crypto:
      return shared_message();
  }
  return {};
}

}  // namespace zelk
