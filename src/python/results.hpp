#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "python/runtime/object.hpp"

namespace zelk::py {

// The identity a verified TCT establishes. Immutable once made.
struct TctIdentity {
  std::string peer_aid;  // the issuer, which the token also binds
  std::vector<std::string> grants;
  std::int64_t expires_at = 0;
  std::string jti;  // lowercase hyphenated UUID
};

// The salient fields of a verified delegation token. Immutable once made.
struct DelegationVerified {
  std::string delegator;  // the first issuer of the chain, already checked to be the verifier
  std::string delegatee;  // the outer token's sub
  std::string issued_by;  // the outer token's iss
  std::vector<std::string> grants;
  std::int64_t expires_at = 0;
  std::string cnf;  // the delegatee's cnf.jkt
};

using TctIdentityCell = Cell<TctIdentity, NoBorrowFlag>;
using DelegationVerifiedCell = Cell<DelegationVerified, NoBorrowFlag>;

PyClass& tct_identity_class();
PyClass& delegation_verified_class();

[[nodiscard]] Result<OwnedRef> wrap_tct_identity(TctIdentity value);
[[nodiscard]] Result<OwnedRef> wrap_delegation_verified(DelegationVerified value);

// Converter for an argument that must be a DelegationVerified; its value lives as long as the
// argument does.
[[nodiscard]] Result<const DelegationVerified*> to_delegation_verified(BorrowedRef obj);

}  // namespace zelk::py
