#include "delegation/delegation_error.hpp"

namespace zelk {

std::string DelegationError::message() const {
  switch (kind) {
    case Kind::AudienceMismatch:
      return "delegation audience mismatch";
    case Kind::ScopeExceedsGrant:
      return "delegation scope exceeds grant proof capabilities";
    case Kind::VoucherInvalid:
      return "delegation voucher is invalid";
    case Kind::SourceRevoked:
      return "source TCT has been revoked";
    case Kind::SignatureInvalid:
      return "delegation signature is invalid";
    case Kind::Expired:
      return "delegation token or grant proof has expired";
    case Kind::PopFailed:
      return "delegation PoP verification failed";
    case Kind::CnfMalformed:
      return "delegation cnf is malformed";
    case Kind::UnsupportedVersion:
      return "delegation token version is not supported";
    case Kind::ClaimsMalformed:
      return "delegation claims malformed: " + detail;
    case Kind::MultiHopUnsupported:
      return "multi-hop delegation is not supported";
    case Kind::HopLimitExceeded:
      return "delegation hop limit exceeded";
    case Kind::ChainHashMismatch:
      return "delegation chain_hash mismatch";
    case Kind::SelfDelegation:
      return "self-delegation is forbidden";
    case Kind::EmptyScope:
      return "delegation scope must be non-empty";
    case Kind::UnknownField:
      return "unknown field: " + detail;
    case Kind::MissingField:
    case Kind::Canonicalization:
    case Kind::Crypto:
      return shared_message();
  }
  return {};
}

}  // namespace zelk
