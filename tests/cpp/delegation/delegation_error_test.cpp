#include "delegation/delegation_error.hpp"

#include <gtest/gtest.h>

namespace zelk {
namespace {

using Kind = DelegationError::Kind;

TEST(DelegationError, EveryKindShowsItsFixedMessageUnderItsNumber) {
  const struct {
    DelegationError error;
    int number;
    const char* message;
  } cases[] = {
      {DelegationError::of(Kind::AudienceMismatch), 0, "delegation audience mismatch"},
      {DelegationError::of(Kind::ScopeExceedsGrant), 1,
       "delegation scope exceeds grant proof capabilities"},
      {DelegationError::of(Kind::VoucherInvalid), 2, "delegation voucher is invalid"},
      {DelegationError::of(Kind::SourceRevoked), 3, "source TCT has been revoked"},
      {DelegationError::of(Kind::SignatureInvalid), 4, "delegation signature is invalid"},
      {DelegationError::of(Kind::Expired), 5, "delegation token or grant proof has expired"},
      {DelegationError::of(Kind::PopFailed), 6, "delegation PoP verification failed"},
      {DelegationError::of(Kind::CnfMalformed), 7, "delegation cnf is malformed"},
      {DelegationError::of(Kind::UnsupportedVersion), 8,
       "delegation token version is not supported"},
      {DelegationError::claims_malformed("jti claim requires multi-hop opt-in"), 9,
       "delegation claims malformed: jti claim requires multi-hop opt-in"},
      {DelegationError::of(Kind::MultiHopUnsupported), 10, "multi-hop delegation is not supported"},
      {DelegationError::of(Kind::HopLimitExceeded), 11, "delegation hop limit exceeded"},
      {DelegationError::of(Kind::ChainHashMismatch), 12, "delegation chain_hash mismatch"},
      {DelegationError::of(Kind::SelfDelegation), 13, "self-delegation is forbidden"},
      {DelegationError::of(Kind::EmptyScope), 14, "delegation scope must be non-empty"},
      {DelegationError::missing_field("delegatee"), 15, "missing required field: delegatee"},
      {DelegationError::canonicalization("serialization failed: invalid float value"), 16,
       "canonicalization failed: serialization failed: invalid float value"},
      {DelegationError::wrap(CryptoError::verification()), 17, "signature verification failed"},
      {DelegationError::unknown_field("nbf"), 18, "unknown field: nbf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.error.message(), c.message);
    EXPECT_EQ(static_cast<int>(c.error.kind), c.number) << c.message;
  }
}

TEST(DelegationError, WrappedCryptoErrorShowsItsOwnMessageWithoutPrefix) {
  EXPECT_EQ(DelegationError::wrap(CryptoError::typ_mismatch("zelk-delegation+jwt", "zelk-tct+jwt"))
                .message(),
            "JWS typ header mismatch: expected zelk-delegation+jwt, got zelk-tct+jwt");
}

}  // namespace
}  // namespace zelk
