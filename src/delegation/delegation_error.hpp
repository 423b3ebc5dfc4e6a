#pragma once

#include <cstdint>
#include <string>

#include "crypto/area_error.hpp"

namespace zelk {

// The kinds of DelegationError. The numbers are stable and part of the interface.
enum class DelegationErrorKind : std::uint8_t {
  AudienceMismatch = 0,
  ScopeExceedsGrant = 1,
  VoucherInvalid = 2,
  SourceRevoked = 3,
  SignatureInvalid = 4,
  Expired = 5,
  PopFailed = 6,
  CnfMalformed = 7,
  UnsupportedVersion = 8,
  ClaimsMalformed = 9,  // detail: the reason
  MultiHopUnsupported = 10,
  HopLimitExceeded = 11,
  ChainHashMismatch = 12,
  SelfDelegation = 13,
  EmptyScope = 14,
  MissingField = 15,      // detail: the input's name
  Canonicalization = 16,  // detail: the reason
  Crypto = 17,            // crypto: the wrapped error, shown by its own message
  UnknownField = 18,      // detail: the member name
};

// Why a delegation operation failed.
struct DelegationError : AreaError<DelegationError, DelegationErrorKind> {
  std::string message() const;
};

}  // namespace zelk
