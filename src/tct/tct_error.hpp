#pragma once

#include <cstdint>
#include <string>

#include "crypto/area_error.hpp"

namespace zelk {

// The kinds of TctError. The numbers are stable: the Python layer maps them to the failure codes
// of revocation-list verification.
enum class TctErrorKind : std::uint8_t {
  UnsupportedVersion = 0,
  SignatureInvalid = 1,
  IssuerMismatch = 2,
  AudienceMismatch = 3,
  OutsideValidity = 4,
  ExceedsManifest = 5,
  JtiRevoked = 6,
  EmptyGrants = 7,
  WhitespaceInGrant = 8,  // detail: the offending grant
  CnfMismatch = 9,
  ClaimsMalformed = 10,   // detail: the reason
  UnknownField = 11,      // detail: the member name
  MissingField = 12,      // detail: the parameter name
  Canonicalization = 13,  // detail: the reason
  PopNonceEchoMismatch = 14,
  PopSignatureFailed = 15,
  PopChallengeExpired = 16,
  PopResponseJtiMismatch = 17,
  Crypto = 18,  // crypto: the wrapped error, shown by its own message
};

// Why a TCT or grant voucher operation failed.
struct TctError : AreaError<TctError, TctErrorKind> {
  std::string message() const;

  [[nodiscard]] static TctError whitespace_in_grant(std::string grant) {
    return of(Kind::WhitespaceInGrant, std::move(grant));
  }
};

}  // namespace zelk
