#include "manifest/manifest_error.hpp"

namespace zelk {

std::string ManifestError::message() const {
  switch (kind) {
    case Kind::Expired:
      return "manifest has expired";
    case Kind::SignatureInvalid:
      return "manifest signature is invalid";
    case Kind::PopFailed:
      return "manifest proof-of-possession failed";
    case Kind::AidMismatch:
      return "manifest aid does not match signing key";
    case Kind::IdentityTypeNotAccepted:
      return "manifest does not accept identity type `" + detail + "`";
    case Kind::VersionUnsupported:
      return "manifest version is not supported";
    case Kind::IdentityHintMalformed:
      return "identity_hint malformed: " + detail;
    case Kind::UnknownField:
      return "unknown field `" + detail + "`";
    case Kind::Malformed:
      return "malformed manifest: " + detail;
    case Kind::MissingField:
    case Kind::Canonicalization:
    case Kind::Crypto:
    case Kind::Rng:
      return shared_message();
  }
  return {};
}

}  // namespace zelk
